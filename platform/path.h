// Windows paths as the updater builds them: folder, backslash, name, in a
// buffer of MAX_PATH (260) bytes.
#ifndef PLATFORM_PATH_H_
#define PLATFORM_PATH_H_

#include <stddef.h>

const size_t kMaxPath = 260;

// Writes "left\right" into out (size bytes). Returns 0, leaving out empty
// (when size allows), if the result and its terminator would not fit. out
// may be left itself, to extend a path in place; right must not overlap out.
int JoinWithBackslash(const char* left, const char* right, char* out,
                      size_t size);

// Writes left and suffix, with nothing between them, into out, as
// JoinWithBackslash does.
int JoinWithSuffix(const char* left, const char* suffix, char* out,
                   size_t size);

// Writes "folder\name" into out (kMaxPath bytes), as JoinWithBackslash.
int JoinPath(const char* folder, const char* name, char* out);

#endif  // PLATFORM_PATH_H_
