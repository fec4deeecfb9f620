// mkupdate check: whether an update brings every old release to the new
// one, tried by the updater's own installation run on a scratch copy of
// each.
#ifndef TOOLS_MKUPDATE_CHECK_COMMAND_H_
#define TOOLS_MKUPDATE_CHECK_COMMAND_H_

#include <string>
#include <vector>

struct CheckOptions {
  std::string update;  // the finished file, signed or not
  std::vector<std::string> from;
  std::string to;
  std::vector<std::string> exclude;  // files of NEW not compared
  bool json = false;
};

// For each old release: copies it into a temporary folder, installs the
// update there as the updater would (ApplyUpdate), and compares the folder
// with the new release: every file of it present with its bytes, and every
// entry the update installed named in the uninstall list. The folder is
// removed afterwards. Returns kExitOk when every old release became the new
// one, kExitDiffers when one did not (each file that differs or is missing
// named, per release), kExitCannotCheck when a release or the update cannot
// be read or copied.
int RunCheck(const CheckOptions& options);

#endif  // TOOLS_MKUPDATE_CHECK_COMMAND_H_
