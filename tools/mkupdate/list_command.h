// mkupdate list: what an update carries, and the state of each entry
// against the update's own verification list.
#ifndef TOOLS_MKUPDATE_LIST_COMMAND_H_
#define TOOLS_MKUPDATE_LIST_COMMAND_H_

#include <string>

struct ListOptions {
  std::string file;
  bool json = false;
  bool records = false;  // also the verification list's records
};

// Prints the update's directory, one line per entry with its checksum and
// its state against the update's own verification list. Returns kExitOk,
// kExitDiffers (an entry mismatches) or kExitCannotCheck (no update, a
// damaged list, an entry that cannot be read), the mismatch winning.
int RunList(const ListOptions& options);

#endif  // TOOLS_MKUPDATE_LIST_COMMAND_H_
