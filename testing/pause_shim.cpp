// An LD_PRELOAD library for the process tests: the program stops itself
// (SIGSTOP) the first time it creates a file whose name ends in
// $PAUSE_AT_CREATE, before the file is made, so that a test can act at that
// very call (send a signal, look at the disk) and then let it go on with
// SIGCONT. Without the variable it changes nothing.
//
// Both openat and openat64 are defined here, whichever a program calls;
// with 64-bit offsets the headers would make the first a second openat64.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

namespace {

typedef int (*OpenAtFn)(int, const char*, int, ...);

void PauseIfAsked(const char* path, int flags) {
  static bool paused = false;
  const char* suffix = getenv("PAUSE_AT_CREATE");
  if (paused || suffix == nullptr || (flags & O_CREAT) == 0) return;
  size_t n = strlen(path), m = strlen(suffix);
  if (n < m || strcmp(path + n - m, suffix) != 0) return;
  paused = true;
  raise(SIGSTOP);
}

int CallOpenAt(const char* name, int dir, const char* path, int flags,
               mode_t mode) {
  PauseIfAsked(path, flags);
  OpenAtFn real = reinterpret_cast<OpenAtFn>(dlsym(RTLD_NEXT, name));
  return real(dir, path, flags, mode);
}

}  // namespace

extern "C" int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, int) : 0;
  va_end(args);
  return CallOpenAt("openat", dir, path, flags, mode);
}

extern "C" int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & O_CREAT) != 0 ? va_arg(args, int) : 0;
  va_end(args);
  return CallOpenAt("openat64", dir, path, flags, mode);
}
