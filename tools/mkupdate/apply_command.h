// mkupdate apply: an update installed into a folder by the updater's own
// installation run, for trying an update before it ships (on Linux too).
// No registry, no question, no mutex: only what the run does.
#ifndef TOOLS_MKUPDATE_APPLY_COMMAND_H_
#define TOOLS_MKUPDATE_APPLY_COMMAND_H_

#include <string>

#include "payload/result_code.h"

struct ApplyOptions {
  std::string update;
  std::string folder;
  bool quiet = false;  // no line for a success
};

// The updater's installation run (InstallPayload) of update into folder,
// both given in the tool's text. Returns false, after refusing and with
// nothing written, when either cannot be reached by the run's paths (code
// page 932, backslashes); else true with the run's result in *result.
bool ApplyUpdate(const std::string& update, const std::string& folder,
                 ResultCode* result);

// "0x80000004 (<the updater's message>)": the result as the updater ends
// with it and the text its box would show, in the tool's text.
std::string DescribeResult(ResultCode result);

// Installs the update and prints the result as the updater would show it.
// Returns kExitOk on kResultOk; kExitRefused when the run failed (its code
// and text printed); kExitCannotCheck when the run cannot be started: the
// update or the folder missing, or a path the run cannot be given.
int RunApply(const ApplyOptions& options);

#endif  // TOOLS_MKUPDATE_APPLY_COMMAND_H_
