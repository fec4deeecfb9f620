// The updater run as a process in a scratch world: a registry folder, a
// lock folder, an install folder, and the updater with a payload at 1 MiB.
#include "control/update_flow.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "control/texts.h"
#include "gtest/gtest.h"
#include "platform/path.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"

namespace {

const char kConfirm[] = "アップデートを行いますか？";
const char kDone[] = "アップデートが完了しました";
const char kBusy[] = "ゲーム、ランチャー、アンインストーラーのいずれかが実行中";
const char kNotInstalled[] = "ゲームがインストールされていません";
const char kCorrupt[] = "アップデートプログラムが破損している可能性があります";
const char kFailed[] = "何らかの要因によりアップデートが行えません";
const char kGameListFailed[] =
    "アンインストレーションファイルの更新に失敗しました";
const char kBoxCaption[] = "「ルーメンホロウ」 Updater ver 1.00";

class UpdateFlowTest : public ::testing::Test, protected UpdaterWorld {
 protected:
  UpdateFlowTest() {
    SetPayload(BuildPayload({{"a.arc", "AAAA"}, {"B.txt", "bee"}}));
  }
};

TEST_F(UpdateFlowTest, YesInstallsAndReportsDone) {
  ProcessResult r = RunUpdate("y\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find(std::string("[question] ") + kBoxCaption),
            std::string::npos);
  EXPECT_NE(r.err.find(kConfirm), std::string::npos);
  EXPECT_NE(r.err.find(std::string("[information] ") + kBoxCaption),
            std::string::npos);
  EXPECT_NE(r.err.find(kDone), std::string::npos);
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/a.arc"), "AAAA");
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/B.txt"), "bee");
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/uninst.lst"),
            std::string("game.exe\na.arc\nB.txt\n") + std::string(1, '\0'));
}

TEST_F(UpdateFlowTest, OnlyYesGoesOn) {
  std::string before = SnapshotDir(folder());
  for (const char* answer : {"n\n", "", "yess\n", " y\n", "no\n"}) {
    ProcessResult r = RunUpdate(answer);
    EXPECT_EQ(r.status, 253) << answer;  // -3
    EXPECT_NE(r.err.find(kConfirm), std::string::npos);
    EXPECT_EQ(r.err.find(kDone), std::string::npos);
    EXPECT_EQ(SnapshotDir(folder()), before) << answer;
  }
  EXPECT_EQ(RunUpdate("YES\n").status, 0);
}

TEST_F(UpdateFlowTest, AnotherUpdaterEndsSilently) {
  pid_t holder = HoldFlock(LockFile("Updater for Lumenhollow is executing."));
  ProcessResult r = RunUpdate("y\n");
  StopProcess(holder);
  EXPECT_EQ(r.status, 252);  // -4
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(FileExists(folder() + "/a.arc"));
}

TEST_F(UpdateFlowTest, SecondUpdaterWhileTheFirstAsks) {
  ChildProcess first = SpawnProcess({updater()}, Options(""));
  ReadUntil(&first, kConfirm);
  ProcessResult second = RunUpdate("y\n");
  EXPECT_EQ(second.status, 252);
  EXPECT_EQ(second.err, "");
  // The first still holds the engine mutex while it asks.
  EXPECT_NE(
      RunProcess({"flock", "-n",
                  LockFile("Varnelix for Lumenhollow is executing."), "true"},
                 {})
          .status,
      0);
  ProcessResult r = FinishProcess(&first, "y\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/a.arc"), "AAAA");
}

TEST_F(UpdateFlowTest, GameRunningHidesEverythingElse) {
  SetFolderValue("REG_BINARY", "x");  // not installed either
  pid_t holder = HoldFlock(LockFile("Varnelix for Lumenhollow is executing."));
  ProcessResult r = RunUpdate("y\n");
  StopProcess(holder);
  EXPECT_EQ(r.status, 254);  // -2
  EXPECT_NE(r.err.find(std::string("[warning] ") + kBoxCaption),
            std::string::npos);
  EXPECT_NE(r.err.find(kBusy), std::string::npos);
  EXPECT_EQ(r.err.find(kNotInstalled), std::string::npos);
  // The updater's own mutex was released with the process.
  EXPECT_EQ(
      RunProcess({"flock", "-n",
                  LockFile("Updater for Lumenhollow is executing."), "true"},
                 {})
          .status,
      0);
}

TEST_F(UpdateFlowTest, NotInstalledIsReportedBeforeTheQuestion) {
  const std::string too_long(kMaxPath, 'x');
  struct {
    const char* type;
    std::string bytes;
  } cases[] = {
      {"REG_EXPAND_SZ", folder() + std::string(1, '\0')},
      {"REG_SZ", std::string(1, '\0')},  // empty: the root of the drive
      {"REG_SZ", std::string()},
      {"REG_SZ", too_long},               // fills the buffer, no terminator
      {"REG_SZ", std::string(300, 'y')},  // does not fit at all
  };
  for (const auto& c : cases) {
    SetFolderValue(c.type, c.bytes);
    ProcessResult r = RunUpdate("y\n");
    EXPECT_EQ(r.status, 255) << c.type << " " << c.bytes.size();  // -1
    EXPECT_NE(r.err.find(kNotInstalled), std::string::npos);
    EXPECT_EQ(r.err.find(kConfirm), std::string::npos);
  }
  EXPECT_EQ(system(("rm -rf '" + registry() + "'").c_str()), 0);
  EXPECT_EQ(RunUpdate("y\n").status, 255);
}

TEST_F(UpdateFlowTest, ValueWithoutTerminatorIsUsed) {
  SetFolderValue("REG_SZ", folder());
  EXPECT_EQ(RunUpdate("y\n").status, 0);
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/a.arc"), "AAAA");
}

// Entry data streams through one buffer of a fixed size: the memory a run
// touches does not grow with its entries, whatever their size.
TEST_F(UpdateFlowTest, MemoryDoesNotGrowWithTheEntries) {
  const size_t kEntrySize = 36u << 20;
  std::string big(kEntrySize, 'b');
  big[12345] = 'x';
  // The page faults of a run, with huge pages off: with them, a large
  // buffer takes a few dozen faults whatever its size.
  auto faults_of = [&](const std::vector<TestEntry>& entries) {
    SetPayload(BuildPayload(entries));
    ProcessOptions options = Options("y\n");
    options.small_pages = true;
    struct rusage before, after;
    getrusage(RUSAGE_CHILDREN, &before);
    ProcessResult r = RunProcess({updater()}, options);
    getrusage(RUSAGE_CHILDREN, &after);
    EXPECT_EQ(r.status, 0) << r.err;
    return after.ru_minflt - before.ru_minflt;
  };
  long small = faults_of({{"first.arc", "a"}});
  long large = faults_of({{"first.arc", big}, {"second.arc", big}});
  EXPECT_TRUE(ReadFileOrEmpty(folder() + "/second.arc") == big);
  // Two entries of 36 MiB each, read whole, would fault in 9,216 pages
  // each; streamed, the buffer's pages are the same few for both.
  EXPECT_LT(large - small, 1024);
}

TEST_F(UpdateFlowTest, StartsFromAFolderOfAnyLength) {
  // Started from a path no 260-byte buffer holds, the updater still opens
  // its own file (by the system's own name for it), and never a
  // "setup.exe" from its current folder: running elevated, that could be
  // anybody's file.
  std::string deep =
      dir().Sub(std::string(120, 'd') + "/" + std::string(120, 'e') + "/" +
                std::string(20, 'f'));
  ASSERT_EQ(system(("mkdir -p '" + deep + "'").c_str()), 0);
  ASSERT_EQ(rename(updater().c_str(), (deep + "/setup").c_str()), 0);
  SetPayload(BuildPayload({{"planted.dll", "not ours"}}));
  ASSERT_EQ(rename(updater().c_str(), (deep + "/setup.exe").c_str()), 0);
  ProcessResult r = RunProcess({"sh", "-c", "cd \"$0\" && exec ./setup", deep},
                               Options("y\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(FileExists(folder() + "/planted.dll"));
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/a.arc"), "AAAA");
}

TEST_F(UpdateFlowTest, RunFailuresAndTheirTexts) {
  struct {
    std::string payload;
    int status;
    const char* text;
  } cases[] = {
      {"", 1, kCorrupt},  // no payload appended
      {BuildPayload(std::vector<TestEntry>(25, TestEntry{"f", ""})), 2,
       kCorrupt},
      {BuildPayload(
           {{"a", "A"},
            {"vrx.hvl", BuildVerificationList({{"a", ChecksumOf("")}})}}),
       3, kCorrupt},
      {BuildPayload({{"dir", "A"}}), 4, kFailed},
  };
  mkdir((folder() + "/dir").c_str(), 0755);
  for (const auto& c : cases) {
    SetPayload(c.payload);
    ProcessResult r = RunUpdate("y\n");
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.text), std::string::npos) << c.status;
    EXPECT_NE(r.err.find(std::string("[warning] ") + kBoxCaption),
              std::string::npos);
    EXPECT_EQ(ReadFileOrEmpty(folder() + "/uninst.lst"), kGameList);
  }
  unlink((folder() + "/uninst.lst").c_str());
  SetPayload(BuildPayload({{"a", "A"}}));
  ProcessResult r = RunUpdate("y\n");
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find(kGameListFailed), std::string::npos);
  EXPECT_EQ(ReadFileOrEmpty(folder() + "/a"), "A");
}

TEST(ResultTextTest, EveryResultHasItsBox) {
  struct {
    ResultCode result;
    const char* text;
    uint32_t style;
  } cases[] = {
      {kResultOk, kTextDone, 0x40},                    // MB_ICONINFORMATION
      {kResultPayloadUnreadable, kTextCorrupt, 0x30},  // MB_ICONWARNING
      {kResultTooManyEntries, kTextCorrupt, 0x30},
      {kResultChecksumMismatch, kTextCorrupt, 0x30},
      {kResultCannotWrite, kTextFailed, 0x30},
      {kResultUninstallListFailed, kTextUninstallFailed, 0x30},
  };
  for (const auto& c : cases) {
    uint32_t style = 0;
    const char* text = ResultText(c.result, &style);
    EXPECT_EQ(text, c.text) << std::hex << c.result;
    EXPECT_EQ(style, c.style) << std::hex << c.result;
  }
  uint32_t style = 0;
  EXPECT_EQ(ResultText(0x80000006u, &style), nullptr);
  EXPECT_EQ(ResultText(1, &style), nullptr);
}

}  // namespace
