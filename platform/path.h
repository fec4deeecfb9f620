// Windows paths as the updater builds them: folder, backslash, name, in a
// buffer of MAX_PATH (260) bytes.
#ifndef PLATFORM_PATH_H_
#define PLATFORM_PATH_H_

#include <stddef.h>

const size_t kMaxPath = 260;

// Writes "folder\name" into out (kMaxPath bytes). Returns 0, leaving out
// empty, if the result and its terminator would not fit.
int JoinPath(const char* folder, const char* name, char* out);

#endif  // PLATFORM_PATH_H_
