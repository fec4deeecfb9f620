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

std::string Z(const std::string& text) { return text + std::string(1, '\0'); }

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

TEST_F(InstallationRunTest, MismatchStopsBeforeWriting) {
  std::string list = BuildVerificationList(
      {{"a", ChecksumOf("A")}, {"B", ChecksumOf("not b")}});
  std::string before = SnapshotDir(folder_);
  EXPECT_EQ(Install(BuildPayload(
                {{"a", "A"}, {"b", "b"}, {"c", "C"}, {"vrx.hvl", list}})),
            kResultChecksumMismatch);
  EXPECT_EQ(Installed("a"), "A");
  EXPECT_FALSE(FileExists(folder_ + "/b"));
  EXPECT_FALSE(FileExists(folder_ + "/c"));
  EXPECT_EQ(List(), kList);
}

TEST_F(InstallationRunTest, BrokenListInstallsUnverified) {
  std::string list =
      BuildVerificationList({{"a", ChecksumOf("wrong")}}, "KPL_____");
  list.resize(list.size() - 1);  // records run past the end of the file
  EXPECT_EQ(Install(BuildPayload({{"a", "A"}, {"vrx.hvl", list}})), kResultOk);
  EXPECT_EQ(Installed("a"), "A");
}

TEST_F(InstallationRunTest, UnreadableEntryStopsTheRun) {
  std::string payload = BuildPayload({{"a", "A"}, {"b", "B"}, {"c", "C"}});
  PatchEntry(&payload, 1, 2, 100);
  EXPECT_EQ(Install(payload), kResultPayloadUnreadable);
  EXPECT_EQ(Installed("a"), "A");
  EXPECT_FALSE(FileExists(folder_ + "/b"));
  EXPECT_FALSE(FileExists(folder_ + "/c"));
  EXPECT_EQ(List(), kList);
}

TEST_F(InstallationRunTest, OutputThatCannotBeCreated) {
  mkdir((folder_ + "/dir").c_str(), 0755);
  EXPECT_EQ(Install(BuildPayload({{"a", "A"}, {"dir", "D"}})),
            kResultCannotWrite);
  EXPECT_EQ(Install(BuildPayload({{"sub\\x", "X"}})), kResultCannotWrite);
  EXPECT_EQ(List(), kList);
  // No folders are made, but an existing one can be written into.
  mkdir((folder_ + "/sub").c_str(), 0755);
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
  // "a" occurs in "game.exe" already.
  EXPECT_EQ(ReadFileOrEmpty(folder + "/uninst.lst"),
            Z("game.exe\nten-chars!\n"));
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

TEST_F(InstallationRunTest, FullDiskIsCannotWrite) {
  // b's new file lands on /dev/full, where every write fails for want of
  // room; the old b stays.
  WriteFileOrDie(folder_ + "/b", "old b");
  ASSERT_EQ(symlink("/dev/full", (folder_ + "/b.updating").c_str()), 0);
  EXPECT_EQ(Install(BuildPayload({{"a", "A"}, {"b", "B"}, {"c", "C"}})),
            kResultCannotWrite);
  EXPECT_EQ(Installed("a"), "A");
  EXPECT_EQ(Installed("b"), "old b");
  EXPECT_FALSE(FileExists(folder_ + "/b.updating"));
  EXPECT_FALSE(FileExists(folder_ + "/c"));
  EXPECT_EQ(List(), kList);
}

}  // namespace
