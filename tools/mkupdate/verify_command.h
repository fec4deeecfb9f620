// mkupdate verify: whether an installed folder matches a verification list.
#ifndef TOOLS_MKUPDATE_VERIFY_COMMAND_H_
#define TOOLS_MKUPDATE_VERIFY_COMMAND_H_

#include <string>

struct VerifyOptions {
  std::string list;  // a vrx.hvl file, or an update that carries one
  std::string dir;
  bool json = false;
};

// Checks every file the list names in dir, and prints the missing, the
// differing and the unreadable ones. Returns kExitOk, kExitDiffers (a
// missing or differing file) or kExitCannotCheck (a damaged list,
// something unreadable), the difference winning.
int RunVerify(const VerifyOptions& options);

#endif  // TOOLS_MKUPDATE_VERIFY_COMMAND_H_
