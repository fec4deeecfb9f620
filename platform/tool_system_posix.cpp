#include <locale.h>
#include <signal.h>
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

void OnInterrupt(int sig) {
  if (g_remove_set) unlink(g_remove_path);
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

void RemoveOnInterrupt(const std::string& path, FileHandle) {
  // A file open here can be removed all the same.
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
  WithSignalsBlocked([&] {
    size_t n = std::min(path.size(), sizeof(g_remove_path) - 1);
    memcpy(g_remove_path, path.data(), n);
    g_remove_path[n] = '\0';
    g_remove_set = n == path.size();
  });
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
