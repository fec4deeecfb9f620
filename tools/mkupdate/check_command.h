// mkupdate check: whether an update, or the updates of a split one run in
// order, bring every old release to the new one, tried by the updater's own
// installation run on a scratch copy of each.
#ifndef TOOLS_MKUPDATE_CHECK_COMMAND_H_
#define TOOLS_MKUPDATE_CHECK_COMMAND_H_

#include <string>
#include <vector>

struct CheckOptions {
  std::vector<std::string> updates;  // the finished files, signed or not
  std::vector<std::string> from;
  std::string to;
  std::vector<std::string> exclude;  // files of NEW not compared
  bool json = false;
};

// For each old release: copies it into a folder of this run's own under
// the system's temporary folder, installs the updates there one after the
// other as the updater would (ApplyUpdate; a failing one ends the
// release's run), and compares the folder with the new release: every file
// of it present with its bytes, and every entry the updates installed named
// in the uninstall list. The folder is removed afterwards, and on an
// interruption; what runs that no longer run left there is removed first.
// Returns kExitOk when every old release became the new one, kExitDiffers
// when one did not (each file that differs or is missing named, per
// release, or what failed in the run), kExitCannotCheck when none differs
// but one could not be tried: an update or a release that cannot be read,
// or a temporary folder that cannot hold the copy (named, with the
// system's reason).
int RunCheck(const CheckOptions& options);

#endif  // TOOLS_MKUPDATE_CHECK_COMMAND_H_
