#include "platform/path.h"

#include <string.h>

// Written out rather than with snprintf: the Windows program's C runtime
// would bring its whole formatted-output engine along for this one join.
int JoinWithBackslash(const char* left, const char* right, char* out,
                      size_t size) {
  size_t left_length = strlen(left);
  size_t right_length = strlen(right);
  // Both strings are in memory, so right_length + 2 cannot overflow.
  if (left_length >= size || right_length + 2 > size - left_length) {
    if (size > 0) out[0] = '\0';
    return 0;
  }
  memmove(out, left, left_length);
  out[left_length] = '\\';
  memcpy(out + left_length + 1, right, right_length + 1);
  return 1;
}

int JoinPath(const char* folder, const char* name, char* out) {
  return JoinWithBackslash(folder, name, out, kMaxPath);
}
