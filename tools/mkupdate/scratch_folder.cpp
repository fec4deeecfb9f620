#include "tools/mkupdate/scratch_folder.h"

#include <stdlib.h>

#include <filesystem>

#include "platform/tool_system.h"

namespace fs = std::filesystem;

namespace {

const char kPrefix[] = "mkupdate-check-";

// True when name is a scratch folder's whose process has ended: it runs no
// more, or another process with its number started at another time.
bool LeftByEndedRun(const std::string& name) {
  if (name.compare(0, sizeof(kPrefix) - 1, kPrefix) != 0) return false;
  const char* at = name.c_str() + sizeof(kPrefix) - 1;
  char* end;
  unsigned long pid = strtoul(at, &end, 10);
  if (end == at || *end != '-') return false;
  at = end + 1;
  unsigned long long start = strtoull(at, &end, 10);
  if (end == at || *end != '\0') return false;
  uint64_t now;
  if (!ProcessStartTime(pid, &now)) return true;
  return now != kStartUnknown && now != start;
}

}  // namespace

bool TemporaryFolder(std::string* path, std::string* why) {
  std::error_code ec;
  fs::path temp = fs::temp_directory_path(ec);
  if (ec) {
    *why = "the system's temporary folder (TMPDIR): " + ec.message();
    return false;
  }
  *path = temp.u8string();
  return true;
}

bool MakeScratchFolder(const std::string& temp, std::string* scratch,
                       std::string* why) {
  std::error_code ec;
  for (fs::directory_iterator it(fs::u8path(temp), ec), last; !ec && it != last;
       it.increment(ec)) {
    std::string path = it->path().u8string();
    // Only a real folder of this user's: never a link, nor another's.
    if (LeftByEndedRun(it->path().filename().u8string()) && IsOwnFolder(path)) {
      std::error_code removed;
      fs::remove_all(it->path(), removed);
    }
  }
  uint64_t start = 0;
  ProcessStartTime(CurrentProcessId(), &start);
  fs::path dir =
      fs::u8path(temp) / (kPrefix + std::to_string(CurrentProcessId()) + "-" +
                          std::to_string(start));
  // What a run with this number and start left cannot be another's.
  fs::remove_all(dir, ec);
  if (!fs::create_directory(dir, ec)) {
    *why = "cannot make a folder in it: " +
           (ec ? ec.message() : std::string("it exists"));
    return false;
  }
  fs::permissions(dir, fs::perms::owner_all, ec);
  *scratch = dir.u8string();
  RemoveFolderOnInterrupt(*scratch);
  return true;
}

void RemoveScratchFolder(const std::string& scratch) {
  std::error_code ec;
  fs::remove_all(fs::u8path(scratch), ec);
  ForgetOnInterrupt();
}
