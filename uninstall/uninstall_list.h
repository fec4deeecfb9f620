// Merges installed file names into the game's uninstall list "uninst.lst":
// a list of names, one per line ended by a line feed, stored together with
// the NUL that ends the text.
#ifndef UNINSTALL_UNINSTALL_LIST_H_
#define UNINSTALL_UNINSTALL_LIST_H_

#include <stdint.h>

const uint32_t kUninstallBufferSize = 1048576;
const char kUninstallListName[] = "uninst.lst";

// Appends each name (a null-terminated array of NUL-terminated names) that
// does not already occur anywhere in the list's text, case-sensitively, and
// rewrites the list. Returns nonzero on success. The list must exist and be
// well formed (non-empty, one NUL, at its end); a list that cannot be read,
// is malformed or would outgrow the buffer is left unchanged (0). The merged
// list replaces the old one whole (ReplaceWholeFile): on any failure (0) the
// list is byte for byte as it was.
int UpdateUninstallList(const char* install_folder, const char* const* names);

#endif  // UNINSTALL_UNINSTALL_LIST_H_
