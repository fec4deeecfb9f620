#include "platform/path.h"

#include <stdio.h>

int JoinPath(const char* folder, const char* name, char* out) {
  int n = snprintf(out, kMaxPath, "%s\\%s", folder, name);
  if (n < 0 || static_cast<size_t>(n) >= kMaxPath) {
    out[0] = '\0';
    return 0;
  }
  return 1;
}
