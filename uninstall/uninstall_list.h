// Merges installed file names into the game's uninstall list "uninst.lst":
// a list of names, one per line ended by a line feed, stored together with
// the NUL that ends the text.
#ifndef UNINSTALL_UNINSTALL_LIST_H_
#define UNINSTALL_UNINSTALL_LIST_H_

#include <stdint.h>

const uint32_t kUninstallBufferSize = 1048576;
const char kUninstallListName[] = "uninst.lst";

// Appends each name (a null-terminated array of NUL-terminated names) that
// is not already one of the list's lines, byte for byte, and rewrites the
// list; a last line without its line feed gets one first. Returns nonzero
// on success. The list must exist as a file (not a link) and be well
// formed (non-empty, one NUL, at its end); a list that cannot be read, is
// malformed or would outgrow the buffer is left unchanged (0). The merged
// list replaces the old one whole (platform/file_replace.h): on any failure (0)
// the list is byte for byte as it was.
int UpdateUninstallList(const char* install_folder, const char* const* names);

// UpdateUninstallList in two steps, so that the merged list waits beside
// the old one while other files are moved: the merged list written to its
// temporary file and flushed (nonzero when it is there; on failure none is
// left), then moved over the list (nonzero on success; on failure the list
// is as it was and the temporary file gone), or removed.
int StageUninstallList(const char* install_folder, const char* const* names);
int MoveStagedUninstallList(const char* install_folder);
void RemoveStagedUninstallList(const char* install_folder);

#endif  // UNINSTALL_UNINSTALL_LIST_H_
