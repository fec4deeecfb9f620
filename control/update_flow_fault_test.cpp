// The updater as a process under contention and without rights: two started
// at the same instant, again and again, and one run by a user who may not
// write into the install folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

const char kConfirm[] = "アップデートを行いますか？";
const char kFailed[] = "何らかの要因によりアップデートが行えません";
const int kRaceRounds = 100;

class UpdateFlowFaultTest : public ::testing::Test, protected UpdaterWorld {
 protected:
  UpdateFlowFaultTest() {
    // Reachable by an unprivileged updater, which takes its locks in the
    // lock folder.
    chmod(dir().path().c_str(), 0755);
    chmod(lock_dir().c_str(), 0777);
    SetPayload(BuildPayload({{"a.arc", "AAAA"}}));
  }
};

TEST_F(UpdateFlowFaultTest, TwoStartedAtTheSameInstant) {
  int first_won = 0;
  for (int round = 0; round < kRaceRounds; round++) {
    int gate[2];
    ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
    ProcessOptions options = Options("");
    options.start_gate = gate[0];
    ChildProcess a = SpawnProcess({updater()}, options);
    ChildProcess b = SpawnProcess({updater()}, options);
    close(gate[0]);
    ASSERT_EQ(write(gate[1], "go", 2), 2);  // both start now
    close(gate[1]);
    // The one that goes on asks and waits for the answer; the other ends at
    // once, so its stderr ends without the question.
    bool a_asks = ReadUntil(&a, kConfirm).find(kConfirm) != std::string::npos;
    bool b_asks = ReadUntil(&b, kConfirm).find(kConfirm) != std::string::npos;
    ASSERT_NE(a_asks, b_asks) << "round " << round;
    first_won += a_asks;
    ChildProcess* winner = a_asks ? &a : &b;
    ChildProcess* loser = a_asks ? &b : &a;
    ProcessResult lost = FinishProcess(loser, "y\n");
    EXPECT_EQ(lost.status, 252) << "round " << round;  // -4
    EXPECT_EQ(lost.err, "") << "round " << round;
    ProcessResult won = FinishProcess(winner, "y\n");
    EXPECT_EQ(won.status, 0) << "round " << round;
  }
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/a.arc"), "AAAA");
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/uninst.lst"),
            std::string("game.exe\na.arc\n") + std::string(1, '\0'));
  RecordProperty("first_started_won", first_won);
}

TEST_F(UpdateFlowFaultTest, UserWhoMayNotWriteTheFolder) {
  // Root may write anything: the updater then runs as nobody.
  chmod(folder().c_str(), 0555);
  std::string before = SnapshotDir(folder());
  std::vector<std::string> argv = {updater()};
  if (geteuid() == 0) {
    argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534",
                               "--clear-groups", "--"});
  }
  ProcessOptions options = Options("");
  options.input = "y\n";
  ProcessResult r = RunProcess(argv, options);
  EXPECT_EQ(r.status, 4) << r.err;  // 0x80000004
  EXPECT_NE(r.err.find(kFailed), std::string::npos) << r.err;
  EXPECT_EQ(SnapshotDir(folder()), before);
}

}  // namespace
