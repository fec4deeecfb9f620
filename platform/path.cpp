#include "platform/path.h"

#include <string.h>

namespace {

// left, the separator (when not NUL) and right, with the terminator, in out.
// Written out rather than with snprintf: the Windows program's C runtime
// would bring its whole formatted-output engine along for this one join.
int Concatenate(const char* left, char separator, const char* right, char* out,
                size_t size) {
  size_t left_length = strlen(left);
  size_t right_length = strlen(right);
  size_t separator_length = separator != '\0' ? 1 : 0;
  // Both strings are in memory, so right_length + 2 cannot overflow.
  if (left_length >= size ||
      right_length + separator_length + 1 > size - left_length) {
    if (size > 0) out[0] = '\0';
    return 0;
  }
  memmove(out, left, left_length);
  if (separator_length != 0) out[left_length] = separator;
  memcpy(out + left_length + separator_length, right, right_length + 1);
  return 1;
}

}  // namespace

int JoinWithBackslash(const char* left, const char* right, char* out,
                      size_t size) {
  return Concatenate(left, '\\', right, out, size);
}

int JoinWithSuffix(const char* left, const char* suffix, char* out,
                   size_t size) {
  return Concatenate(left, '\0', suffix, out, size);
}

int JoinPath(const char* folder, const char* name, char* out) {
  return JoinWithBackslash(folder, name, out, kMaxPath);
}
