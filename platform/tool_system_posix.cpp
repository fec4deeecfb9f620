#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/tool_system.h"

namespace {

const int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};
char g_remove_path[4096];
volatile sig_atomic_t g_remove_set = 0;
volatile sig_atomic_t g_remove_folder = 0;

// Removes name in dir, and everything in it when it is a folder, with calls
// a signal handler may make (no memory, no locks); links are removed, never
// followed. depth bounds how far down it goes.
void RemoveTreeAt(int dir, const char* name, int depth) {
  if (unlinkat(dir, name, 0) == 0 || (errno != EISDIR && errno != EPERM)) {
    return;
  }
  int fd = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  // Listed again from the start after each batch: removing names while
  // reading the listing may skip some.
  for (bool removed = depth > 0; removed;) {
    removed = false;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096] __attribute__((aligned(8)));
    ssize_t n = getdents64(fd, buffer, sizeof(buffer));
    for (ssize_t at = 0; at < n;) {
      const struct dirent64* entry =
          reinterpret_cast<const struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
        continue;
      }
      RemoveTreeAt(fd, entry->d_name, depth - 1);
      removed = true;
    }
  }
  close(fd);
  unlinkat(dir, name, AT_REMOVEDIR);
}

void OnInterrupt(int sig) {
  if (g_remove_set && g_remove_folder) {
    RemoveTreeAt(AT_FDCWD, g_remove_path, 64);
  } else if (g_remove_set) {
    unlink(g_remove_path);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

// Runs with the interrupt signals held back, so that the handler never sees
// the path half-written.
template <typename F>
void WithSignalsBlocked(F f) {
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : kInterruptSignals) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &old);
  f();
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

std::vector<std::string> ToolArguments(int argc, char** argv) {
  setlocale(LC_CTYPE, "");
  UsePathCoding(kToolPaths);
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

FILE* OpenFile(const std::string& path, const char* mode) {
  return fopen(path.c_str(), mode);
}

bool GetFileId(const std::string& path, FileId* id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  id->volume = st.st_dev;
  id->index = st.st_ino;
  return true;
}

bool ResolvedPath(const std::string& path, std::string* resolved) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  *resolved = real;
  free(real);
  return true;
}

unsigned long CurrentProcessId() {
  return static_cast<unsigned long>(getpid());
}

bool ProcessStartTime(unsigned long pid, uint64_t* start) {
  char path[64];
  snprintf(path, sizeof(path), "/proc/%lu/stat", pid);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return false;
  char line[1024];
  size_t n = fread(line, 1, sizeof(line) - 1, f);
  fclose(f);
  line[n] = '\0';
  // The name, in parentheses, may hold anything: the fields after the last
  // ')' are the state (the 3rd) and on to the start time, the 22nd. A
  // process that has ended but is not yet waited for runs no more.
  const char* at = strrchr(line, ')');
  if (at != nullptr &&
      (strncmp(at, ") Z", 3) == 0 || strncmp(at, ") X", 3) == 0)) {
    return false;
  }
  *start = kStartUnknown;
  for (int field = 2; at != nullptr && field < 22; field++) {
    at = strchr(at + 1, ' ');
  }
  if (at != nullptr) *start = strtoull(at + 1, nullptr, 10);
  return true;
}

bool IsOwnFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         st.st_uid == geteuid();
}

bool OwnExecutablePath(std::string* path) {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(buffer)) return false;
  path->assign(buffer, static_cast<size_t>(n));
  return true;
}

SystemError LastSystemError() {
  SystemError error;
  int e = errno;
  error.text = strerror(e);
  error.machine = e == ENOSPC || e == EDQUOT || e == EROFS || e == EIO ||
                  e == ENOMEM || e == EMFILE || e == ENFILE || e == EFBIG;
  return error;
}

namespace {

void InstallInterruptHandlers() {
  static bool installed = false;
  if (!installed) {
    for (int sig : kInterruptSignals) {
      struct sigaction action;
      memset(&action, 0, sizeof(action));
      action.sa_handler = OnInterrupt;
      sigemptyset(&action.sa_mask);
      // An interruption the user's shell ignores stays ignored.
      struct sigaction old;
      sigaction(sig, nullptr, &old);
      if (old.sa_handler != SIG_IGN) sigaction(sig, &action, nullptr);
    }
    installed = true;
  }
}

void SetRemovePath(const std::string& path, bool folder) {
  InstallInterruptHandlers();
  WithSignalsBlocked([&] {
    size_t n = std::min(path.size(), sizeof(g_remove_path) - 1);
    memcpy(g_remove_path, path.data(), n);
    g_remove_path[n] = '\0';
    g_remove_folder = folder;
    g_remove_set = n == path.size();
  });
}

}  // namespace

void RemoveOnInterrupt(const std::string& path, FileHandle) {
  // A file open here can be removed all the same.
  SetRemovePath(path, false);
}

void RemoveFolderOnInterrupt(const std::string& path) {
  SetRemovePath(path, true);
}

void ForgetOnInterrupt() {
  WithSignalsBlocked([] { g_remove_set = 0; });
}

bool IsTerminal(FILE* file) { return isatty(fileno(file)) != 0; }

void WriteText(FILE* stream, const std::string& text) {
  fwrite(text.data(), 1, text.size(), stream);
}

std::string ShellWord(const std::string& text) {
  const char kPlain[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
      "_-+./=:,@%";
  if (!text.empty() && text.find_first_not_of(kPlain) == std::string::npos) {
    return text;
  }
  std::string out = "'";
  for (char c : text)
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}
