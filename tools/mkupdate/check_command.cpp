#include "tools/mkupdate/check_command.h"

#include <filesystem>

#include "payload/entry_checksum.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/apply_command.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/folder_files.h"
#include "tools/mkupdate/json.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/scratch_folder.h"
#include "tools/mkupdate/update_reader.h"
#include "uninstall/uninstall_list.h"

namespace fs = std::filesystem;

namespace {

// A file of the new release that the updated copy does not hold as it is.
struct Difference {
  std::string name;   // shown: the path in the release, '/' between parts
  std::string state;  // "missing", "differs", "unlisted", "unreadable"
};

struct ReleaseOutcome {
  std::string dir;
  uint32_t result = 0;  // the last run's ResultCode
  std::string failure;  // what failed in that run, when it tells
  std::string untried;  // why the release could not be tried at all
  size_t matching = 0;
  std::vector<Difference> differences;
  bool ok() const {
    return untried.empty() && result == 0 && differences.empty();
  }
  // Something kept it from the new release for certain: not a file that
  // could not be read, nor a run that this machine could not give room.
  bool differs() const {
    if (!untried.empty()) return false;
    if (result != 0) return true;
    for (const Difference& d : differences) {
      if (d.state != "unreadable") return true;
    }
    return false;
  }
};

// The names of every update's entries, as stored.
bool ReadEntryNames(const std::vector<std::string>& updates,
                    std::vector<std::string>* names) {
  for (const std::string& update : updates) {
    OpenedUpdate opened;
    if (!OpenUpdate(update, &opened)) return false;
    for (uint32_t i = 0; i < opened.payload.count; i++) {
      names->push_back(opened.payload.entries[i].name);
    }
  }
  return true;
}

// The old release as the player has it, links resolved into files, in
// the folder copy, which this makes. A failure to read the release is the
// release's; one to write the copy is the temporary folder's, and named so.
bool CopyRelease(const std::string& dir, const std::string& temp,
                 const std::string& copy, std::string* why) {
  FolderListing listing;
  if (!ListFolder(dir, nullptr, {}, &listing)) {
    *why = dir + ": cannot be listed";
    return false;
  }
  std::error_code ec;
  std::string write_failure;
  if (!fs::create_directory(fs::u8path(copy), ec)) {
    write_failure = "cannot make a folder in it: " + ec.message();
  }
  fs::path top = fs::u8path(dir);
  fs::recursive_directory_iterator it(
      top, fs::directory_options::follow_directory_symlink, ec);
  for (fs::recursive_directory_iterator end;
       write_failure.empty() && !ec && it != end; it.increment(ec)) {
    fs::path to = fs::u8path(copy) / it->path().lexically_relative(top);
    std::error_code type_ec;
    if (it->is_directory(type_ec)) {
      if (!fs::create_directory(to, type_ec)) {
        write_failure = "cannot make a folder in it: " + type_ec.message();
      }
    } else if (it->is_regular_file(type_ec)) {
      std::string reason;
      bool writing;
      if (CopyFileTo(it->path().u8string(), to.u8string(), &reason, &writing)) {
        continue;
      }
      if (!writing) {
        *why = it->path().u8string() + ": " + reason;
        return false;
      }
      write_failure = reason;
    }
  }
  if (!write_failure.empty()) {
    *why = temp + ": the temporary folder: cannot copy " + dir +
           " into it: " + write_failure;
    return false;
  }
  if (ec) *why = dir + ": cannot read the folder: " + ec.message();
  return !ec;
}

// The names the uninstall list in folder holds, as stored.
std::vector<std::string> UninstallNames(const std::string& folder) {
  std::string bytes, why;
  std::vector<std::string> names;
  ReadWholeFile((fs::u8path(folder) / kUninstallListName).u8string(), &bytes,
                &why);
  std::string name;
  for (char c : bytes) {
    if (c == '\0') break;
    if (c == '\n') {
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else if (c != '\r') {
      name += c;
    }
  }
  return names;
}

// Compares the updated copy with the new release, file by file.
void CompareWithNew(const std::string& copy, const std::string& new_dir,
                    const FolderListing& new_files, ReleaseOutcome* outcome) {
  for (const FolderFile& f : new_files.files) {
    std::string relative = fs::u8path(f.path)
                               .lexically_relative(fs::u8path(new_dir))
                               .generic_u8string();
    std::string installed =
        (fs::u8path(copy) / fs::u8path(relative)).u8string();
    std::error_code ec;
    uint64_t size = fs::file_size(fs::u8path(installed), ec);
    bool same = false;
    EntryChecksum sum;
    std::string why;
    if (ec || !fs::is_regular_file(fs::u8path(installed), ec)) {
      outcome->differences.push_back({relative, "missing"});
    } else if (size != f.size) {
      outcome->differences.push_back({relative, "differs"});
    } else if (!CompareFiles(f.path, installed, &same, &sum, &why)) {
      outcome->differences.push_back({relative, "unreadable"});
    } else if (!same) {
      outcome->differences.push_back({relative, "differs"});
    } else {
      outcome->matching++;
    }
  }
}

// Every entry the runs installed must be named in the uninstall list, so
// that the game's uninstaller removes it.
void CheckUninstallList(const std::string& copy,
                        const std::vector<std::string>& entries,
                        ReleaseOutcome* outcome) {
  std::vector<std::string> listed = UninstallNames(copy);
  for (size_t i = 0; i < entries.size(); i++) {
    bool found = false;
    for (const std::string& name : listed) {
      found |= SameUpdaterName(name, entries[i]);
    }
    // An entry of two updates (the list) is named once.
    for (size_t j = 0; j < i; j++) {
      found |= SameUpdaterName(entries[j], entries[i]);
    }
    if (!found) {
      std::string shown = ShownName(entries[i]);
      for (char& c : shown) c = c == '\\' ? '/' : c;
      outcome->differences.push_back({shown, "unlisted"});
    }
  }
}

// Installs the updates into the copy, one after the other; the first that
// fails ends it. A failure that is the machine's, not the updates', leaves
// the release untried.
void ApplyAll(const CheckOptions& o, const std::string& temp,
              const std::string& copy, ReleaseOutcome* outcome) {
  for (const std::string& update : o.updates) {
    ApplyOutcome applied;
    if (!ApplyUpdate(update, copy, &applied)) {
      outcome->untried = temp +
                         ": the temporary folder: the updater's run cannot be "
                         "given its path (code page 932, no backslash); set "
                         "TMPDIR to a folder it can";
      return;
    }
    outcome->result = applied.result;
    outcome->failure = applied.failure;
    if (applied.machine) {
      outcome->untried =
          temp + ": the temporary folder: the updater's run failed there: " +
          applied.failure;
    }
    if (applied.result != 0) return;
  }
}

// One old release: copied, updated and compared.
void TryRelease(const CheckOptions& o, const std::string& temp,
                const std::string& scratch, size_t n,
                const std::vector<std::string>& entries,
                const FolderListing& new_files, ReleaseOutcome* outcome) {
  std::string copy = (fs::u8path(scratch) / std::to_string(n + 1)).u8string();
  if (CopyRelease(o.from[n], temp, copy, &outcome->untried)) {
    ApplyAll(o, temp, copy, outcome);
  }
  if (outcome->untried.empty()) {
    CompareWithNew(copy, o.to, new_files, outcome);
    if (outcome->result == 0) CheckUninstallList(copy, entries, outcome);
  }
  std::error_code ec;
  fs::remove_all(fs::u8path(copy), ec);
}

const char* StateText(const std::string& state) {
  if (state == "unlisted") return "not in uninst.lst";
  return state.c_str();
}

std::string Updates(const CheckOptions& o) {
  return o.updates.size() == 1 ? o.updates[0]
                               : "the updates " + JoinNames(o.updates);
}

void PrintText(const CheckOptions& o,
               const std::vector<ReleaseOutcome>& outcomes) {
  size_t failed = 0, untried = 0;
  for (const ReleaseOutcome& r : outcomes) {
    if (r.ok()) {
      Print(r.dir + ": becomes " + o.to + " (" +
            Counted(r.matching, "file matches", "files match") + ")\n");
      continue;
    }
    if (!r.untried.empty()) {
      untried++;
      Print(r.dir + ": could not be tried: " + r.untried + "\n");
      continue;
    }
    failed++;
    Print(r.dir + ": does not become " + o.to +
          (r.result != 0 ? "; the updater ends with " + DescribeResult(r.result)
                         : std::string()) +
          "\n");
    if (!r.failure.empty()) Print("  " + r.failure + "\n");
    for (const Difference& d : r.differences) {
      Print(Format("  %-18s ", StateText(d.state)) + EscapeControls(d.name) +
            "\n");
    }
  }
  size_t n = outcomes.size();
  std::string text = "every release becomes " + o.to;
  if (failed != 0) {
    text = std::to_string(failed) + " of " +
           Counted(n, "release does", "releases do") + " not become " + o.to;
  }
  if (untried != 0) {
    text = (failed != 0 ? text + "; " : std::string()) +
           std::to_string(untried) + " of " +
           Counted(n, "release", "releases") + " could not be tried";
  }
  Print(text +
        (o.updates.size() > 1 ? " with " + Updates(o) + " in order" : "") +
        "\n");
}

std::string JsonNullable(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

void PrintJson(const CheckOptions& o,
               const std::vector<ReleaseOutcome>& outcomes) {
  size_t failed = 0, untried = 0;
  std::string releases, updates;
  for (const std::string& update : o.updates) {
    updates += std::string(updates.empty() ? "" : ", ") + JsonString(update);
  }
  for (const ReleaseOutcome& r : outcomes) {
    failed += !r.ok() && r.untried.empty();
    untried += !r.untried.empty();
    std::string files;
    for (const Difference& d : r.differences) {
      files += std::string(files.empty() ? "" : ", ") +
               "{\"name\": " + JsonString(d.name) + ", \"state\": \"" +
               d.state + "\"}";
    }
    releases += std::string(releases.empty() ? "\n    " : ",\n    ") +
                "{\"from\": " + JsonString(r.dir) +
                ", \"ok\": " + (r.ok() ? "true" : "false") +
                ", \"tried\": " + (r.untried.empty() ? "true" : "false") +
                ", \"result\": " + JsonString(Format("0x%08X", r.result)) +
                ", \"failure\": " +
                JsonNullable(r.untried.empty() ? r.failure : r.untried) +
                ", \"matching\": " + std::to_string(r.matching) +
                ", \"files\": [" + files + "]}";
  }
  Print(JsonDocumentStart("check", failed + untried == 0) +
        ",\n  \"update\": " + JsonString(o.updates[0]) + ",\n  \"updates\": [" +
        updates + "],\n  \"to\": " + JsonString(o.to) + ",\n  \"releases\": [" +
        releases + "\n  ],\n  " +
        JsonCounts({{"releases", static_cast<int64_t>(outcomes.size())},
                    {"become_new",
                     static_cast<int64_t>(outcomes.size() - failed - untried)},
                    {"differ", static_cast<int64_t>(failed)},
                    {"not_tried", static_cast<int64_t>(untried)}}) +
        "\n}\n");
}

}  // namespace

int RunCheck(const CheckOptions& o) {
  std::vector<std::string> entries;
  if (!ReadEntryNames(o.updates, &entries)) return kExitCannotCheck;
  FolderListing new_files;
  if (!ListFolder(o.to, nullptr, o.exclude, &new_files)) {
    return kExitCannotCheck;
  }
  std::string temp, scratch, why;
  if (!TemporaryFolder(&temp, &why)) {
    Refuse("check", why);
    return kExitCannotCheck;
  }
  if (!MakeScratchFolder(temp, &scratch, &why)) {
    Refuse(temp, "the temporary folder: " + why);
    return kExitCannotCheck;
  }
  std::vector<ReleaseOutcome> outcomes(o.from.size());
  for (size_t i = 0; i < o.from.size(); i++) {
    outcomes[i].dir = o.from[i];
    TryRelease(o, temp, scratch, i, entries, new_files, &outcomes[i]);
  }
  RemoveScratchFolder(scratch);
  if (o.json) {
    PrintJson(o, outcomes);
  } else {
    PrintText(o, outcomes);
    // What --exclude kept out of the comparison, as pack's dry run shows it.
    for (const PathNote& file : new_files.left_out) {
      if (!o.exclude.empty() && file.text.compare(0, 12, "left out by ") == 0) {
        Print("not compared: " + file.path + ": " + file.text + "\n");
      }
    }
  }
  bool untried = false;
  for (const ReleaseOutcome& r : outcomes) {
    if (r.differs()) return kExitDiffers;
    untried |= !r.ok();
  }
  return untried ? kExitCannotCheck : kExitOk;
}
