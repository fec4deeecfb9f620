/* pause_shim: stops a process at one exact call, so that a test can act as
 * an attacker at that moment and at no other. Preloaded into the program
 * under test (LD_PRELOAD), it watches every open: the PAUSE_SHIM_NTH-th
 * (first by default) open of a name whose last part is $PAUSE_SHIM_AT (or,
 * when that starts with '*', ends in the rest of it) waits before it is
 * made. The shim then writes the name into $PAUSE_SHIM_DIR/paused and waits
 * until $PAUSE_SHIM_DIR/go exists (a minute at most); without
 * PAUSE_SHIM_DIR the process stops itself (SIGSTOP) until a SIGCONT. Every
 * other call passes straight through. It serves the native updater,
 * mkupdate, and Wine's server, which makes the opens of Windows programs. */
#undef _FILE_OFFSET_BITS /* open and open64 are each defined here */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int g_seen;
static int g_done;

static const char* LastPart(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash != NULL ? slash + 1 : path;
}

static int Matches(const char* path, const char* at) {
  const char* last = LastPart(path);
  size_t n = strlen(last), m;
  if (at[0] != '*') return strcmp(last, at) == 0;
  m = strlen(at + 1);
  return n >= m && strcmp(last + n - m, at + 1) == 0;
}

static void PauseAt(const char* path) {
  const char* at = getenv("PAUSE_SHIM_AT");
  const char* dir = getenv("PAUSE_SHIM_DIR");
  const char* nth = getenv("PAUSE_SHIM_NTH");
  char temp[4096], paused[4096], go[4096];
  FILE* f;
  int i;
  if (g_done || at == NULL || path == NULL || !Matches(path, at) ||
      ++g_seen < (nth != NULL ? atoi(nth) : 1)) {
    return;
  }
  g_done = 1; /* before the shim's own opens below */
  if (dir == NULL) {
    raise(SIGSTOP);
    return;
  }
  snprintf(temp, sizeof(temp), "%s/paused.tmp", dir);
  snprintf(paused, sizeof(paused), "%s/paused", dir);
  snprintf(go, sizeof(go), "%s/go", dir);
  f = fopen(temp, "w");
  if (f != NULL) {
    fputs(path, f);
    fclose(f);
    rename(temp, paused); /* seen whole, or not at all */
  }
  for (i = 0; i < 60000 && access(go, F_OK) != 0; i++) {
    struct timespec ms = {0, 1000000};
    nanosleep(&ms, NULL);
  }
}

/* The mode that follows flags when the call creates a file. */
#define MODE_OF(flags, mode)                    \
  do {                                          \
    if ((flags) & (O_CREAT | O_TMPFILE)) {      \
      va_list args;                             \
      va_start(args, flags);                    \
      mode = (mode_t)va_arg(args, int);         \
      va_end(args);                             \
    }                                           \
  } while (0)

typedef int (*OpenFn)(const char*, int, ...);
typedef int (*OpenAtFn)(int, const char*, int, ...);

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_OF(flags, mode);
  PauseAt(path);
  return ((OpenFn)dlsym(RTLD_NEXT, "open"))(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_OF(flags, mode);
  PauseAt(path);
  return ((OpenFn)dlsym(RTLD_NEXT, "open64"))(path, flags, mode);
}

int openat(int dir, const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_OF(flags, mode);
  PauseAt(path);
  return ((OpenAtFn)dlsym(RTLD_NEXT, "openat"))(dir, path, flags, mode);
}

int openat64(int dir, const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_OF(flags, mode);
  PauseAt(path);
  return ((OpenAtFn)dlsym(RTLD_NEXT, "openat64"))(dir, path, flags, mode);
}
