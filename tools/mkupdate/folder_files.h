// The files of a game folder as mkupdate packs them: every regular file
// under the folder, by its stored name (relative to the folder, code page
// 932, backslashes), in bytewise order of those names.
#ifndef TOOLS_MKUPDATE_FOLDER_FILES_H_
#define TOOLS_MKUPDATE_FOLDER_FILES_H_

#include <string>
#include <vector>

#include "tools/mkupdate/tool_os.h"

struct FolderFile {
  std::string name;  // stored
  std::string path;  // in the tool's text
  uint64_t size = 0;
  FileId id;
};

// A file of the folder that is not listed, and why.
struct LeftOut {
  std::string path;
  std::string reason;
};

struct FolderListing {
  std::vector<FolderFile> files;
  std::vector<std::string> folders;  // stored names of the folders under it
  std::vector<LeftOut> left_out;
};

// Lists dir. Left out: the file skip names (the output of the pack, which
// must never record itself), and at the top of the folder the verification
// list and the uninstall list, which an update never records: the updater
// merges names into the installed uninst.lst, so no checksum of it holds
// after an update. Names that cannot be stored are refused, all of them
// before it returns false.
bool ListFolder(const std::string& dir, const FileId* skip,
                FolderListing* listing);

// The stored name of path relative to dir when path lies under dir (links
// resolved), in *name; false when it lies elsewhere or cannot be stored
// (*why tells which, empty when elsewhere).
bool NameUnderFolder(const std::string& dir, const std::string& path,
                     std::string* name, std::string* why);

#endif  // TOOLS_MKUPDATE_FOLDER_FILES_H_
