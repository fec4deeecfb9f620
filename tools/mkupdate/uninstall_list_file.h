// The game's uninstall list, uninst.lst at the top of a release, as the
// updater merges the installed names into it: for pack, which refuses a
// release whose list every player's update would fail on, and for apply and
// check, which say why the updater could not merge.
#ifndef TOOLS_MKUPDATE_UNINSTALL_LIST_FILE_H_
#define TOOLS_MKUPDATE_UNINSTALL_LIST_FILE_H_

#include <string>
#include <vector>

// What is wrong with folder's uninst.lst, each a sentence: missing or no
// file; lines not each ended by a line feed alone; not exactly one NUL, its
// last byte; a line that is no code page 932 text; or no room left in the
// updater's 1 MiB for the names, each with its line feed, that it would
// add (those not yet one of its lines). Empty when it is sound.
std::vector<std::string> UninstallListProblems(
    const std::string& folder, const std::vector<std::string>& added);

#endif  // TOOLS_MKUPDATE_UNINSTALL_LIST_FILE_H_
