// mkupdate pack --from OLD --to NEW: the update between releases,
// installed by the real updater into the old release, checked against the
// new one.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "testing/child_process.h"
#include "testing/mkupdate_fixture.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"
#include "uninstall/uninstall_list.h"

namespace {

TEST_F(ReleaseTest, TheUpdateTurnsTheOldReleaseIntoTheNew) {
  ProcessResult r = PackReleases();
  ASSERT_EQ(r.status, 0) << r.err;
  std::string update = ReadFileOrEmpty(update_);
  ASSERT_EQ(U32At(update, kPayloadOffset + 12), 5u);
  // New and changed files in bytewise order, the list last.
  const char* entries[] = {"Patch.DAT", "data2.arc", "game.exe",
                           "movie\\staff.mpg", "vrx.hvl"};
  for (uint32_t i = 0; i < 5; i++)
    EXPECT_EQ(EntryNameAt(update, i), entries[i]);
  // The list covers every file of the new release but the two lists.
  std::vector<TestRecord> records;
  for (const char* name : {"Patch.DAT", "data1.arc", "data2.arc", "game.exe",
                           "movie\\op.mpg", "movie\\staff.mpg", "readme.txt"}) {
    std::string path = name;
    for (char& c : path) c = c == '\\' ? '/' : c;
    records.push_back({name, ChecksumOf(ReadFileOrEmpty(new_ + "/" + path))});
  }
  std::string list = BuildVerificationList(records);
  ASSERT_GT(update.size(), list.size());
  EXPECT_EQ(update.substr(update.size() - list.size()), list);
  // What a first run needs to know (the lists left out) is the dry run's;
  // a real run notes only what this release leaves behind.
  EXPECT_EQ(r.err, "mkupdate: " + old_ + "/gone.txt: not in " + new_ +
                       "; the update leaves it installed (the updater "
                       "deletes nothing)\n");

  // Installed into the old release, it makes the new one.
  UpdaterWorld world;
  ASSERT_EQ(system(("cp -r '" + old_ + "/.' '" + world.folder() + "'").c_str()),
            0);
  ProcessResult installed = RunProcess({update_}, world.Options("y\n"));
  ASSERT_EQ(installed.status, 0) << installed.err;
  ASSERT_EQ(Mk({"verify", update_, world.folder()}).status, 0) << out_text_;
  EXPECT_EQ(out_text_, world.folder() + ": all 7 listed files match\n");
  EXPECT_EQ(ReadFileOrEmpty(world.folder() + "/uninst.lst"),
            "game.exe\ndata1.arc\ndata2.arc\nPatch.DAT\nmovie\\staff.mpg\n"
            "vrx.hvl\n" +
                Nul());
  EXPECT_EQ(ReadFileOrEmpty(world.folder() + "/gone.txt"), "dropped in 1.1");
}

// 1.1 (mid) lies between old (1.0) and new (1.2): readme.txt changes in
// 1.1 and goes back in 1.2, Patch.DAT and game.exe arrive in 1.1 as 1.2
// has them, data2.arc and movie/staff.mpg change only in 1.2.
TEST_F(ReleaseTest, OneUpdateServesEveryReleaseItIsPackedFrom) {
  std::string mid = dir_.Sub("mid");
  ASSERT_EQ(system(("cp -r '" + old_ + "' '" + mid + "'").c_str()), 0);
  WriteFileOrDie(mid + "/readme.txt", "read me, 1.1");
  WriteFileOrDie(mid + "/Patch.DAT", "patch");
  WriteFileOrDie(mid + "/game.exe", "game 1.1, longer");
  ProcessResult r = PackReleases({"--from", mid, "--dry-run"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& line : {
           PlanLine("Patch.DAT", 5) + "new to " + old_ + "  ",
           PlanLine("data2.arc", 3 << 20) + "changed since " + old_ + " and " +
               mid + "  ",
           PlanLine("game.exe", 16) + "changed since " + old_ + "  ",
           PlanLine("movie\\staff.mpg", 10) + "new to " + old_ + " and " + mid +
               "  ",
           PlanLine("readme.txt", 7) + "changed since " + mid + "  ",
       }) {
    EXPECT_NE(out_text_.find(line), std::string::npos) << line << out_text_;
  }
  EXPECT_NE(out_text_.find(": 6 entries, "), std::string::npos) << out_text_;
  ASSERT_EQ(PackReleases({"--from", mid}).status, 0);
  for (const std::string& release : {old_, mid}) {
    EXPECT_EQ(InstallAndVerify(release, {update_}), 0) << release << out_text_;
  }
  // A new file goes only into a folder that every release has.
  mkdir((mid + "/extra").c_str(), 0755);
  mkdir((new_ + "/extra").c_str(), 0755);
  WriteFileOrDie(new_ + "/extra/x.dat", "x");
  unlink(update_.c_str());
  ExpectRefusal(PackReleases({"--from", mid}), new_ + "/extra",
                "no such folder (" + old_ + " lacks it)");
}

TEST_F(ReleaseTest, WhatTheUpdaterCouldNotInstallIsRefused) {
  mkdir((new_ + "/extra").c_str(), 0755);
  mkdir((new_ + "/extra/deeper").c_str(), 0755);
  WriteFileOrDie(new_ + "/extra/x.dat", "x");
  WriteFileOrDie(new_ + "/extra/y.dat", "y");
  WriteFileOrDie(new_ + "/extra/deeper/z.dat", "z");
  mkdir((old_ + "/save").c_str(), 0755);
  WriteFileOrDie(new_ + "/save", "a file where the game has a folder");
  ProcessResult r = PackReleases();
  ExpectRefusal(r, new_ + "/extra", "the installed game has no such folder");
  EXPECT_NE(r.err.find(new_ + "/extra/deeper: the installed game has no such"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("extra: the installed", r.err.find("extra: the") + 1),
            std::string::npos)
      << "each folder once:\n"
      << r.err;
  EXPECT_NE(r.err.find(new_ + "/save: the installed game has a folder"),
            std::string::npos);
}

// Every player's update merges its names into the game's uninstall list:
// a release whose list the updater would refuse, or that would name other
// files, is refused before anything is written, naming what is wrong.
TEST_F(ReleaseTest, ReleasesWithoutASoundUninstallListAreRefused) {
  const std::string kSound = "game.exe\ndata1.arc\n" + Nul();
  struct {
    bool in_old;
    const char* bytes;  // nullptr: no list
    size_t size;
    const char* why;
  } cases[] = {
      {true, nullptr, 0, "there is none"},
      {true, "game.exe\n", 9, "does not end in a NUL"},
      {true, "a\n\0b\n\0", 6, "a NUL byte before its end (at byte 2)"},
      {true, "game.exe\r\nx\r\n\0", 14, "2 lines end in a carriage return"},
      {true, "game.exe\nx\0", 11, "its last line (line 2) has no line feed"},
      {true, "\xE3\x83\xAB.dat\n\0", 9, "reads as UTF-8"},
      {true, "\x81\n\0", 3, "no code page 932 text"},
      {false, nullptr, 0, "there is none"},
  };
  for (const auto& c : cases) {
    std::string release = c.in_old ? old_ : new_;
    std::string list = release + "/uninst.lst";
    unlink(list.c_str());
    if (c.bytes != nullptr) WriteFileOrDie(list, std::string(c.bytes, c.size));
    ExpectRefusal(PackReleases({"--dry-run"}), list, c.why);
    WriteFileOrDie(list, kSound);
  }
  // No room for the update's names in the updater's 1 MiB.
  WriteFileOrDie(old_ + "/uninst.lst",
                 std::string(kUninstallBufferSize - 20, 'x') + "\n" + Nul());
  ExpectRefusal(PackReleases({"--dry-run"}), old_ + "/uninst.lst",
                "more than the 1048576 the updater holds");
}

}  // namespace
