// mkupdate pack --from OLD --to NEW: the update between two releases,
// installed by the real updater into the old release, checked against the
// new one.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"
#include "tools/mkupdate/mkupdate_fixture.h"

namespace {

std::string Nul() { return std::string(1, '\0'); }

// A line of a dry run up to what follows the size.
std::string PlanLine(const char* name, unsigned size) {
  char line[64];
  snprintf(line, sizeof(line), "  %-15s %12u  ", name, size);
  return line;
}

class ReleaseTest : public MkupdateTest {
 protected:
  ReleaseTest() {
    for (const std::string& d :
         {old_, old_ + "/movie", new_, new_ + "/movie"}) {
      mkdir(d.c_str(), 0755);
    }
    Both("data1.arc", Pattern(1 << 20, 1));
    Both("movie/op.mpg", "opening");
    Both("readme.txt", "read me");
    WriteFileOrDie(old_ + "/game.exe", "game 1.0");
    WriteFileOrDie(new_ + "/game.exe", "game 1.1, longer");
    // The same size, one byte apart, far in.
    std::string data2 = Pattern(3 << 20, 2);
    WriteFileOrDie(old_ + "/data2.arc", data2);
    data2[(3 << 20) - 5] ^= 1;
    WriteFileOrDie(new_ + "/data2.arc", data2);
    WriteFileOrDie(new_ + "/movie/staff.mpg", "staff roll");
    WriteFileOrDie(new_ + "/Patch.DAT", "patch");
    WriteFileOrDie(old_ + "/gone.txt", "dropped in 1.1");
    WriteFileOrDie(old_ + "/uninst.lst",
                   "game.exe\ndata1.arc\ndata2.arc\n" + Nul());
    WriteFileOrDie(new_ + "/uninst.lst", "the publisher's own\n" + Nul());
    WriteFileOrDie(new_ + "/vrx.hvl", "a stale list");
  }

  void Both(const std::string& name, const std::string& bytes) {
    WriteFileOrDie(old_ + "/" + name, bytes);
    WriteFileOrDie(new_ + "/" + name, bytes);
  }

  ProcessResult PackReleases(const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"pack",  "--stub", stub_,
                                     "--out", update_,  "--from",
                                     old_,    "--to",   new_};
    args.insert(args.end(), more.begin(), more.end());
    return Mk(args);
  }

  // Installs the updates, one after the other, into a copy of the
  // release with the native updater; then verifies the folder against
  // the last. Returns verify's exit code; its text is in out_text_.
  int InstallAndVerify(const std::string& release,
                       const std::vector<std::string>& updates) {
    UpdaterWorld world;
    std::string copy = "cp -r '" + release + "/.' '" + world.folder() + "'";
    if (system(copy.c_str()) != 0) return -1;
    for (const std::string& update : updates) {
      ProcessResult r = RunProcess({update}, world.Options("y\n"));
      if (r.status != 0) return -1;
    }
    return Mk({"verify", updates.back(), world.folder()}).status;
  }

  std::string old_ = dir_.Sub("old");
  std::string new_ = dir_.Sub("new");
};

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

TEST_F(ReleaseTest, DryRunShowsThePlanAndWritesNothing) {
  // A file given besides the releases is packed as well, even unchanged.
  ProcessResult r = PackReleases({"--dry-run", new_ + "/readme.txt"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>());
  EXPECT_EQ(out_text_.find("would write " + update_ + ": 6 entries, "), 0u)
      << out_text_;
  EXPECT_NE(out_text_.find("verification list vrx.hvl with 7 records\n"),
            std::string::npos);
  EXPECT_NE(out_text_.find(PlanLine("data2.arc", 3 << 20) + "changed  " + new_ +
                           "/data2.arc\n"),
            std::string::npos)
      << out_text_;
  EXPECT_NE(out_text_.find(PlanLine("movie\\staff.mpg", 10) + "new  "),
            std::string::npos);
  EXPECT_NE(out_text_.find(PlanLine("readme.txt", 7) + new_ + "/readme.txt\n"),
            std::string::npos);
  for (const std::string& line :
       {"left out of the list: " + new_ + "/uninst.lst: the updater merges",
        "left out of the list: " + new_ + "/vrx.hvl: the verification list",
        "kept: " + old_ + "/gone.txt: not in " + new_}) {
    EXPECT_NE(out_text_.find("\n" + line), std::string::npos) << line;
  }
  EXPECT_EQ(out_text_.find(old_ + "/uninst.lst"), std::string::npos);
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

// Files that one update cannot hold: the refusal tells how many updates
// they need and the commands that make them; those updates, all run,
// bring the old release to the new.
TEST_F(ReleaseTest, TooManyFilesForOneUpdateAreSplitAsTold) {
  for (int i = 0; i < 26; i++) {
    WriteFileOrDie(new_ + "/n" + std::to_string(i) + ".dat", "new");
  }
  ProcessResult r = PackReleases();
  ExpectRefusal(r, new_, "30 files are new or changed");
  std::vector<std::string> commands;
  for (size_t at = r.err.find("\n  mkupdate pack "); at != std::string::npos;
       at = r.err.find("\n  mkupdate pack ", at + 1)) {
    size_t end = r.err.find('\n', at + 1);
    commands.push_back(r.err.substr(at + 11, end - at - 11));
  }
  ASSERT_EQ(commands.size(), 2u) << r.err;
  EXPECT_NE(r.err.find("They need 2 updates"), std::string::npos) << r.err;
  std::vector<std::string> updates;
  for (size_t i = 0; i < commands.size(); i++) {
    std::string run =
        std::string("'") + MKUPDATE_BINARY + "'" + commands[i] + " >/dev/null";
    ASSERT_EQ(system(run.c_str()), 0) << run;
    updates.push_back(out_dir_ + "/setup-" + std::to_string(i + 1));
  }
  EXPECT_EQ(InstallAndVerify(old_, updates), 0) << out_text_;
  EXPECT_NE(out_text_.find(": all 33 listed files match"), std::string::npos)
      << out_text_;
}

// A link in a release that leads outside it is refused, naming where it
// leads, whichever release it is in and whether it is a file or a folder;
// so is a link to a folder that holds it.
TEST_F(ReleaseTest, LinksThatLeaveTheReleaseAreRefused) {
  std::string secret = dir_.Sub("secret.txt");
  WriteFileOrDie(secret, "beside the release");
  std::string beside = dir_.Sub("beside");
  mkdir(beside.c_str(), 0755);
  WriteFileOrDie(beside + "/x.dat", "x");
  struct Case {
    std::string link, target;  // made before the run, removed after
    std::vector<std::string> args;
    std::string reason;
  };
  std::vector<std::string> releases = {"--from", old_, "--to", new_};
  std::vector<std::string> listed = {"--verify-dir", new_,
                                     new_ + "/readme.txt"};
  for (const Case& c : std::vector<Case>{
           {new_ + "/readme.txt", secret, releases,
            "a link to " + secret + ", outside " + new_},
           {old_ + "/readme.txt", secret, releases,
            "a link to " + secret + ", outside " + old_},
           {new_ + "/readme.txt", secret, listed,
            "a link to " + secret + ", outside " + new_},
           {new_ + "/extra", beside, releases,
            "a link to " + beside + ", outside " + new_},
           {new_ + "/movie/loop", "..", releases,
            "a link to " + new_ + ", a folder that holds it"},
       }) {
    std::string saved = ReadFileOrEmpty(c.link);
    unlink(c.link.c_str());
    ASSERT_EQ(symlink(c.target.c_str(), c.link.c_str()), 0) << c.link;
    std::vector<std::string> args = {"pack", "--stub", stub_, "--out", update_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectRefusal(Mk(args), c.link, c.reason);
    unlink(c.link.c_str());
    if (!saved.empty()) WriteFileOrDie(c.link, saved);
  }
}

// Links that stay inside the release are followed; the files keep the
// names they have where the link is, and the dry run shows the links.
TEST_F(ReleaseTest, LinksInsideTheReleaseAreFollowed) {
  ASSERT_EQ(symlink("readme.txt", (new_ + "/alias.txt").c_str()), 0);
  mkdir((old_ + "/clip").c_str(), 0755);
  WriteFileOrDie(old_ + "/clip/op.mpg", "opening");
  ASSERT_EQ(symlink("movie", (new_ + "/clip").c_str()), 0);
  ASSERT_EQ(PackReleases({"--dry-run"}).status, 0);
  for (const std::string& line :
       {PlanLine("alias.txt", 7) + "new  " + new_ + "/alias.txt (a link to " +
            new_ + "/readme.txt)\n",
        PlanLine("clip\\staff.mpg", 10) + "new  " + new_ +
            "/clip/staff.mpg (a link to " + new_ + "/movie/staff.mpg)\n",
        "link: " + new_ + "/clip: a link to " + new_ + "/movie\n"}) {
    EXPECT_NE(out_text_.find(line), std::string::npos) << line << out_text_;
  }
  ASSERT_EQ(PackReleases().status, 0);
  EXPECT_EQ(InstallAndVerify(old_, {update_}), 0) << out_text_;
  EXPECT_NE(out_text_.find("all 10 listed files match"), std::string::npos)
      << out_text_;
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

TEST_F(ReleaseTest, TooManyOrTooLongAreAllNamedAtOnce) {
  for (int i = 0; i < 22; i++) {
    WriteFileOrDie(new_ + "/n" + std::to_string(i), "new");
  }
  // With the four new and changed files and the three below, 29.
  WriteFileOrDie(new_ + "/sixteen-bytes.xy", "long");
  WriteFileOrDie(new_ + "/seventeen-bytes.x", "longer");
  std::string deep = new_ + "/movie/" + std::string(50, 'd');
  WriteFileOrDie(deep, "its record name is 56 bytes");
  ProcessResult r = PackReleases();
  ExpectRefusal(r, new_, "29 files are new or changed");
  for (const char* name : {"n0 (new)", "n21 (new)", "game.exe (changed)",
                           "movie\\staff.mpg (new)"}) {
    EXPECT_NE(r.err.find(std::string("\n  ") + name + "\n"), std::string::npos)
        << name << "\n"
        << r.err;
  }
  EXPECT_NE(r.err.find(new_ + "/sixteen-bytes.xy: entry name"),
            std::string::npos);
  EXPECT_NE(r.err.find(new_ + "/seventeen-bytes.x: entry name"),
            std::string::npos);
  EXPECT_NE(r.err.find(deep + ": record name"), std::string::npos) << r.err;
}

TEST_F(ReleaseTest, NothingChangedIsRefused) {
  ASSERT_EQ(
      system(("rm -r '" + new_ + "' && cp -r '" + old_ + "' '" + new_ + "'")
                 .c_str()),
      0);
  ExpectRefusal(PackReleases(), new_, "nothing to pack");
}

TEST_F(ReleaseTest, AnOutputInsideEitherReleaseIsLeftOut) {
  std::string inside = new_ + "/setup.exe";
  std::vector<std::string> args = {"pack",   "--stub", stub_,  "--out", inside,
                                   "--from", old_,     "--to", new_};
  ASSERT_EQ(Mk(args).status, 0);
  std::string first = ReadFileOrEmpty(inside);
  // Quiet: nothing but errors, and there are none.
  args.push_back("--quiet");
  ProcessResult again = Mk(args);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(ReadFileOrEmpty(inside), first);
  EXPECT_EQ(again.err + out_text_, "");
  args.back() = "--dry-run";
  ASSERT_EQ(Mk(args).status, 0);
  EXPECT_NE(out_text_.find("left out of the list: " + inside +
                           ": it is the output\n"),
            std::string::npos)
      << out_text_;
}

TEST_F(ReleaseTest, UsageErrors) {
  for (const auto& extra : std::vector<std::vector<std::string>>{
           {"--from", old_},
           {"--to", new_},
           {"--from", old_, "--to", new_, "--verify-dir", new_},
           {"--from", old_, "--to", new_, "--verify-list", new_ + "/vrx.hvl"},
       }) {
    std::vector<std::string> args = {"pack", "--stub", stub_, "--out", update_};
    args.insert(args.end(), extra.begin(), extra.end());
    ProcessResult r = Mk(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("Try 'mkupdate --help'"), std::string::npos);
  }
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>());
}

}  // namespace
