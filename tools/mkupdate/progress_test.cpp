// mkupdate's progress line on a terminal.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "payload/stub_marker.h"
#include "testing/child_process.h"
#include "testing/mkupdate_fixture.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

// On a terminal one line counts the bytes of the whole pack, drawn again in
// place and wiped before the result; --quiet shows nothing there; where
// stderr is no terminal only the result is written.
TEST_F(MkupdateTest, ProgressIsOneLineAndOnlyOnATerminal) {
  std::string big = dir_.Sub("big.arc");
  WriteFileOrDie(big, "");
  ASSERT_EQ(truncate(big.c_str(), 40 << 20), 0);  // sparse
  std::vector<std::string> args = {"pack",  "--stub",       stub_, "--out",
                                   update_, "--verify-dir", src_,  big};
  // The entry and the listed files (3 MiB and 5 bytes) are read: 43 MiB.
  std::string command = std::string("'") + MKUPDATE_BINARY + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  for (bool quiet : {false, true}) {
    ProcessOptions options;
    options.stdout_path = dir_.Sub("terminal");
    ProcessResult r =
        RunProcess({"script", "-q", "-e", "-c",
                    command + (quiet ? " --quiet" : ""), "/dev/null"},
                   options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string shown = ReadFileOrEmpty(options.stdout_path);
    if (quiet) {
      EXPECT_EQ(shown, "");
      continue;
    }
    size_t result = shown.find("wrote " + update_);
    ASSERT_NE(result, std::string::npos) << shown;
    std::string line = shown.substr(0, result);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "more than one line";
    EXPECT_EQ(line.find("\rwriting " + update_ + ": 0 of 43 MiB (0%)"), 0u)
        << line;
    EXPECT_NE(line.find(": 43 of 43 MiB (100%)"), std::string::npos) << line;
    EXPECT_LE(std::count(line.begin(), line.end(), '\r'), 103) << line;
    size_t wiped = line.rfind('\r', line.size() - 2);
    EXPECT_EQ(line.substr(wiped + 1, line.size() - wiped - 2),
              std::string(line.size() - wiped - 2, ' '))
        << "not wiped: " << line;
  }
  ProcessResult r = Mk(args);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(out_text_.find("wrote " + update_), 0u) << out_text_;
}

}  // namespace
