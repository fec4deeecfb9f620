// The game's install folder, as its installer left it in the registry.
#ifndef CONTROL_INSTALL_FOLDER_H_
#define CONTROL_INSTALL_FOLDER_H_

// Reads the install folder from the registry into folder (kMaxPath bytes).
// Returns nonzero if a non-empty REG_SZ value was found; the result is
// always NUL-terminated.
int FindInstallFolder(char* folder);

#endif  // CONTROL_INSTALL_FOLDER_H_
