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
  uint32_t result = 0;  // the run's ResultCode
  size_t matching = 0;
  std::vector<Difference> differences;
  bool ok() const { return result == 0 && differences.empty(); }
};

// The names of the update's entries, as stored.
bool ReadEntryNames(const std::string& update,
                    std::vector<std::string>* names) {
  OpenedUpdate opened;
  if (!OpenUpdate(update, &opened)) return false;
  for (uint32_t i = 0; i < opened.payload.count; i++) {
    names->push_back(opened.payload.entries[i].name);
  }
  return true;
}

// The name of a temporary folder of this process's own, for one release;
// whatever a run of the same number left there is removed.
bool ScratchName(size_t n, std::string* scratch) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) return Refuse("the temporary folder", ec.message());
  fs::path dir =
      base / ("mkupdate-check-" + std::to_string(CurrentProcessId()) + "-" +
              std::to_string(n));
  fs::remove_all(dir, ec);
  *scratch = dir.u8string();
  return true;
}

// The old release as the player has it, links resolved into files, in
// the folder scratch, which the copy creates.
bool CopyRelease(const std::string& dir, const std::string& scratch) {
  FolderListing listing;
  if (!ListFolder(dir, nullptr, {}, &listing)) return false;
  std::error_code ec;
  fs::copy(fs::u8path(dir), fs::u8path(scratch), fs::copy_options::recursive,
           ec);
  if (ec) return Refuse(dir, "cannot copy it: " + ec.message());
  return true;
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
void CompareWithNew(const std::string& scratch, const std::string& new_dir,
                    const FolderListing& new_files, ReleaseOutcome* outcome) {
  for (const FolderFile& f : new_files.files) {
    std::string relative = fs::u8path(f.path)
                               .lexically_relative(fs::u8path(new_dir))
                               .generic_u8string();
    std::string installed =
        (fs::u8path(scratch) / fs::u8path(relative)).u8string();
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

// Every entry the run installed must be named in the uninstall list, so
// that the game's uninstaller removes it.
void CheckUninstallList(const std::string& scratch,
                        const std::vector<std::string>& entries,
                        ReleaseOutcome* outcome) {
  std::vector<std::string> listed = UninstallNames(scratch);
  for (const std::string& entry : entries) {
    bool found = false;
    for (const std::string& name : listed)
      found |= SameUpdaterName(name, entry);
    if (!found) {
      std::string shown = ShownName(entry);
      for (char& c : shown) c = c == '\\' ? '/' : c;
      outcome->differences.push_back({shown, "unlisted"});
    }
  }
}

// One old release: copied, updated and compared. Returns false when it
// could not be tried at all.
bool TryRelease(const CheckOptions& o, size_t n,
                const std::vector<std::string>& entries,
                const FolderListing& new_files, ReleaseOutcome* outcome) {
  std::string scratch;
  if (!ScratchName(n, &scratch)) return false;
  ResultCode result = 0;
  bool tried = CopyRelease(o.from[n], scratch) &&
               ApplyUpdate(o.update, scratch, &result);
  if (tried) {
    outcome->result = result;
    CompareWithNew(scratch, o.to, new_files, outcome);
    if (result == 0) CheckUninstallList(scratch, entries, outcome);
  }
  std::error_code ec;
  fs::remove_all(fs::u8path(scratch), ec);
  return tried;
}

const char* StateText(const std::string& state) {
  if (state == "unlisted") return "not in uninst.lst";
  return state.c_str();
}

void PrintText(const CheckOptions& o,
               const std::vector<ReleaseOutcome>& outcomes) {
  size_t failed = 0;
  for (const ReleaseOutcome& r : outcomes) {
    if (r.ok()) {
      Print(r.dir + ": becomes " + o.to + " (" +
            Counted(r.matching, "file matches", "files match") + ")\n");
      continue;
    }
    failed++;
    Print(r.dir + ": does not become " + o.to +
          (r.result != 0 ? "; the updater ends with " + DescribeResult(r.result)
                         : std::string()) +
          "\n");
    for (const Difference& d : r.differences) {
      Print(Format("  %-18s %s\n", StateText(d.state), d.name.c_str()));
    }
  }
  Print(failed == 0
            ? "every release becomes " + o.to + "\n"
            : std::to_string(failed) + " of " +
                  Counted(outcomes.size(), "release does", "releases do") +
                  " not become " + o.to + "\n");
}

void PrintJson(const CheckOptions& o,
               const std::vector<ReleaseOutcome>& outcomes) {
  size_t failed = 0;
  std::string releases;
  for (const ReleaseOutcome& r : outcomes) {
    failed += !r.ok();
    std::string files;
    for (const Difference& d : r.differences) {
      files += std::string(files.empty() ? "" : ", ") +
               "{\"name\": " + JsonString(d.name) + ", \"state\": \"" +
               d.state + "\"}";
    }
    releases += std::string(releases.empty() ? "\n    " : ",\n    ") +
                "{\"from\": " + JsonString(r.dir) +
                ", \"ok\": " + (r.ok() ? "true" : "false") +
                ", \"result\": " + JsonString(Format("0x%08X", r.result)) +
                ", \"matching\": " + std::to_string(r.matching) +
                ", \"files\": [" + files + "]}";
  }
  Print(JsonDocumentStart("check", failed == 0) + ",\n  \"update\": " +
        JsonString(o.update) + ",\n  \"to\": " + JsonString(o.to) +
        ",\n  \"releases\": [" + releases + "\n  ],\n  " +
        JsonCounts(
            {{"releases", static_cast<int64_t>(outcomes.size())},
             {"become_new", static_cast<int64_t>(outcomes.size() - failed)},
             {"differ", static_cast<int64_t>(failed)}}) +
        "\n}\n");
}

}  // namespace

int RunCheck(const CheckOptions& o) {
  std::vector<std::string> entries;
  if (!ReadEntryNames(o.update, &entries)) return kExitCannotCheck;
  FolderListing new_files;
  if (!ListFolder(o.to, nullptr, o.exclude, &new_files)) {
    return kExitCannotCheck;
  }
  std::vector<ReleaseOutcome> outcomes(o.from.size());
  for (size_t i = 0; i < o.from.size(); i++) {
    outcomes[i].dir = o.from[i];
    if (!TryRelease(o, i, entries, new_files, &outcomes[i])) {
      return kExitCannotCheck;
    }
  }
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
  for (const ReleaseOutcome& r : outcomes) {
    if (!r.ok()) return kExitDiffers;
  }
  return kExitOk;
}
