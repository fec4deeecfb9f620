// The Windows program's entry. Its arguments are ignored: the updater takes
// nothing from its command line.
#include <windows.h>

#include "control/update_flow.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunUpdateFlow(); }
