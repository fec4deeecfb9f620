#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "tools/mkupdate/tool_os.h"

FILE* CreateTempFile(const std::string& folder, const std::string& stem,
                     std::string* path) {
  // _O_EXCL makes the name ours; on a clash try the next number.
  for (unsigned i = 0; i < 1000; i++) {
    std::string name = folder + "\\" + stem + "." +
                       std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(i) + ".tmp";
    int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr) {
      _close(fd);
      DeleteFileA(name.c_str());
      return nullptr;
    }
    *path = name;
    return file;
  }
  return nullptr;
}

bool SyncFile(FILE* file) {
  return fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool MakeExecutable(const std::string&) { return true; }

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool IsTerminal(FILE* file) { return _isatty(_fileno(file)) != 0; }
