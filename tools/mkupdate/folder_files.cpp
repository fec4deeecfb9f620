#include "tools/mkupdate/folder_files.h"

#include <algorithm>
#include <filesystem>

#include "payload/verification_list.h"
#include "tools/mkupdate/exclude.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"
#include "uninstall/uninstall_list.h"

namespace fs = std::filesystem;

namespace {

// The stored name of a path relative to its folder. Returns false, with
// the reason in *why, when it has none.
bool StoredRelativeName(const fs::path& relative, std::string* name,
                        std::string* why) {
  std::string text;
  for (const fs::path& part : relative) {
    std::string s = part.u8string();
    if (s.find('\\') != std::string::npos) {
      *why =
          "its name holds a backslash, which the updater reads as a folder "
          "separator";
      return false;
    }
    text += (text.empty() ? "" : "\\") + s;
  }
  return ToStoredName(text, name, why);
}

// Why a file at the folder's top is never recorded, or nullptr.
const char* LeftOutAtTop(const std::string& name) {
  if (SameUpdaterName(name, kVerificationListName)) {
    return "the verification list never names itself";
  }
  if (SameUpdaterName(name, kUninstallListName)) {
    return "the updater merges the installed names into the game's "
           "uninstall list, so no checksum of it holds after an update";
  }
  return nullptr;
}

bool Outside(const fs::path& relative) {
  return relative.empty() || *relative.begin() == "..";
}

// Where path, at relative in the folder dir whose resolved path is root,
// really lies, relative to root, in *real; in *link its place shown under
// dir when a link on the way leads there, "" when none does. Returns
// false, with the reason in *why, when it leads outside dir.
bool FollowLinks(const std::string& dir, const fs::path& root,
                 const fs::path& relative, const std::string& path,
                 fs::path* real, std::string* link, std::string* why) {
  std::string resolved;
  if (!ResolvedPath(path, &resolved)) {
    *why = "cannot follow the links on its path";
    return false;
  }
  *real = fs::u8path(resolved).lexically_relative(root);
  if (Outside(*real)) {
    *why = "a link to " + resolved + ", outside " + dir +
           "; only links that stay inside it are followed, so that nothing "
           "from beside the release ships with it";
    return false;
  }
  link->clear();
  if (*real != relative) {
    *link = *real == "." ? dir : (fs::u8path(dir) / *real).u8string();
  }
  return true;
}

// Adds the file to the listing, or to what it leaves out: the lists at the
// top. Refuses the file when it is the output under another name (a hard
// link): writing the output would destroy it.
bool AddFile(FolderFile file, const FileId* output, FolderListing* listing) {
  GetFileId(file.path, &file.id);
  if (output != nullptr && file.id == *output) {
    return Refuse(file.path,
                  "the same file as the output; writing the output would "
                  "destroy this file of the release");
  }
  const char* left_out = LeftOutAtTop(file.name);
  if (left_out != nullptr) {
    listing->left_out.push_back({file.path, left_out});
  } else {
    listing->files.push_back(file);
  }
  return true;
}

// A link that leads nowhere would ship nothing of what the release means
// to hold: it is refused by name rather than silently passed over.
bool CheckNotDangling(const fs::directory_entry& entry) {
  std::error_code ec;
  if (!entry.is_symlink(ec) || fs::exists(entry.path(), ec)) return true;
  fs::path target = fs::read_symlink(entry.path(), ec);
  return Refuse(entry.path().u8string(),
                "a link to " + target.u8string() +
                    ", which does not exist; make it lead to its file, or "
                    "remove it from the release");
}

}  // namespace

bool ListFolder(const std::string& dir, const FileId* output,
                const std::vector<std::string>& exclude,
                FolderListing* listing) {
  std::error_code ec;
  fs::path top = fs::u8path(dir);
  std::string root;
  if (!fs::exists(top, ec)) return Refuse(dir, "no such folder");
  if (!fs::is_directory(top, ec) || !ResolvedPath(dir, &root)) {
    return Refuse(dir, "not a folder");
  }
  bool ok = true;
  // The real places of the folders the walk is in, from the top down: a
  // link to one of them would lead the walk round for ever.
  std::vector<fs::path> walking = {"."};
  fs::recursive_directory_iterator it(
      top, fs::directory_options::follow_directory_symlink, ec);
  for (fs::recursive_directory_iterator end; !ec && it != end;
       it.increment(ec)) {
    std::string path = it->path().u8string();
    const std::string* pattern = ExcludingPattern(
        exclude, it->path().lexically_relative(top).generic_u8string());
    if (pattern != nullptr) {
      listing->left_out.push_back({path, "left out by --exclude " + *pattern});
      it.disable_recursion_pending();
      continue;
    }
    std::error_code type_ec;
    bool is_folder = it->is_directory(type_ec);
    if (!CheckNotDangling(*it)) {
      ok = false;
      continue;
    }
    if (!is_folder && !it->is_regular_file(type_ec)) continue;
    fs::path relative = it->path().lexically_relative(top), real;
    std::string name, link, why;
    walking.resize(it.depth() + 1);
    if (!FollowLinks(dir, root, relative, path, &real, &link, &why) ||
        !StoredRelativeName(relative, &name, &why)) {
      ok = Refuse(path, why);
      if (is_folder) it.disable_recursion_pending();
      continue;
    }
    if (!link.empty()) listing->links.push_back({path, link});
    if (is_folder) {
      if (std::find(walking.begin(), walking.end(), real) != walking.end()) {
        ok = Refuse(path, "a link to " + link +
                              ", a folder that holds it; following it would "
                              "never end");
        it.disable_recursion_pending();
        continue;
      }
      walking.push_back(real);
      listing->folders.push_back(name);
      continue;
    }
    FolderFile file;
    file.name = name;
    file.path = path;
    file.link = link;
    file.size = it->file_size(type_ec);
    ok = AddFile(file, output, listing) && ok;
  }
  if (ec) return Refuse(dir, "cannot read the folder: " + ec.message());
  std::sort(
      listing->files.begin(), listing->files.end(),
      [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
  std::sort(listing->folders.begin(), listing->folders.end());
  return ok;
}

bool NameUnderFolder(const std::string& dir, const std::string& path,
                     std::string* name, std::string* link, std::string* why) {
  why->clear();
  std::error_code ec;
  std::string root;
  if (!ResolvedPath(dir, &root)) return false;
  // Under the folder as given, or through a link to it.
  fs::path file = fs::u8path(path);
  fs::path relative =
      fs::absolute(file, ec).lexically_normal().lexically_relative(
          fs::absolute(fs::u8path(dir), ec).lexically_normal());
  if (Outside(relative)) {
    fs::path parent = fs::canonical(
        file.has_parent_path() ? file.parent_path() : fs::path("."), ec);
    if (ec) return false;
    relative = (parent / file.filename()).lexically_relative(root);
    if (Outside(relative)) return false;
  }
  fs::path real;
  return FollowLinks(dir, root, relative, path, &real, link, why) &&
         StoredRelativeName(relative, name, why);
}
