// Merges installed file names into the game's uninstall list "uninst.lst":
// a list of names, one per line ended by a line feed, stored together with
// the NUL that ends the text.
#ifndef UNINSTALL_UNINSTALL_LIST_H_
#define UNINSTALL_UNINSTALL_LIST_H_

#include <stdint.h>

#include "platform/platform.h"

const uint32_t kUninstallBufferSize = 1048576;
const char kUninstallListName[] = "uninst.lst";

// The merge, in two steps, so that the merged list waits beside the old one
// while other files are moved. StageUninstallList appends each name (a
// null-terminated array of NUL-terminated names) that is not already one of
// the list's lines, byte for byte (a last line without its line feed gets
// one first), and writes the merged list to its temporary file in the held
// install folder, flushed; nonzero when it is there, and on failure none is
// left. The list must exist as a file (not a link, nor one with other
// names) and be well formed (non-empty, one NUL, at its end); one that
// cannot be read, is malformed or would outgrow the buffer fails.
// MoveStagedUninstallList moves it over the list and flushes the folder
// (nonzero on success; on failure the list is byte for byte as it was and the
// temporary file gone); RemoveStagedUninstallList removes it instead.
int StageUninstallList(FolderHandle install_folder, const char* const* names);
int MoveStagedUninstallList(FolderHandle install_folder);
void RemoveStagedUninstallList(FolderHandle install_folder);

#endif  // UNINSTALL_UNINSTALL_LIST_H_
