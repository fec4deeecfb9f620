#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "tools/mkupdate/tool_os.h"

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

bool MakeExecutable(const std::string& path) {
  // The tool is single-threaded, so reading the umask this way is safe.
  mode_t mask = umask(0);
  umask(mask);
  return chmod(path.c_str(), 0777 & ~mask) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool IsTerminal(FILE* file) { return isatty(fileno(file)) != 0; }
