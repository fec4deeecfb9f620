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

// The names Windows would give the files on its disk, in this disk's
// UTF-8: the updater stores and merges code page 932, the stand-in creates,
// finds and replaces the files under their UTF-8 names, as Windows does
// under UTF-16 ones. ソ ends in 0x5C, the byte of a backslash.
TEST_F(UpdateFlowTest, JapaneseNamesAreTheDisksOwn) {
  const std::string kLumen = "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3";
  const std::string kSave = "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96";  // セーブ
  const std::string kHelp = "\xE8\xAA\xAC\xE6\x98\x8E.txt";          // 説明
  const std::string kSoft = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88";  // ソフト
  const std::string kLumenCp = "\x83\x8B\x81\x5B\x83\x81\x83\x93";
  const std::string kSaveCp = "\x83\x5A\x81\x5B\x83\x75";
  const std::string kHelpCp = "\x90\xE0\x96\xBE.txt";
  const std::string kSoftCp = "\x83\x5C\x83\x74\x83\x67";
  const std::vector<TestEntry> kEntries = {{kLumenCp + ".dat", "new lumen"},
                                           {kSaveCp + "\\" + kHelpCp, "help"},
                                           {kSoftCp + ".txt", "new soft"}};
  struct {
    const char* what;
    std::string folder;      // on the disk, under the scratch world
    std::string registered;  // the registry's value, after the world's path
    std::vector<TestEntry> entries;
    int status;
  } cases[] = {
      {"ASCII folder", "Game", "/Game", kEntries, 0},
      {"Japanese folder", kSoft + "/" + kLumen, "/" + kSoftCp + "\\" + kLumenCp,
       kEntries, 0},
      // A new folder: the updater creates none, and changes nothing.
      {"missing folder",
       "Game",
       "/Game",
       {{kLumenCp + ".dat", "new lumen"}, {kHelpCp + "\\x", "x"}},
       4},
      // The folder's UTF-8 bytes read as other characters in code page 932,
      // or as none: as on Windows, no such folder, and nothing written.
      {"UTF-8 in the registry", kSoft + "/" + kLumen,
       "/" + kSoft + "/" + kLumen, kEntries, 4},
  };
  for (const auto& c : cases) {
    std::string game = dir().Sub(c.folder);
    ASSERT_EQ(system(("mkdir -p '" + game + "/" + kSave + "'").c_str()), 0);
    WriteFileOrDie(game + "/" + kLumen + ".dat", "old lumen");
    WriteFileOrDie(game + "/" + kSave + "/" + kHelp, "old help");
    WriteFileOrDie(game + "/" + kSoft + ".txt", "old soft");
    WriteFileOrDie(game + "/uninst.lst",
                   "game.exe\n" + kLumenCp + ".dat\n" + std::string(1, '\0'));
    SetFolderValue("REG_SZ",
                   dir().path() + c.registered + std::string(1, '\0'));
    SetPayload(BuildPayload(c.entries));
    std::string before = SnapshotDir(dir().path());
    ProcessResult r = RunUpdate("y\n");
    EXPECT_EQ(r.status, c.status) << c.what << r.err;
    ScratchDir expect;
    if (c.status == 0) {
      mkdir(expect.Sub(kSave).c_str(), 0755);
      WriteFileOrDie(expect.Sub(kLumen + ".dat"), "new lumen");
      WriteFileOrDie(expect.Sub(kSave + "/" + kHelp), "help");
      WriteFileOrDie(expect.Sub(kSoft + ".txt"), "new soft");
      WriteFileOrDie(expect.Sub("uninst.lst"),
                     "game.exe\n" + kLumenCp + ".dat\n" + kSaveCp + "\\" +
                         kHelpCp + "\n" + kSoftCp + ".txt\n" +
                         std::string(1, '\0'));
      EXPECT_EQ(SnapshotDir(game), SnapshotDir(expect.path())) << c.what;
    } else {
      EXPECT_EQ(SnapshotDir(dir().path()), before) << c.what;
    }
    ASSERT_EQ(system(("rm -rf '" + dir().Sub(c.folder) + "' '" +
                      dir().Sub(kSoft) + "'")
                         .c_str()),
              0);
  }
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
