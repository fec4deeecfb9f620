// The order of the native updater's own system calls, traced with strace:
// every file it replaces is written under its temporary name, flushed to the
// disk after its last write, and only then renamed over its target, and the
// folder that holds it (the install folder or a subfolder) is synced after
// the rename. A rename before the flush could leave a
// file cut short after a power cut, although no kill could show it.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file_replace.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// strace -y shows each descriptor with its path: "fsync(6</a/b>) = 0".
bool CallOn(const std::string& line, const std::string& call,
            const std::string& path) {
  size_t at = line.find(" " + call + "(");
  if (at == std::string::npos) return false;
  size_t fd = at + call.size() + 2;
  size_t open = line.find('<', fd);
  return open != std::string::npos &&
         line.compare(open, path.size() + 2, "<" + path + ">") == 0;
}

// strace pads short calls before their result: "fsync(6</a>)    = 0".
bool Succeeded(const std::string& line) {
  size_t equals = line.rfind(" = ");
  return equals != std::string::npos && line.compare(equals, 4, " = -") != 0;
}

// The paths a rename names, each a descriptor's folder and a name in it:
// "renameat(5</g>, "a.updating", 5</g>, "a") = 0" gives /g/a.updating and
// /g/a.
std::vector<std::string> RenamedPaths(const std::string& line) {
  std::vector<std::string> paths;
  size_t at = line.find(" rename");
  while (at != std::string::npos) {
    size_t open = line.find('<', at);
    size_t close = line.find(">, \"", open);
    size_t end = close == std::string::npos ? close : line.find('"', close + 4);
    if (end == std::string::npos) break;
    paths.push_back(line.substr(open + 1, close - open - 1) + "/" +
                    line.substr(close + 4, end - close - 4));
    at = end;
  }
  return paths;
}

bool IsRename(const std::string& line, const std::string& from,
              const std::string& to) {
  std::vector<std::string> paths = RenamedPaths(line);
  return paths.size() == 2 && paths[0] == from && paths[1] == to &&
         Succeeded(line);
}

// Returns "" when the trace shows the file at target replaced as above,
// and the folder that holds it synced after, otherwise what it shows
// instead.
std::string CheckFlushThenMove(const std::vector<std::string>& lines,
                               const std::string& target) {
  std::string folder = target.substr(0, target.rfind('/'));
  std::string temp = target + kTempSuffix;
  size_t last_write = 0, flush = 0, rename = 0, folder_sync = 0;
  bool written = false, flushed = false, renamed = false, synced = false;
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string& line = lines[i];
    if (CallOn(line, "write", target)) return target + " written in place";
    if (!renamed && CallOn(line, "write", temp)) {
      last_write = i;
      written = true;
    } else if (!renamed && CallOn(line, "fsync", temp) && Succeeded(line)) {
      flush = i;
      flushed = true;
    } else if (!renamed && IsRename(line, temp, target)) {
      rename = i;
      renamed = true;
    } else if (renamed && !synced && CallOn(line, "fsync", folder) &&
               Succeeded(line)) {
      folder_sync = i;
      synced = true;
    }
  }
  if (!written) return temp + " never written";
  if (!renamed) return temp + " never renamed over " + target;
  if (!flushed || flush < last_write || flush > rename) {
    return temp + " renamed without a flush after its last write";
  }
  if (!synced || folder_sync < rename) {
    return folder + " not synced after " + target + " was renamed";
  }
  return "";
}

class InstallationTraceTest : public ::testing::Test, protected UpdaterWorld {
 protected:
  // LeakSanitizer cannot run under a tracer; the sanitizer build's updater
  // would end with an error of its own.
  ProcessOptions TraceOptions() {
    ProcessOptions options = Options("y\n");
    options.env.push_back("ASAN_OPTIONS=detect_leaks=0");
    return options;
  }

  // The trace of one whole update, as lines.
  std::vector<std::string> TracedUpdate() {
    std::string log = dir().Sub("strace.log");
    ProcessResult r =
        RunProcess({"strace", "-f", "-y", "-qq", "-s", "0", "-o", log, "-e",
                    "trace=write,fsync,rename,renameat,renameat2", updater()},
                   TraceOptions());
    EXPECT_EQ(r.status, 0) << "strace and the updater: " << r.err;
    return Lines(ReadFileOrEmpty(log));
  }
};

TEST_F(InstallationTraceTest, EveryFileFlushedBeforeItIsMoved) {
  WriteFileOrDie(folder() + "/old.arc", "the older release");
  ASSERT_EQ(mkdir((folder() + "/movie").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((folder() + "/sound").c_str(), 0755), 0);
  WriteFileOrDie(folder() + "/movie/op.dat", "the older movie");
  std::vector<TestEntry> entries = {{"old.arc", std::string(3 << 20, 'n')},
                                    {"new.arc", "a new file"},
                                    {"movie\\op.dat", "the new movie"},
                                    {"sound\\bgm.ogg", "a new tune"}};
  entries.push_back(
      {"vrx.hvl",
       BuildVerificationList({{"old.arc", ChecksumOf(entries[0].data)}})});
  SetPayload(BuildPayload(entries));
  std::vector<std::string> lines = TracedUpdate();
  ASSERT_FALSE(lines.empty()) << "is strace installed?";
  std::vector<std::string> targets;
  for (const TestEntry& e : entries) {
    std::string name = e.name;
    if (name.find('\\') != std::string::npos) name[name.find('\\')] = '/';
    targets.push_back(folder() + "/" + name);
  }
  targets.push_back(folder() + "/uninst.lst");
  for (const std::string& target : targets) {
    EXPECT_EQ(CheckFlushThenMove(lines, target), "");
  }

  // The check itself: the same trace without one file's flush, with the
  // flush moved after the rename, or without a subfolder's sync, must fail
  // it.
  std::string temp = targets[0] + kTempSuffix;
  std::string sound = folder() + "/sound";
  std::vector<std::string> unflushed, late, unsynced;
  std::string flush_line;
  for (const std::string& line : lines) {
    if (!CallOn(line, "fsync", sound)) unsynced.push_back(line);
    if (CallOn(line, "fsync", temp)) {
      flush_line = line;
      continue;
    }
    unflushed.push_back(line);
    late.push_back(line);
    if (IsRename(line, temp, targets[0])) late.push_back(flush_line);
  }
  ASSERT_FALSE(flush_line.empty());
  EXPECT_NE(CheckFlushThenMove(unflushed, targets[0]), "");
  EXPECT_NE(CheckFlushThenMove(late, targets[0]), "");
  EXPECT_EQ(CheckFlushThenMove(unflushed, targets[1]), "");
  EXPECT_NE(CheckFlushThenMove(unsynced, targets[3]), "");
  EXPECT_EQ(CheckFlushThenMove(unsynced, targets[2]), "");
}

}  // namespace
