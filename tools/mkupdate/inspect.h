// mkupdate list and verify: what an update carries, and whether an installed
// folder matches a verification list.
#ifndef TOOLS_MKUPDATE_INSPECT_H_
#define TOOLS_MKUPDATE_INSPECT_H_

#include <string>

// Prints the update's directory, one line per entry with its checksum and
// its state against the update's own verification list. Returns 0, or 1
// when the payload or an entry cannot be read, the list is damaged, or an
// entry mismatches.
int RunList(const std::string& path);

// Checks every file the list names in dir and prints the missing and the
// differing ones. Returns 0 when all match, 1 otherwise or when the list
// cannot be read.
int RunVerify(const std::string& list_path, const std::string& dir);

#endif  // TOOLS_MKUPDATE_INSPECT_H_
