#include "tools/mkupdate/pack_inputs.h"

#include <string.h>

#include <algorithm>
#include <filesystem>

#include "payload/entry_name.h"
#include "payload/payload_archive.h"
#include "payload/stub_marker.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/folder_files.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/release_diff.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/uninstall_list_file.h"
#include "tools/mkupdate/update_reader.h"
#include "tools/mkupdate/verification_list_file.h"
#include "uninstall/uninstall_list.h"

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::u8path(path), ec);
}

// A regular file that can be opened; *size receives its length.
bool CheckReadable(const std::string& path, uint64_t* size) {
  if (!FindRegularFile(path, "a file", size)) return false;
  FILE* f = OpenFile(path, "rb");
  if (f == nullptr) return Refuse(path, SystemReason("cannot open it"));
  fclose(f);
  return true;
}

// The stub is read whole here, and these bytes are what the update gets.
bool LoadStub(const std::string& path, std::string* bytes) {
  uint64_t size;
  if (!CheckReadable(path, &size)) return false;
  if (size >= kPayloadOffset) {
    if (HasPayloadHeader(path)) {
      return Refuse(path,
                    "the stub already carries a payload; use the updater "
                    "built without one");
    }
    return Refuse(path, "the stub is " + std::to_string(size) +
                            " bytes; it must be smaller than 1 MiB (1048576 "
                            "bytes), where the payload starts");
  }
  std::string why;
  if (!ReadWholeFile(path, bytes, &why)) return Refuse(path, why);
  if (bytes->empty()) return Refuse(path, "the stub is empty");
  if (bytes->size() >= kPayloadOffset) {
    return Refuse(path, "it grew to 1 MiB or more while it was read");
  }
  if (!ContainsStubMarker(reinterpret_cast<const uint8_t*>(bytes->data()),
                          bytes->size())) {
    return Refuse(path,
                  "not an updater stub: it lacks the marker that every build "
                  "of the updater carries; give the updater built without "
                  "payload: updater.exe from the package "
                  "(/usr/share/mkupdate/i686/updater.exe) or from the zip, "
                  "beside mkupdate.exe");
  }
  return true;
}

// The PE header's machine field, 0 when the bytes are no PE program. The
// offsets come from the file: every one is checked against its size.
uint32_t PeMachine(const std::string& bytes) {
  const size_t kHeaderOffsetAt = 0x3C;
  if (bytes.size() < kHeaderOffsetAt + 4 || bytes.compare(0, 2, "MZ") != 0) {
    return 0;
  }
  uint32_t header;
  memcpy(&header, bytes.data() + kHeaderOffsetAt, 4);
  if (header > bytes.size() || bytes.size() - header < 6 ||
      bytes.compare(header, 4, std::string("PE\0\0", 4)) != 0) {
    return 0;
  }
  return static_cast<uint8_t>(bytes[header + 4]) |
         static_cast<uint8_t>(bytes[header + 5]) << 8;
}

// Splits a bare argument that reads as NAME=PATH, unless a file has the
// whole argument for its name: then neither reading can be trusted.
bool SplitNamed(const EntryArg& arg, EntryArg* out) {
  *out = arg;
  size_t eq = arg.text.find('=');
  if (!arg.may_be_named || eq == std::string::npos) return true;
  if (Exists(arg.text)) {
    return Refuse(arg.text,
                  "a file of that name exists, but it also reads as "
                  "NAME=PATH; give the file after --, or name it with "
                  "--entry NAME FILE");
  }
  out->named = true;
  out->name = arg.text.substr(0, eq);
  out->path = arg.text.substr(eq + 1);
  if (out->path.empty()) return Refuse(arg.text, "no file after the '='");
  return true;
}

// The stored name of an entry: the given one; its path relative to the
// folder of the release when it lies there; else the file's own name.
bool ResolveEntry(const EntryArg& given, const std::string& folder,
                  PackInput* input) {
  EntryArg arg;
  if (!SplitNamed(given, &arg)) return false;
  input->path = arg.path;
  input->label = arg.text;
  std::string why;
  if (arg.named) {
    if (!ToStoredName(WithBackslashes(arg.name), &input->name, &why)) {
      return Refuse(arg.text, "entry name '" + arg.name + "': " + why);
    }
  } else if (folder.empty() || !NameUnderFolder(folder, arg.path, &input->name,
                                                &input->link, &why)) {
    if (!why.empty()) return Refuse(arg.text, why);
    std::string base = fs::u8path(arg.path).filename().u8string();
    if (!ToStoredName(base, &input->name, &why)) {
      return Refuse(arg.text, "entry name '" + base + "': " + why);
    }
  }
  return true;
}

// Each name the updater refuses, refused once: *refused gets the files
// whose names were, so that their records are not refused again.
bool CheckEntryNames(const std::vector<PackInput>& entries,
                     std::vector<std::string>* refused) {
  bool ok = true;
  for (size_t i = 0; i < entries.size(); i++) {
    const PackInput& e = entries[i];
    std::string why, shown = ShownName(e.name);
    if (!CheckEntryName(e.name, &why)) {
      ok = Refuse(e.label, "entry name '" + shown + "': " + why);
      refused->push_back(e.path);
    } else if (SameUpdaterName(e.name, kVerificationListName)) {
      ok = Refuse(e.label, std::string("the entry name ") + shown +
                               " is the verification list's; give the list "
                               "with --verify-list or --verify-dir");
    }
    // The updater's own test of two names for one file.
    for (size_t j = 0; j < i; j++) {
      if (SameEntryFile(e.name.c_str(), entries[j].name.c_str())) {
        ok = Refuse(e.label, "entry name '" + shown + "' is already used by " +
                                 entries[j].label +
                                 " (letter case does not count)");
      }
    }
  }
  return ok;
}

// OUT with the part's number before its extension: setup-2.exe.
std::string PartName(const std::string& out, size_t part) {
  fs::path path = fs::u8path(out);
  std::string name = path.stem().u8string() + "-" + std::to_string(part) +
                     path.extension().u8string();
  return (path.parent_path() / fs::u8path(name)).u8string();
}

// How to make the updates that one update cannot hold: the entries in
// parts that fit, each part with the whole list of the new release, so
// that each checks what it carries and the players may run them in any
// order.
std::string SplitAdvice(const PackOptions& o,
                        const std::vector<PackInput>& entries) {
  const size_t per_part = kMaxEntries - 1;
  size_t parts = (entries.size() + per_part - 1) / per_part;
  std::string text = "\nThey need " + std::to_string(parts) +
                     " updates, each with its part of them and the whole "
                     "list; the players run them all:";
  std::string olds, outs;
  for (const std::string& old : o.from) olds += " --from " + ShellWord(old);
  for (size_t part = 0; part < parts; part++) {
    outs += " " + ShellWord(PartName(o.out, part + 1));
    // The old releases come along, so that pack checks each entry's
    // folder and each release's uninstall list against them.
    text += "\n  mkupdate pack --stub " + ShellWord(o.stub) + " --out " +
            ShellWord(PartName(o.out, part + 1)) + " --verify-dir " +
            ShellWord(o.to) + olds;
    size_t end = std::min(entries.size(), (part + 1) * per_part);
    for (size_t i = part * per_part; i < end; i++) {
      const PackInput& e = entries[i];
      std::string name = ShownName(e.name);
      for (char& c : name) c = c == '\\' ? '/' : c;
      // A file of the new release gets its name from its path there.
      text += e.state.empty()
                  ? " --entry " + ShellWord(name) + " " + ShellWord(e.path)
                  : " " + ShellWord(e.path);
    }
  }
  return text +
         "\nThen check them, run in that order, on every old release:\n" +
         "  mkupdate check" + outs + olds + " --to " + ShellWord(o.to);
}

// Between releases every new or changed file is as much to blame: all are
// named, and how to make the updates they need is told. Otherwise those
// given after the last that fits are named.
bool CheckEntryCount(const std::vector<PackInput>& entries, bool has_list,
                     const PackOptions& o) {
  if (entries.size() + has_list <= kMaxEntries) return true;
  if (!o.to.empty()) {
    std::string names;
    for (const PackInput& e : entries) {
      names += "\n  " + ShownName(e.name) + " (" +
               (e.state.empty() ? e.label : e.state) + ")";
    }
    return Refuse(o.to, Counted(entries.size(), "file is", "files are") +
                            " new or changed, but an update holds at most " +
                            std::to_string(kMaxEntries - 1) +
                            " besides its verification list:" + names +
                            SplitAdvice(o, entries));
  }
  for (size_t i = kMaxEntries - has_list; i < entries.size(); i++) {
    Refuse(entries[i].label,
           "an update holds at most " + std::to_string(kMaxEntries) +
               " entries (the verification list counts as one); this would "
               "be entry " +
               std::to_string(i + 1 + has_list) + " of " +
               std::to_string(entries.size() + has_list));
  }
  return false;
}

bool CheckRecordNames(const std::vector<ListFile>& files,
                      const std::vector<std::string>& refused) {
  bool ok = true;
  std::vector<std::pair<std::string, size_t>> lowered;
  for (size_t i = 0; i < files.size(); i++) {
    std::string why;
    if (std::find(refused.begin(), refused.end(), files[i].path) !=
        refused.end()) {
      ok = false;
    } else if (!CheckRecordName(files[i].name, &why)) {
      ok = Refuse(files[i].path,
                  "record name '" + ShownName(files[i].name) + "': " + why);
    }
    lowered.push_back({UpdaterNameKey(files[i].name), i});
  }
  std::sort(lowered.begin(), lowered.end());
  for (size_t i = 1; i < lowered.size(); i++) {
    if (lowered[i].first != lowered[i - 1].first) continue;
    ok = Refuse(files[lowered[i].second].path,
                "same name as " + files[lowered[i - 1].second].path +
                    " for the updater, which ignores letter case");
  }
  return ok;
}

bool BuildListFromFolder(const std::string& dir, const FileId* out,
                         const std::vector<std::string>& exclude,
                         PackPlan* plan) {
  ListPlan* list = &plan->list;
  FolderListing listing;
  if (!ListFolder(dir, out, exclude, &listing)) return false;
  plan->left_out = listing.left_out;
  plan->links = listing.links;
  for (const FolderFile& f : listing.files) {
    ListFile file;
    file.name = f.name;
    file.path = f.path;
    file.size = f.size;
    file.id = f.id;
    list->files.push_back(file);
  }
  return true;
}

bool LoadListFile(const std::string& path, ListPlan* list) {
  uint64_t size;
  std::string why;
  if (!CheckReadable(path, &size)) return false;
  list->prebuilt = true;
  if (!ReadWholeFile(path, &list->bytes, &why) ||
      !ParseVerificationList(list->bytes, &list->records, &why)) {
    return Refuse(path, why);
  }
  return true;
}

bool SameAsOutput(const std::string& out, const FileId* out_id,
                  const std::string& path, const char* what) {
  FileId id;
  if (out_id == nullptr || !GetFileId(path, &id) || !(id == *out_id)) {
    return false;
  }
  Refuse(out, std::string("the output is the same file as the ") + what + " " +
                  path + "; writing it would destroy that input");
  return true;
}

// The entries given on the command line, checked and with their sizes.
bool ResolveEntries(const PackOptions& o, std::vector<PackInput>* entries) {
  bool ok = true;
  for (const EntryArg& arg : o.entries) {
    PackInput input;
    if (!ResolveEntry(arg, o.to.empty() ? o.verify_dir : o.to, &input)) {
      ok = false;
      continue;
    }
    entries->push_back(input);
  }
  return ok;
}

// Every file pack would read can be opened: a dry run fails where pack
// would.
bool CheckEntryFiles(std::vector<PackInput>* entries, const ListPlan& list) {
  bool ok = true;
  for (PackInput& input : *entries) {
    uint64_t size;
    if (!CheckReadable(input.path, &size)) {
      ok = false;
    } else if (input.state.empty()) {
      input.size = size;
    }
    input.has_id = GetFileId(input.path, &input.id);
  }
  for (const ListFile& file : list.files) {
    uint64_t size;
    if (!file.summed && !CheckReadable(file.path, &size)) ok = false;
  }
  return ok;
}

// Entries given by hand join those of a release; one named alike gives way.
void MergeReleaseEntries(std::vector<PackInput> given,
                         std::vector<PackInput>* entries) {
  for (const PackInput& e : *entries) {
    bool named = false;
    for (const PackInput& g : given) named |= SameUpdaterName(g.name, e.name);
    if (!named) given.push_back(e);
  }
  std::sort(
      given.begin(), given.end(),
      [](const PackInput& a, const PackInput& b) { return a.name < b.name; });
  *entries = given;
}

// Folders are never created: a name with folders needs them installed.
// Each folder is named once; with the old releases given, only where one
// of them lacks it, naming those.
bool NoteFolders(const PackOptions& o, const std::vector<PackInput>& entries) {
  std::vector<FolderListing> olds(o.from.size());
  for (size_t i = 0; i < o.from.size(); i++) {
    if (!ListFolder(o.from[i], nullptr, o.exclude, &olds[i])) return false;
  }
  std::vector<std::string> noted;
  for (const PackInput& e : entries) {
    std::vector<std::string> parts = NameParts(e.name);
    if (parts.size() < 2) continue;
    std::string folder =
        e.name.substr(0, e.name.size() - parts.back().size() - 1);
    bool seen = false;
    for (const std::string& n : noted) seen |= SameUpdaterName(n, folder);
    if (seen) continue;
    noted.push_back(folder);
    std::vector<std::string> lacking;
    for (size_t i = 0; i < olds.size(); i++) {
      bool has = false;
      for (const std::string& f : olds[i].folders) {
        has |= SameUpdaterName(f, folder);
      }
      if (!has) lacking.push_back(o.from[i]);
    }
    if (!o.from.empty() && lacking.empty()) continue;
    Note(e.label,
         "the updater creates no folders: " + ShownName(folder) +
             " must exist in the installed game" +
             (lacking.empty()
                  ? std::string()
                  : " (" + JoinNames(lacking) +
                        (lacking.size() == 1 ? " lacks" : " lack") + " it)"));
  }
  return true;
}

// Every release's uninstall list as the updater needs it: the old ones'
// with room for the names the update adds, the new one's as a player of it
// will have it for the next update.
bool CheckUninstallLists(const PackOptions& o, const PackPlan& plan) {
  std::vector<std::string> added;
  for (const PackInput& e : plan.entries) added.push_back(e.name);
  if (plan.list.present()) added.push_back(kVerificationListName);
  bool ok = true;
  std::vector<std::string> releases = o.from;
  if (!o.to.empty()) releases.push_back(o.to);
  for (size_t i = 0; i < releases.size(); i++) {
    std::string list =
        (fs::u8path(releases[i]) / kUninstallListName).u8string();
    for (const std::string& problem : UninstallListProblems(
             releases[i],
             i < o.from.size() ? added : std::vector<std::string>())) {
      ok = Refuse(list, problem);
    }
  }
  return ok;
}

// The identities of every folder on the way to path's folder, links
// resolved: whatever spells it (links, "..", letter case where the system
// ignores it), a folder that holds the file is among them.
std::vector<FileId> FoldersHolding(const std::string& path) {
  std::vector<FileId> ids;
  fs::path parent = fs::u8path(path).parent_path();
  std::string resolved;
  if (!ResolvedPath(parent.empty() ? "." : parent.u8string(), &resolved)) {
    return ids;
  }
  for (fs::path p = fs::u8path(resolved);; p = p.parent_path()) {
    FileId id;
    if (GetFileId(p.u8string(), &id)) ids.push_back(id);
    if (p == p.parent_path() || p.empty()) break;
  }
  return ids;
}

// No release file is ever an output: OUT must lie outside every folder an
// update is made from.
bool CheckOutsideFolders(const PackOptions& o) {
  std::vector<std::pair<std::string, const char*>> folders;
  for (const std::string& dir : o.from) folders.push_back({dir, "--from"});
  if (!o.to.empty()) folders.push_back({o.to, "--to"});
  if (!o.verify_dir.empty()) folders.push_back({o.verify_dir, "--verify-dir"});
  std::vector<FileId> holding = FoldersHolding(o.out);
  bool ok = true;
  for (const auto& folder : folders) {
    FileId id;
    if (!GetFileId(folder.first, &id) ||
        std::find(holding.begin(), holding.end(), id) == holding.end()) {
      continue;
    }
    ok = Refuse(o.out, std::string("the output lies inside ") + folder.first +
                           " (" + folder.second +
                           "), a release folder; writing there could destroy "
                           "a file of the release; write the update "
                           "elsewhere");
  }
  return ok;
}

}  // namespace

bool PreparePack(const PackOptions& o, PackPlan* plan) {
  std::error_code ec;
  if (fs::is_directory(fs::u8path(o.out), ec)) {
    return Refuse(o.out, "the output is a folder");
  }
  if (!CheckOutsideFolders(o)) return false;
  FileId out_id;
  const FileId* out = GetFileId(o.out, &out_id) ? &out_id : nullptr;
  bool ok = LoadStub(o.stub, &plan->stub_bytes);
  const uint32_t kMachineX86_64 = 0x8664;
  plan->stub_is_x86_64 = PeMachine(plan->stub_bytes) == kMachineX86_64;
  ok = !SameAsOutput(o.out, out, o.stub, "stub") && ok;
  std::vector<PackInput> given;
  ok = ResolveEntries(o, &given) && ok;
  for (const PackInput& e : given) {
    ok = !SameAsOutput(o.out, out, e.path, "entry") && ok;
  }
  if (!o.verify_list.empty()) {
    ok = !SameAsOutput(o.out, out, o.verify_list, "verification list") && ok;
    ok = ok && LoadListFile(o.verify_list, &plan->list);
    plan->list.source = o.verify_list;
  } else if (!o.verify_dir.empty()) {
    ok = ok && BuildListFromFolder(o.verify_dir, out, o.exclude, plan);
    plan->list.source = o.verify_dir;
  }
  if (!o.to.empty()) {
    ok = DiffReleases(o.from, o.to, out, o.exclude, plan) && ok;
    MergeReleaseEntries(given, &plan->entries);
    if (ok && plan->entries.empty()) {
      return Refuse(o.to, "nothing to pack: no file is new or changed since " +
                              JoinNames(o.from));
    }
  } else {
    plan->entries = given;
  }
  std::vector<std::string> refused;
  ok = CheckEntryNames(plan->entries, &refused) && ok;
  if (!plan->list.prebuilt) {
    ok = CheckRecordNames(plan->list.files, refused) && ok;
  }
  ok = CheckEntryCount(plan->entries, plan->list.present(), o) && ok;
  ok = CheckUninstallLists(o, *plan) && ok;
  if (!ok || !CheckEntryFiles(&plan->entries, plan->list)) return false;
  if (o.to.empty() && !o.quiet) return NoteFolders(o, plan->entries);
  return true;
}
