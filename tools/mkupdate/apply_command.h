// mkupdate apply: an update installed into a folder by the updater's own
// installation run, for trying an update before it ships (on Linux too).
// No registry, no question, no mutex: only what the run does.
#ifndef TOOLS_MKUPDATE_APPLY_COMMAND_H_
#define TOOLS_MKUPDATE_APPLY_COMMAND_H_

#include <string>
#include <vector>

#include "payload/result_code.h"

struct ApplyOptions {
  std::string update;
  std::string folder;
  bool quiet = false;  // no line for a success
};

// What a run of the updater did to a folder, as apply saw it.
struct ApplyOutcome {
  ResultCode result = 0;
  // After a failure: what failed, "FILE: what: the system's reason" where
  // the run's calls or the update tell it, else "".
  std::string failure;
  // True when the failure is the machine's (no room left, a read-only disk,
  // an input/output error), not the update's or the folder's.
  bool machine = false;
  // After a success: each entry the folder does not hold under its name
  // with its bytes, "missing NAME" or "differs NAME"; the run's 0 is no
  // success then.
  std::vector<std::string> not_in_place;
  bool ok() const { return result == 0 && not_in_place.empty(); }
};

// The updater's installation run (InstallPayload) of update into folder,
// both given in the tool's text; then, after a success, every entry looked
// for in the folder by the tool's own name for it. Returns false, after
// refusing and with nothing written, when either cannot be reached by the
// run's paths (code page 932, backslashes); else true with what happened in
// *outcome.
bool ApplyUpdate(const std::string& update, const std::string& folder,
                 ApplyOutcome* outcome);

// "0x80000004 (<the updater's message>)": the result as the updater ends
// with it and the text its box would show, in the tool's text.
std::string DescribeResult(ResultCode result);

// Installs the update and prints the result as the updater would show it,
// and what failed. Returns kExitOk when the run succeeded and every entry
// is in place; kExitRefused when the run failed (its code, text and what
// failed printed) or an entry is not in place; kExitCannotCheck when the
// run cannot be started: the update or the folder missing, or a path the
// run cannot be given.
int RunApply(const ApplyOptions& options);

#endif  // TOOLS_MKUPDATE_APPLY_COMMAND_H_
