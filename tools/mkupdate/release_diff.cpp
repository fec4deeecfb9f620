// The update between two releases of the game: what the new one has that
// the installed one lacks or holds otherwise.
#include <map>

#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/folder_files.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/pack_plan.h"
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

// A new file must go into a folder the installed game has: the updater
// creates none. Refuses each missing folder once.
bool CheckFolder(const std::string& new_dir, const std::string& name,
                 const NameIndex& old_folders, NameIndex* refused) {
  std::string folder = FolderOf(name);
  if (folder.empty() || Has(old_folders, folder)) return true;
  if (!refused->emplace(UpdaterNameKey(folder), 0).second) return false;
  std::string shown = ShownName(folder);
  for (char& c : shown) c = c == '\\' ? '/' : c;
  return Refuse(new_dir + "/" + shown,
                "the installed game has no such folder (the old release "
                "lacks it), and the updater creates no folders");
}

// Compares one file of the new release with the old one's copy. Sets
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

PackInput EntryFor(const FolderFile& f, const char* state) {
  PackInput input;
  input.name = f.name;
  input.path = f.path;
  input.label = f.path;
  input.state = state;
  input.size = f.size;
  return input;
}

}  // namespace

bool DiffReleases(const std::string& old_dir, const std::string& new_dir,
                  const FileId* out, PackPlan* plan) {
  FolderListing old_files, new_files;
  bool listed = ListFolder(old_dir, out, false, &old_files);
  if (!ListFolder(new_dir, out, true, &new_files) || !listed) return false;
  NameIndex old_names =
      IndexNames(old_files.files, [](const FolderFile& f) { return f.name; });
  NameIndex old_folders =
      IndexNames(old_files.folders, [](const std::string& s) { return s; });
  NameIndex missing_folders;
  bool ok = true;
  std::vector<bool> in_new(old_files.files.size(), false);
  for (const FolderFile& f : new_files.files) {
    ListFile file;
    file.name = f.name;
    file.path = f.path;
    file.id = f.id;
    auto old = old_names.find(UpdaterNameKey(f.name));
    bool changed = false;
    if (old == old_names.end()) {
      if (Has(old_folders, f.name)) {
        ok = Refuse(f.path, "the installed game has a folder of that name");
      } else if (CheckFolder(new_dir, f.name, old_folders, &missing_folders)) {
        plan->entries.push_back(EntryFor(f, "new"));
      } else {
        ok = false;
      }
    } else {
      in_new[old->second] = true;
      if (!CompareWithOld(f, old_files.files[old->second], &changed, &file)) {
        ok = false;
      }
      if (changed) plan->entries.push_back(EntryFor(f, "changed"));
    }
    plan->list.files.push_back(file);
  }
  for (size_t i = 0; i < in_new.size(); i++) {
    if (!in_new[i]) plan->kept.push_back(old_files.files[i].path);
  }
  plan->list.source = new_dir;
  return ok;
}
