// The native build's entry: the same flow as the Windows program's WinMain.
#include "control/update_flow.h"

int main() { return RunUpdateFlow(); }
