// mkupdate list and verify: what an update carries, and whether an installed
// folder matches a verification list. Both return kExitOk, kExitDiffers
// (a mismatch, a missing or differing file) or kExitCannotCheck (no update,
// a damaged list, something unreadable), diffs winning.
#ifndef TOOLS_MKUPDATE_INSPECT_H_
#define TOOLS_MKUPDATE_INSPECT_H_

#include <string>

struct ListOptions {
  std::string file;
  bool json = false;
  bool records = false;  // also the verification list's records
};

// Prints the update's directory, one line per entry with its checksum and
// its state against the update's own verification list.
int RunList(const ListOptions& options);

struct VerifyOptions {
  std::string list;  // a vrx.hvl file, or an update that carries one
  std::string dir;
  bool json = false;
};

// Checks every file the list names in dir, and prints the missing, the
// differing and the unreadable ones.
int RunVerify(const VerifyOptions& options);

#endif  // TOOLS_MKUPDATE_INSPECT_H_
