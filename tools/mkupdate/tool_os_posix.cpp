#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tools/mkupdate/tool_os.h"

namespace {

// The codeset of the tool's text. The C locale says ASCII, but the names
// publishers give are UTF-8 there as everywhere else on these systems.
const std::string& TextCodeset() {
  static const std::string codeset = [] {
    std::string name = nl_langinfo(CODESET);
    if (name == "ANSI_X3.4-1968" || name == "ASCII" || name.empty()) {
      return std::string("UTF-8");
    }
    return name;
  }();
  return codeset;
}

bool Convert(const std::string& to, const std::string& from,
             const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  bool ok = true;
  // A final call with no input flushes any shift state.
  for (bool flushing = false; ok;) {
    char buffer[256];
    char* dst = buffer;
    size_t dst_left = sizeof(buffer);
    size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dst_left)
                        : iconv(cd, &src, &src_left, &dst, &dst_left);
    out->append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) ok = false;
    if (r != static_cast<size_t>(-1)) {
      if (flushing) break;
      flushing = true;
    }
  }
  iconv_close(cd);
  return ok;
}

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

FILE* CreateTempFile(const std::string& folder, const std::string& stem,
                     std::string* path) {
  std::string pattern = folder + "/." + stem + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    unlink(name.data());
    return nullptr;
  }
  *path = name.data();
  return file;
}

bool SyncFile(FILE* file) {
  return fflush(file) == 0 && fsync(fileno(file)) == 0;
}

void StartWriteBack(FILE* file) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (fflush(file) == 0) {
    sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
#else
  (void)file;
#endif
}

bool MakeExecutable(const std::string& path) {
  // The tool is single-threaded, so reading the umask this way is safe.
  mode_t mask = umask(0);
  umask(mask);
  return chmod(path.c_str(), 0777 & ~mask) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

void RemoveOnInterrupt(const std::string& path) {
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

bool TextToCodePage932(const std::string& text, std::string* cp932) {
  std::string back;
  return Convert("CP932", TextCodeset(), text, cp932) &&
         Convert(TextCodeset(), "CP932", *cp932, &back) && back == text;
}

bool CodePage932ToText(const std::string& cp932, bool utf8, std::string* text) {
  return Convert(utf8 ? "UTF-8" : TextCodeset(), "CP932", cp932, text);
}

bool TextIsUtf8() {
  return TextCodeset() == "UTF-8" || TextCodeset() == "utf8";
}

void WriteText(FILE* stream, const std::string& text) {
  fwrite(text.data(), 1, text.size(), stream);
}

std::string ReaderPath(const std::string& path) { return path; }

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
