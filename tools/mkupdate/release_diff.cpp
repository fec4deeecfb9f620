#include "tools/mkupdate/release_diff.h"

#include <map>

#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/folder_files.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/progress.h"
#include "tools/mkupdate/report.h"

namespace {

// Stored names by their lookup key, letter case ignored as the updater
// and Windows ignore it.
typedef std::map<std::string, size_t> NameIndex;

template <typename T, typename NameOf>
NameIndex IndexNames(const std::vector<T>& items, NameOf name_of) {
  NameIndex index;
  for (size_t i = 0; i < items.size(); i++) {
    index.emplace(UpdaterNameKey(name_of(items[i])), i);
  }
  return index;
}

bool Has(const NameIndex& index, const std::string& name) {
  return index.count(UpdaterNameKey(name)) != 0;
}

// The folder of a stored name, "" at the top.
std::string FolderOf(const std::string& name) {
  std::vector<std::string> parts = NameParts(name);
  if (parts.size() < 2) return "";
  return name.substr(0, name.size() - parts.back().size() - 1);
}

// The installed releases, each listed, and the names of its files and
// folders.
struct OldRelease {
  std::string dir;
  FolderListing listing;
  NameIndex files, folders;
  std::vector<bool> in_new;  // by file: the new release has it too
};

bool ListOldRelease(const std::string& dir, const FileId* out,
                    const std::vector<std::string>& exclude, OldRelease* old) {
  old->dir = dir;
  bool ok = ListFolder(dir, out, exclude, &old->listing);
  old->files = IndexNames(old->listing.files,
                          [](const FolderFile& f) { return f.name; });
  old->folders =
      IndexNames(old->listing.folders, [](const std::string& s) { return s; });
  old->in_new.assign(old->listing.files.size(), false);
  return ok;
}

// A new file must go into a folder that every installed release has: the
// updater creates none. Refuses each missing folder once, naming the
// releases that lack it.
bool CheckFolder(const std::string& new_dir, const std::string& name,
                 const std::vector<OldRelease>& olds, NameIndex* refused) {
  std::string folder = FolderOf(name);
  if (folder.empty()) return true;
  std::vector<std::string> lacking;
  for (const OldRelease& old : olds) {
    if (!Has(old.folders, folder)) lacking.push_back(old.dir);
  }
  if (lacking.empty()) return true;
  if (!refused->emplace(UpdaterNameKey(folder), 0).second) return false;
  std::string shown = ShownName(folder);
  for (char& c : shown) c = c == '\\' ? '/' : c;
  return Refuse(new_dir + "/" + shown,
                "the installed game has no such folder (" + JoinNames(lacking) +
                    (lacking.size() == 1 ? " lacks" : " lack") +
                    " it), and the updater creates no folders");
}

// Compares one file of the new release with an old one's copy. Sets
// *changed, and the checksum in *file when the whole file was read.
bool CompareWithOld(const FolderFile& now, const FolderFile& before,
                    bool* changed, ListFile* file) {
  if (now.size != before.size) {
    *changed = true;
    return true;
  }
  bool same;
  std::string why;
  if (!CompareFiles(now.path, before.path, &same, &file->sum, &why)) {
    return Refuse(now.path, why);
  }
  *changed = !same;
  file->summed = same;
  return true;
}

PackInput EntryFor(const FolderFile& f, const std::string& state) {
  PackInput input;
  input.name = f.name;
  input.path = f.path;
  input.label = f.path;
  input.link = f.link;
  input.state = state;
  input.size = f.size;
  return input;
}

// What one file of the new release is to each installed release: the
// releases it is new to and those that hold it with other bytes. Sets the
// checksum in *file when some release holds the same bytes.
bool Compare(const FolderFile& f, std::vector<OldRelease>* olds,
             std::vector<std::string>* added, std::vector<std::string>* changed,
             ListFile* file) {
  bool ok = true;
  for (OldRelease& old : *olds) {
    auto found = old.files.find(UpdaterNameKey(f.name));
    if (found == old.files.end()) {
      if (Has(old.folders, f.name)) {
        ok =
            Refuse(f.path, "the installed game has a folder of that name (in " +
                               old.dir + ")");
      }
      added->push_back(old.dir);
      continue;
    }
    old.in_new[found->second] = true;
    bool differs = false;
    ListFile compared = *file;
    if (!CompareWithOld(f, old.listing.files[found->second], &differs,
                        &compared)) {
      ok = false;
    } else if (differs) {
      changed->push_back(old.dir);
    } else if (!file->summed) {
      *file = compared;
    }
  }
  return ok;
}

// The bytes of the new release that the comparison reads: those of every
// file that an old release holds at the same size.
uint64_t BytesToCompare(const FolderListing& new_files,
                        const std::vector<OldRelease>& olds) {
  uint64_t total = 0;
  for (const FolderFile& f : new_files.files) {
    for (const OldRelease& old : olds) {
      auto found = old.files.find(UpdaterNameKey(f.name));
      if (found != old.files.end() &&
          old.listing.files[found->second].size == f.size) {
        total += f.size;
      }
    }
  }
  return total;
}

// With one installed release, "new" or "changed"; with more, which of them
// the entry serves: "new to A; changed since B and C".
std::string StateText(const std::vector<std::string>& added,
                      const std::vector<std::string>& changed, size_t olds) {
  if (olds == 1) return added.empty() ? "changed" : "new";
  std::string text;
  if (!added.empty()) text = "new to " + JoinNames(added);
  if (!changed.empty()) {
    text += (text.empty() ? "" : "; ") + std::string("changed since ") +
            JoinNames(changed);
  }
  return text;
}

}  // namespace

bool DiffReleases(const std::vector<std::string>& old_dirs,
                  const std::string& new_dir, const FileId* out,
                  const std::vector<std::string>& exclude, PackPlan* plan) {
  FolderListing new_files;
  bool ok = ListFolder(new_dir, out, exclude, &new_files);
  plan->left_out = new_files.left_out;
  plan->links = new_files.links;
  std::vector<OldRelease> olds(old_dirs.size());
  for (size_t i = 0; i < olds.size(); i++) {
    ok = ListOldRelease(old_dirs[i], out, exclude, &olds[i]) && ok;
  }
  // What the listings refused is named; the files they did list go on to
  // be compared, so that every name that cannot be is named in this run.
  StartProgress("comparing " + new_dir + " with " +
                    Counted(olds.size(), "release", "releases"),
                BytesToCompare(new_files, olds));
  NameIndex missing_folders;
  for (const FolderFile& f : new_files.files) {
    ListFile file;
    file.name = f.name;
    file.path = f.path;
    file.size = f.size;
    file.id = f.id;
    std::vector<std::string> added, changed;
    ok = Compare(f, &olds, &added, &changed, &file) && ok;
    if (!added.empty() &&
        !CheckFolder(new_dir, f.name, olds, &missing_folders)) {
      ok = false;
    } else if (!added.empty() || !changed.empty()) {
      plan->entries.push_back(
          EntryFor(f, StateText(added, changed, olds.size())));
    }
    plan->list.files.push_back(file);
  }
  EndProgress();
  for (const OldRelease& old : olds) {
    for (size_t i = 0; i < old.in_new.size(); i++) {
      if (!old.in_new[i]) plan->kept.push_back(old.listing.files[i].path);
    }
  }
  plan->list.source = new_dir;
  return ok;
}
