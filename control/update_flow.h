// The update flow: the program's whole visible behaviour, from the two
// mutexes to the result message and the exit code.
#ifndef CONTROL_UPDATE_FLOW_H_
#define CONTROL_UPDATE_FLOW_H_

#include <stdint.h>

#include "payload/result_code.h"

// Exit codes of the flow itself; an installation run's ResultCode passes
// through unchanged.
const int kExitAnotherUpdater = -4;
const int kExitGameRunning = -2;
const int kExitNotInstalled = -1;
const int kExitDeclined = -3;

// Runs the whole update and returns the process exit code.
int RunUpdateFlow();

#endif  // CONTROL_UPDATE_FLOW_H_
