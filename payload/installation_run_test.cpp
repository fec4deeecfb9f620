// The installation run's failure table, each row checked against the state
// of the install folder afterwards.
#include "payload/installation_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

namespace {

const std::string kList = std::string("game.exe\n") + std::string(1, '\0');

class InstallationRunTest : public ::testing::Test {
 protected:
  InstallationRunTest() {
    mkdir(folder_.c_str(), 0755);
    WriteFileOrDie(folder_ + "/uninst.lst", kList);
  }
  ResultCode Install(const std::string& payload) {
    WriteFileOrDie(updater_, UpdaterFile(payload));
    return InstallPayload(updater_.c_str(), folder_.c_str());
  }
  std::string Installed(const std::string& name) {
    return ReadFileOrEmpty(folder_ + "/" + name);
  }
  std::string List() { return Installed("uninst.lst"); }

  ScratchDir dir_;
  std::string updater_ = dir_.Sub("setup.exe");
  std::string folder_ = dir_.Sub("Game");
};

TEST_F(InstallationRunTest, CompleteUpdate) {
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<char>(i * 7);
  std::string list = BuildVerificationList({{"data1.arc", ChecksumOf(big)},
                                            {"readme.txt", ChecksumOf("hello")},
                                            {"unused.arc", ChecksumOf("?")}});
  WriteFileOrDie(folder_ + "/readme.txt", "old");
  chmod((folder_ + "/readme.txt").c_str(), 0444);  // replaced all the same
  ASSERT_EQ(Install(BuildPayload({{"Data1.ARC", big},
                                  {"readme.txt", "hello"},
                                  {"extra.bin", "unlisted"},
                                  {"VRX.hvl", list}})),
            kResultOk);
  EXPECT_EQ(Installed("Data1.ARC"), big);  // stored case kept
  EXPECT_EQ(Installed("readme.txt"), "hello");
  EXPECT_EQ(Installed("extra.bin"), "unlisted");
  EXPECT_EQ(Installed("VRX.hvl"), list);
  EXPECT_EQ(List(), Z("game.exe\nData1.ARC\nreadme.txt\nextra.bin\nVRX.hvl\n"));
}

TEST_F(InstallationRunTest, NothingTouchedWithoutAPayload) {
  std::string before = SnapshotDir(folder_);
  EXPECT_EQ(Install(""), kResultPayloadUnreadable);
  std::vector<TestEntry> many(25, TestEntry{"f", "x"});
  EXPECT_EQ(Install(BuildPayload(many)), kResultTooManyEntries);
  EXPECT_EQ(SnapshotDir(folder_), before);
}

TEST_F(InstallationRunTest, EmptyPayloadOnlyRewritesTheList) {
  EXPECT_EQ(Install(BuildPayload({})), kResultOk);
  EXPECT_EQ(List(), kList);
  unlink((folder_ + "/uninst.lst").c_str());
  EXPECT_EQ(Install(BuildPayload({})), kResultUninstallListFailed);
  EXPECT_FALSE(FileExists(folder_ + "/uninst.lst"));
}

TEST_F(InstallationRunTest, BrokenListInstallsUnverified) {
  std::string list =
      BuildVerificationList({{"a", ChecksumOf("wrong")}}, "KPL_____");
  list.resize(list.size() - 1);  // records run past the end of the file
  EXPECT_EQ(Install(BuildPayload({{"a", "A"}, {"vrx.hvl", list}})), kResultOk);
  EXPECT_EQ(Installed("a"), "A");
}

// Whatever is wrong with an update, found before the first move, ends the
// run with the install folder byte for byte as it was and no temporary
// file left: nothing of the update reaches the game.
TEST_F(InstallationRunTest, FailureBeforeTheMovesChangesNothing) {
  mkdir((folder_ + "/dir").c_str(), 0755);
  mkdir((folder_ + "/sub").c_str(), 0755);
  WriteFileOrDie(folder_ + "/a", "old a");
  WriteFileOrDie(folder_ + "/b", "old b");
  std::string list = BuildVerificationList(
      {{"a", ChecksumOf("A")}, {"B", ChecksumOf("not b")}});
  std::string cut = BuildPayload({{"a", "A"}, {"b", "B"}, {"c", "C"}});
  PatchEntry(&cut, 1, 1, 100);  // b reaches past the end of the file
  const struct {
    const char* what;
    std::string payload;
    ResultCode result;
  } cases[] = {
      {"checksum of the second entry differs",
       BuildPayload({{"a", "A"}, {"b", "b"}, {"c", "C"}, {"vrx.hvl", list}}),
       kResultChecksumMismatch},
      {"download cut short", cut, kResultPayloadUnreadable},
      {"a name Windows cannot hold", BuildPayload({{"a", "A"}, {"b?", "B"}}),
       kResultPayloadUnreadable},
      {"two names for one file",
       BuildPayload({{"a", "A"}, {"sub/X", "1"}, {"SUB\\x", "2"}}),
       kResultPayloadUnreadable},
      {"two bytes that are one stand-in character on Windows",
       BuildPayload({{"a\x81", "1"}, {"a\x82", "2"}}),
       kResultPayloadUnreadable},
      {"a lead byte before a byte no character has",
       BuildPayload({{"a", "A"}, {"b\x81<c", "B"}}), kResultPayloadUnreadable},
      {"the uninstall list's own name",
       BuildPayload({{"a", "A"}, {"UNINST.LST", "unchecked text"}}),
       kResultPayloadUnreadable},
      {"a folder the game does not have",
       BuildPayload({{"a", "A"}, {"none\\x", "X"}}), kResultCannotWrite},
      {"a target that is a folder", BuildPayload({{"a", "A"}, {"dir", "D"}}),
       kResultCannotWrite},
  };
  std::string before = SnapshotDir(folder_);
  for (const auto& c : cases) {
    EXPECT_EQ(Install(c.payload), c.result) << c.what;
    EXPECT_EQ(SnapshotDir(folder_), before) << c.what;
  }
  // No folders are made, but an existing one can be written into.
  EXPECT_EQ(Install(BuildPayload({{"sub\\x", "X"}})), kResultOk);
  EXPECT_EQ(Installed("sub/x"), "X");
}

TEST_F(InstallationRunTest, MissingFolder) {
  WriteFileOrDie(updater_, UpdaterFile(BuildPayload({{"a", "A"}})));
  std::string missing = dir_.Sub("NoSuchGame");
  EXPECT_EQ(InstallPayload(updater_.c_str(), missing.c_str()),
            kResultCannotWrite);
  EXPECT_FALSE(FileExists(missing));
}

TEST_F(InstallationRunTest, PathTooLongIsRefusedBeforeAnythingIsWritten) {
  // Every file is first written beside its target as name + ".updating". A
  // 239-byte folder leaves room in the 260-byte path for a 10-byte name, its
  // backslash, that suffix and the terminator: "uninst.lst" fits exactly,
  // and so does "ten-chars!", but not an 11-byte name.
  std::string folder = folder_ + "/" + std::string(100, 'd') + "/";
  folder += std::string(239 - folder.size(), 'e');
  ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
  WriteFileOrDie(folder + "/uninst.lst", kList);
  WriteFileOrDie(
      updater_,
      UpdaterFile(BuildPayload({{"a", "fits"}, {"eleven-char", "does not"}})));
  std::string before = SnapshotDir(folder);
  EXPECT_EQ(InstallPayload(updater_.c_str(), folder.c_str()),
            kResultCannotWrite);
  EXPECT_EQ(SnapshotDir(folder), before);
  WriteFileOrDie(
      updater_,
      UpdaterFile(BuildPayload({{"a", "fits"}, {"ten-chars!", "fits too"}})));
  EXPECT_EQ(InstallPayload(updater_.c_str(), folder.c_str()), kResultOk);
  EXPECT_EQ(ReadFileOrEmpty(folder + "/ten-chars!"), "fits too");
  EXPECT_EQ(ReadFileOrEmpty(folder + "/uninst.lst"),
            Z("game.exe\na\nten-chars!\n"));
  // One byte more of folder, and the list's own new file no longer fits.
  std::string longer = folder + "f";
  ASSERT_EQ(rename(folder.c_str(), longer.c_str()), 0);
  before = SnapshotDir(longer);
  EXPECT_EQ(InstallPayload(updater_.c_str(), longer.c_str()),
            kResultCannotWrite);
  EXPECT_EQ(SnapshotDir(longer), before);
}

TEST_F(InstallationRunTest, LeftoverOfAKilledRunIsReplaced) {
  // What a run killed in the middle of an entry leaves: part of the new
  // file under its temporary name. It does not stop the next run, even
  // read-only.
  WriteFileOrDie(folder_ + "/a.arc", "old");
  WriteFileOrDie(folder_ + "/a.arc.updating", "half of the ne");
  chmod((folder_ + "/a.arc.updating").c_str(), 0444);
  EXPECT_EQ(Install(BuildPayload({{"a.arc", "half of the new file"}})),
            kResultOk);
  EXPECT_EQ(Installed("a.arc"), "half of the new file");
  EXPECT_FALSE(FileExists(folder_ + "/a.arc.updating"));
}

// The updater runs elevated in a folder its user may write: a link put
// there beforehand never has it write, move or read anything outside. A
// link at a temporary name is removed, the link itself; a game file that is
// a link is replaced by a real file; a folder part or an uninstall list that
// is a link is refused before anything is written. A hard link is a name
// of the file outside: replaced as a name, read never, and a read-only one,
// whose attribute Windows would have to clear, refused before anything is
// written.
TEST_F(InstallationRunTest, LinksInTheFolderAreNeverFollowed) {
  std::string outside = dir_.Sub("outside");
  mkdir(outside.c_str(), 0755);
  WriteFileOrDie(outside + "/file", "outside");
  WriteFileOrDie(outside + "/read-only", "outside");
  chmod((outside + "/read-only").c_str(), 0444);
  WriteFileOrDie(outside + "/uninst.lst", Z("outside list\n"));
  std::string payload = BuildPayload({{"a.arc", "new a"}, {"b.arc", "new b"}});
  const struct {
    const char* link;
    const char* target;
    bool hard;
    ResultCode result;
  } cases[] = {
      {"a.arc.updating", "/file", false, kResultOk},
      {"a.arc", "/file", false, kResultOk},
      {"uninst.lst.updating", "/uninst.lst", false, kResultOk},
      {"uninst.lst", "/uninst.lst", false, kResultUninstallListFailed},
      {"sub", "", false, kResultCannotWrite},
      {"a.arc", "/file", true, kResultOk},
      {"a.arc", "/read-only", true, kResultCannotWrite},
      {"a.arc.updating", "/read-only", true, kResultCannotWrite},
      {"uninst.lst", "/uninst.lst", true, kResultUninstallListFailed},
  };
  for (const auto& c : cases) {
    std::string link = folder_ + "/" + c.link;
    std::string at = std::string(c.link) + (c.hard ? " hard" : "");
    unlink(link.c_str());
    ASSERT_EQ(c.hard ? ::link((outside + c.target).c_str(), link.c_str())
                     : symlink((outside + c.target).c_str(), link.c_str()),
              0)
        << at;
    std::string outside_before = SnapshotDir(outside);
    std::string game_before = SnapshotDir(folder_);
    bool in_sub = std::string(c.link) == "sub";
    EXPECT_EQ(Install(in_sub ? BuildPayload({{"sub\\x.dll", "X"}}) : payload),
              c.result)
        << at;
    EXPECT_EQ(SnapshotDir(outside), outside_before) << at;
    EXPECT_FALSE(FileExists(outside + "/x.dll")) << at;
    if (c.result == kResultCannotWrite) {
      EXPECT_EQ(SnapshotDir(folder_), game_before) << at;
      unlink(link.c_str());
      continue;
    }
    struct stat st;
    for (const char* name : {"a.arc", "b.arc"}) {
      ASSERT_EQ(lstat((folder_ + "/" + name).c_str(), &st), 0) << at;
      EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_nlink == 1) << at << " " << name;
    }
    EXPECT_EQ(Installed("a.arc"), "new a") << at;
    EXPECT_FALSE(FileExists(folder_ + "/a.arc.updating")) << at;
    EXPECT_FALSE(FileExists(folder_ + "/uninst.lst.updating")) << at;
    if (c.result == kResultUninstallListFailed) {
      unlink(link.c_str());
      WriteFileOrDie(folder_ + "/uninst.lst", kList);
    }
  }
}

}  // namespace
