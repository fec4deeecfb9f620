#include "tools/mkupdate/folder_files.h"

#include <algorithm>
#include <filesystem>

#include "payload/verification_list.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"
#include "uninstall/uninstall_list.h"

namespace fs = std::filesystem;

namespace {

const char kBackslashInName[] =
    "its name holds a backslash, which the updater reads as a folder "
    "separator";

// The stored name of a path relative to its folder, or false after saying
// why it has none.
bool StoredRelativeName(const fs::path& relative, const std::string& path,
                        std::string* name) {
  std::string text;
  for (const fs::path& part : relative) {
    std::string s = part.u8string();
    if (s.find('\\') != std::string::npos) {
      return Refuse(path, kBackslashInName);
    }
    text += (text.empty() ? "" : "\\") + s;
  }
  std::string why;
  return ToStoredName(text, name, &why) || Refuse(path, why);
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

}  // namespace

bool ListFolder(const std::string& dir, const FileId* skip,
                FolderListing* listing) {
  std::error_code ec;
  fs::path root = fs::u8path(dir);
  if (!fs::is_directory(root, ec)) return Refuse(dir, "not a folder");
  bool ok = true;
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string path = it->path().u8string();
    std::string name;
    std::error_code type_ec;
    bool is_folder = it->is_directory(type_ec);
    if (!is_folder && !it->is_regular_file(type_ec)) continue;
    if (!StoredRelativeName(it->path().lexically_relative(root), path, &name)) {
      ok = false;
      continue;
    }
    if (is_folder) {
      listing->folders.push_back(name);
      continue;
    }
    FolderFile file;
    file.name = name;
    file.path = path;
    file.size = it->file_size(type_ec);
    GetFileId(path, &file.id);
    const char* left_out = skip != nullptr && file.id == *skip
                               ? "it is the output"
                               : LeftOutAtTop(name);
    if (left_out != nullptr) {
      listing->left_out.push_back({path, left_out});
    } else {
      listing->files.push_back(file);
    }
  }
  if (ec) return Refuse(dir, "cannot read the folder: " + ec.message());
  std::sort(
      listing->files.begin(), listing->files.end(),
      [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; });
  std::sort(listing->folders.begin(), listing->folders.end());
  return ok;
}

bool NameUnderFolder(const std::string& dir, const std::string& path,
                     std::string* name, std::string* why) {
  why->clear();
  std::error_code ec;
  fs::path file = fs::u8path(path);
  fs::path folder = fs::canonical(fs::u8path(dir), ec);
  if (ec) return false;
  fs::path parent = fs::canonical(
      file.has_parent_path() ? file.parent_path() : fs::path("."), ec);
  if (ec) return false;
  fs::path relative = (parent / file.filename()).lexically_relative(folder);
  if (relative.empty() || *relative.begin() == "..") return false;
  std::string text;
  for (const fs::path& part : relative) {
    std::string s = part.u8string();
    if (s.find('\\') != std::string::npos) {
      *why = kBackslashInName;
      return false;
    }
    text += (text.empty() ? "" : "\\") + s;
  }
  return ToStoredName(text, name, why);
}
