// The files of a game folder as mkupdate packs them: every regular file
// under the folder, by its stored name (relative to the folder, code page
// 932, backslashes), in bytewise order of those names.
#ifndef TOOLS_MKUPDATE_FOLDER_FILES_H_
#define TOOLS_MKUPDATE_FOLDER_FILES_H_

#include <string>
#include <vector>

#include "platform/tool_system.h"

struct FolderFile {
  std::string name;  // stored
  std::string path;  // in the tool's text
  std::string link;  // where a link on its path leads inside the folder
  uint64_t size = 0;
  FileId id;
};

// A path in the folder and what to say of it: why it is not listed, or
// where the link it is leads.
struct PathNote {
  std::string path;
  std::string text;
};

struct FolderListing {
  std::vector<FolderFile> files;
  std::vector<std::string> folders;  // stored names of the folders under it
  std::vector<PathNote> left_out;
  std::vector<PathNote> links;  // every link met: its path, where it leads
};

// Lists dir. Left out: at the top of the folder the verification list and
// the uninstall list, which an update never records: the updater merges
// names into the installed uninst.lst, so no checksum of it holds after an
// update. Links are followed where they stay inside dir (the files keep the
// names they have where the link is); a link that leads outside dir, or to
// a folder above it, or to nothing, is refused, naming where it leads. So
// are names that cannot be stored, and the file output identifies (the
// pack's output, under another name), if any. All are refused before it
// returns false. What an exclude pattern leaves out (exclude.h) is noted in
// left_out and never looked into.
bool ListFolder(const std::string& dir, const FileId* output,
                const std::vector<std::string>& exclude,
                FolderListing* listing);

// The stored name of path relative to dir when path lies under dir, as
// given or through links to the folder, in *name, and in *link where a
// link on the way leads elsewhere inside dir. Returns false when it lies
// elsewhere (*why empty), cannot be stored, or is a link that leads
// outside dir (*why tells which).
bool NameUnderFolder(const std::string& dir, const std::string& path,
                     std::string* name, std::string* link, std::string* why);

#endif  // TOOLS_MKUPDATE_FOLDER_FILES_H_
