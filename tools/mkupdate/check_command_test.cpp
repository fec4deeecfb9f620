// mkupdate apply and check: the updater's own run on a folder, and an
// update tried on a copy of every old release against the new one. A
// cumulative update of three releases brings both old ones to the new; one
// packed from a single release is caught for the other. Japanese names
// throughout a release, on this disk in UTF-8; what apply and check say is
// judged by what the folder holds; a check interrupted or killed at a known
// call leaves nothing once the next has run; a temporary folder that cannot
// hold the copy is named.
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "testing/child_process.h"
#include "testing/mkupdate_fixture.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

namespace {

// 1.0 (old_), 1.1 (mid_: readme.txt changed, Patch.DAT come) and 1.2
// (new_: readme.txt back as in 1.0).
class CheckTest : public ReleaseTest {
 protected:
  CheckTest() {
    EXPECT_EQ(system(("cp -r '" + old_ + "' '" + mid_ + "'").c_str()), 0);
    WriteFileOrDie(mid_ + "/readme.txt", "READ ME");  // the size of 1.2's
    WriteFileOrDie(mid_ + "/Patch.DAT", "patch");
    mkdir(tmp_.c_str(), 0755);
  }

  // pack --out out --from each of from --to new_.
  void PackFrom(const std::vector<std::string>& from, const std::string& out) {
    std::vector<std::string> args = {"pack", "--stub", stub_, "--out",
                                     out,    "--to",   new_,  "--quiet"};
    for (const std::string& f : from) args.insert(args.end(), {"--from", f});
    ASSERT_EQ(Mk(args).status, 0);
  }

  // check update --from old_ --from mid_ --to new_, its temporary folders
  // in tmp_.
  ProcessResult Check(const std::string& update,
                      const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"check",  update, "--from", old_,
                                     "--from", mid_,   "--to",   new_};
    args.insert(args.end(), more.begin(), more.end());
    ProcessOptions options;
    options.env = {"TMPDIR=" + tmp_};
    return Mk(args, options);
  }

  std::string mid_ = dir_.Sub("mid");
  std::string tmp_ = dir_.Sub("tmp");
};

TEST_F(CheckTest, ACumulativeUpdateBringsEveryOldReleaseToTheNew) {
  std::string both = out_dir_ + "/both.exe";
  PackFrom({old_, mid_}, both);
  std::string before = SnapshotDir(old_) + SnapshotDir(mid_);
  ProcessResult r = Check(both);
  EXPECT_EQ(r.status, 0) << r.err << out_text_;
  EXPECT_EQ(out_text_, old_ + ": becomes " + new_ + " (7 files match)\n" +
                           mid_ + ": becomes " + new_ +
                           " (7 files match)\nevery release becomes " + new_ +
                           "\n");
  EXPECT_EQ(SnapshotDir(old_) + SnapshotDir(mid_), before);
  EXPECT_EQ(FolderNames(tmp_), std::vector<std::string>())
      << "the temporary copies stay";

  // Every file in place, but the run failed: that is no success either.
  ASSERT_EQ(unlink((old_ + "/uninst.lst").c_str()), 0);
  ASSERT_EQ(mkdir((old_ + "/uninst.lst").c_str(), 0755), 0);
  r = Check(both);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(out_text_.find(old_ + ": does not become " + new_ +
                           "; the updater ends with 0x80000005 ("),
            std::string::npos)
      << out_text_;
}

// Each update that serves one release only fails for the other, naming
// what would be missing or differ; the JSON says the same.
TEST_F(CheckTest, AnUpdateForOneReleaseFailsForTheOther) {
  struct Case {
    std::string from, other, line;
  };
  for (const Case& c : std::vector<Case>{
           {mid_, old_, "  missing            Patch.DAT\n"},
           {old_, mid_, "  differs            readme.txt\n"},
       }) {
    std::string update = out_dir_ + "/one.exe";
    PackFrom({c.from}, update);
    ProcessResult r = Check(update);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(
        out_text_.find(c.other + ": does not become " + new_ + "\n" + c.line),
        std::string::npos)
        << out_text_;
    EXPECT_NE(out_text_.find(c.from + ": becomes " + new_), std::string::npos);
    EXPECT_NE(out_text_.find("1 of 2 releases do not become"),
              std::string::npos);
    r = Check(update, {"--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(out_text_.find("\"command\": \"check\",\n  \"ok\": false"),
              std::string::npos)
        << out_text_;
    EXPECT_NE(out_text_.find("{\"from\": \"" + c.other + "\", \"ok\": false"),
              std::string::npos);
    unlink(update.c_str());
  }
  // Left out, the file no longer counts.
  std::string update = out_dir_ + "/one.exe";
  PackFrom({mid_}, update);
  EXPECT_EQ(Check(update, {"--exclude", "patch.*"}).status, 0) << out_text_;
  EXPECT_NE(out_text_.find("not compared: " + new_ +
                           "/Patch.DAT: left out by --exclude patch.*\n"),
            std::string::npos)
      << out_text_;
  EXPECT_EQ(FolderNames(tmp_), std::vector<std::string>());
}

// apply is the updater's run: the folder becomes the new release with the
// uninstall list merged, a damaged update ends with the updater's code and
// message and leaves the folder as it was, and a folder the run cannot be
// given is refused before anything is written.
TEST_F(CheckTest, ApplyInstallsAsTheUpdaterDoes) {
  std::string update = out_dir_ + "/both.exe";
  PackFrom({old_, mid_}, update);
  std::string game = dir_.Sub("game");
  ASSERT_EQ(system(("cp -r '" + old_ + "' '" + game + "'").c_str()), 0);

  std::string damaged = out_dir_ + "/damaged.exe";
  std::string bytes = ReadFileOrEmpty(update);
  // The first byte of the first entry's data.
  bytes[kPayloadOffset + 16 + 32 * U32At(bytes, kPayloadOffset + 12)] ^= 1;
  WriteFileOrDie(damaged, bytes);
  std::string before = SnapshotDir(game);
  ProcessResult r = Mk({"apply", damaged, game});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(game + ": the updater ends with 0x8000000"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(SnapshotDir(game), before);

  std::string odd = dir_.Sub("back\\slash");
  ASSERT_EQ(mkdir(odd.c_str(), 0755), 0);
  r = Mk({"apply", update, odd});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("backslash, which the updater reads as a folder"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(FolderNames(odd), std::vector<std::string>());

  r = Mk({"apply", update, game});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(out_text_.find(game + ": installed " + update + ", 0x00000000 ("),
            0u)
      << out_text_;
  EXPECT_EQ(Mk({"verify", update, game}).status, 0) << out_text_;
  EXPECT_EQ(ReadFileOrEmpty(game + "/uninst.lst"),
            "game.exe\ndata1.arc\ndata2.arc\nPatch.DAT\nmovie\\staff.mpg\n"
            "readme.txt\nvrx.hvl\n" +
                Nul());
}

// Releases of a Japanese game, named on this disk in UTF-8 as the players'
// Windows names them in UTF-16: ルーメン.dat, セーブ/説明.txt, ソフト.txt
// (ソ is 83 5C in code page 932), the uninstall list in code page 932.
class JapaneseCheckTest : public MkupdateTest {
 protected:
  const std::string kLumen =
      "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3.dat";
  const std::string kSave = "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96";
  const std::string kHelp = kSave + "/\xE8\xAA\xAC\xE6\x98\x8E.txt";
  const std::string kSoft = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.txt";

  JapaneseCheckTest() {
    for (const std::string& d : {old_, old_ + "/" + kSave, mid_, new_}) {
      mkdir(d.c_str(), 0755);
    }
    WriteFileOrDie(old_ + "/game.exe", "game 1.0");
    WriteFileOrDie(old_ + "/" + kLumen, "lumen 1.0");
    WriteFileOrDie(old_ + "/" + kHelp, "help 1.0");
    WriteFileOrDie(old_ + "/" + kSoft, "soft 1.0");
    WriteFileOrDie(old_ + "/uninst.lst",
                   "game.exe\n\x83\x8B\x81\x5B\x83\x81\x83\x93.dat\n"
                   "\x83\x5A\x81\x5B\x83\x75\\\x90\xE0\x96\xBE.txt\n"
                   "\x83\x5C\x83\x74\x83\x67.txt\n" +
                       Nul());
    Copy(old_, mid_);
    WriteFileOrDie(mid_ + "/" + kSoft, "soft 1.1");  // already as in 1.2
    Copy(mid_, new_);
    WriteFileOrDie(new_ + "/" + kLumen, "lumen 1.2, longer");
    WriteFileOrDie(new_ + "/" + kHelp, "help 1.2");
  }

  static void Copy(const std::string& from, const std::string& to) {
    std::string parent = to.substr(0, to.rfind('/'));
    ASSERT_EQ(system(("rm -rf '" + to + "' && mkdir -p '" + parent +
                      "' && cp -r '" + from + "' '" + to + "'")
                         .c_str()),
              0);
  }

  std::string PackFrom(const std::string& from, const std::string& name) {
    std::string out = out_dir_ + "/" + name;
    EXPECT_EQ(Mk({"pack", "--stub", stub_, "--out", out, "--from", from, "--to",
                  new_, "--quiet"})
                  .status,
              0);
    return out;
  }

  ProcessResult Check(const std::vector<std::string>& args,
                      const std::string& tmp) {
    ProcessOptions options;
    options.env = {"TMPDIR=" + tmp};
    std::vector<std::string> all = {"check"};
    all.insert(all.end(), args.begin(), args.end());
    return Mk(all, options);
  }

  std::string old_ = dir_.Sub("1.0");
  std::string mid_ = dir_.Sub("1.1");
  std::string new_ = dir_.Sub("1.2");
  std::string tmp_ = dir_.Sub("tmp");
};

// What apply and check say is judged by what the folder holds: apply's 0
// only with every entry there under its UTF-8 name with its new bytes, in a
// Japanese folder too; check's 0 only for the update that makes 1.0 into
// 1.2, its 1 naming the file a wrong one leaves behind.
TEST_F(JapaneseCheckTest, RightUpdatePassesAndWrongOneFailsNamingTheFile) {
  mkdir(tmp_.c_str(), 0755);
  std::string right = PackFrom(old_, "right.exe");
  // Packed from 1.1, it lacks ソフト.txt for a 1.0 player.
  std::string short_of_soft = PackFrom(mid_, "short.exe");
  // ルーメン.dat alone, in no folder, with the whole list.
  std::string lumen = out_dir_ + "/lumen.exe";
  ASSERT_EQ(Mk({"pack", "--stub", stub_, "--out", lumen, "--verify-dir", new_,
                "--quiet", new_ + "/" + kLumen})
                .status,
            0);
  struct {
    std::string update;
    int status;
    std::string line;  // in check's output
    std::string applied;  // ルーメン.dat, 説明.txt and ソフト.txt after apply
  } cases[] = {
      {right, 0, old_ + ": becomes " + new_ + " (4 files match)\n",
       "lumen 1.2, longer|help 1.2|soft 1.1"},
      {short_of_soft, 1, "\n  differs            " + kSoft + "\n",
       "lumen 1.2, longer|help 1.2|soft 1.0"},
      {lumen, 1, "\n  differs            " + kHelp + "\n",
       "lumen 1.2, longer|help 1.0|soft 1.0"},
  };
  for (const auto& c : cases) {
    ProcessResult r = Check({c.update, "--from", old_, "--to", new_}, tmp_);
    EXPECT_EQ(r.status, c.status) << c.update << r.err << out_text_;
    EXPECT_NE(out_text_.find(c.line), std::string::npos) << out_text_;
    EXPECT_EQ(FolderNames(tmp_), std::vector<std::string>());
    for (const std::string& folder :
         {dir_.Sub("game"), dir_.Sub(kSave + "/" + kSoft)}) {
      Copy(old_, folder);
      r = Mk({"apply", c.update, folder});
      std::string entries_new = ReadFileOrEmpty(folder + "/" + kLumen) + "|" +
                                ReadFileOrEmpty(folder + "/" + kHelp) + "|" +
                                ReadFileOrEmpty(folder + "/" + kSoft);
      EXPECT_EQ(r.status, 0) << folder << r.err;
      // What the update carries is there, under the names Windows would
      // give it, and nothing under the stored bytes.
      EXPECT_EQ(entries_new, c.applied) << folder;
      EXPECT_EQ(FolderNames(folder),
                (std::vector<std::string>{"game.exe", "uninst.lst", "vrx.hvl",
                                          kSave, kSoft, kLumen}));
    }
  }
  // A file of 1.2 changed after the pack: the update is wrong for it.
  WriteFileOrDie(new_ + "/" + kHelp, "help 1.2, fixed");
  ProcessResult r = Check({right, "--from", old_, "--to", new_}, tmp_);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(out_text_.find("  differs            " + kHelp + "\n"),
            std::string::npos)
      << out_text_;
}

// What failed in a run is named: the file and the system's reason where
// the run's calls tell it, the entry or the list where the update or the
// folder does.
TEST_F(JapaneseCheckTest, ApplySaysWhatFailed) {
  std::string right = PackFrom(old_, "right.exe");
  std::string damaged = out_dir_ + "/damaged.exe";
  std::string bytes = ReadFileOrEmpty(right);
  // The first data byte of the first entry, セーブ\説明.txt, changed.
  bytes[kPayloadOffset + 16 + 32 * U32At(bytes, kPayloadOffset + 12)] ^= 1;
  WriteFileOrDie(damaged, bytes);
  std::string game = dir_.Sub("game");
  pid_t holder = -1;
  struct {
    std::string spoil;  // a shell command run in the folder first
    bool hold;          // another program holds ルーメン.dat throughout
    std::string update;
    std::string code;
    std::string text;
  } cases[] = {
      {"rm -r " + kSave, false, right, "0x80000004",
       game + "/" + kSave + ": cannot open the folder: No such file"},
      {"rm " + kSoft + " && mkdir " + kSoft, false, right, "0x80000004",
       game + "/" + kSoft + ": a folder stands where a file goes"},
      {"true", true, right, "0x80000004",
       game + "/" + kLumen + ": another program holds it open"},
      {"printf 'game.exe\\n' >uninst.lst", false, right, "0x80000005",
       game + "/uninst.lst: it does not end in a NUL byte"},
      {"true", false, damaged, "0x80000003",
       damaged + ": entry " + kSave +
           "\\\xE8\xAA\xAC\xE6\x98\x8E.txt: its data differ from its "
           "record"},
  };
  for (const auto& c : cases) {
    Copy(old_, game);
    ASSERT_EQ(system(("cd '" + game + "' && " + c.spoil).c_str()), 0);
    if (c.hold) holder = HoldFlock(game + "/" + kLumen);
    ProcessResult r = Mk({"apply", c.update, game});
    if (c.hold) StopProcess(holder);
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_NE(r.err.find(game + ": the updater ends with " + c.code + " ("),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\n  " + c.text), std::string::npos) << r.err;
  }
}

// A check stopped where its run creates its first temporary file in the
// copy of 1.0: a termination request removes its folder before it ends; a
// kill leaves the folder, which the next check removes, since no process
// runs under its number and start. The folder of a check that still runs is
// left alone.
class CheckKillTest : public JapaneseCheckTest,
                      public ::testing::WithParamInterface<int> {};

TEST_P(CheckKillTest, LeavesNothingOnceTheNextHasRun) {
  int sig = GetParam();
  mkdir(tmp_.c_str(), 0755);
  std::string right = PackFrom(old_, "right.exe");
  ProcessOptions options;
  options.env = {"TMPDIR=" + tmp_, std::string("LD_PRELOAD=") + PAUSE_SHIM,
                 "PAUSE_SHIM_AT=*.updating",
                 "ASAN_OPTIONS=verify_asan_link_order=0"};
  ChildProcess child = SpawnProcess(
      {MKUPDATE_BINARY, "check", right, "--from", old_, "--to", new_}, options);
  int status = 0;
  ASSERT_EQ(waitpid(child.pid, &status, WUNTRACED), child.pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << "check ended before its run staged";
  std::vector<std::string> scratch = FolderNames(tmp_);
  ASSERT_EQ(scratch.size(), 1u);
  EXPECT_EQ(
      scratch[0].find("mkupdate-check-" + std::to_string(child.pid) + "-"), 0u);
  // The copy of 1.0 is there, the run about to stage into it.
  EXPECT_EQ(ReadFileOrEmpty(tmp_ + "/" + scratch[0] + "/1/" + kLumen),
            "lumen 1.0");
  ProcessResult other = Check({right, "--from", old_, "--to", new_}, tmp_);
  EXPECT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(FolderNames(tmp_), scratch) << "a running check's folder went";

  kill(child.pid, sig);
  kill(child.pid, SIGCONT);
  ASSERT_EQ(waitpid(child.pid, &status, 0), child.pid);
  close(child.in);
  close(child.err);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
  EXPECT_EQ(FolderNames(tmp_).size(), sig == SIGKILL ? 1u : 0u);
  ProcessResult next = Check({right, "--from", old_, "--to", new_}, tmp_);
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_EQ(FolderNames(tmp_), std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Signals, CheckKillTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGKILL));

// The start of process pid as /proc/PID/stat gives it (the 22nd field;
// the name, the 2nd, holds no blank for the processes asked about here).
std::string StartOf(pid_t pid) {
  std::string stat = ReadFileOrEmpty("/proc/" + std::to_string(pid) + "/stat");
  size_t at = 0;
  for (int field = 1; field < 22 && at != std::string::npos; field++) {
    at = stat.find(' ', at + 1);
  }
  return at == std::string::npos
             ? ""
             : stat.substr(at + 1, stat.find(' ', at + 1) - at - 1);
}

// Which folders of other checks a check removes: only the real folders of
// its own user whose process runs no more, or whose number another process
// now has.
TEST_F(JapaneseCheckTest, OnlyTheFoldersOfEndedChecksAreRemoved) {
  mkdir(tmp_.c_str(), 0755);
  std::string right = PackFrom(old_, "right.exe");
  pid_t ended = StartProcess({"true"});
  StopProcess(ended);
  std::string me = std::to_string(getpid());
  std::string gone = "mkupdate-check-" + std::to_string(ended) + "-5";
  struct {
    std::string name;
    const char* kind;  // "folder", "link", "others"
    bool removed;
  } cases[] = {
      {"mkupdate-check-" + me + "-" + StartOf(getpid()), "folder", false},
      {"mkupdate-check-" + me + "-1", "folder", true},  // the number reused
      {gone, "folder", true},
      {gone + "0", "link", false},
      {gone + "1", "others", false},
      {"mkupdate-check-x", "folder", false},
  };
  std::string target = dir_.Sub("target");
  mkdir(target.c_str(), 0755);
  WriteFileOrDie(target + "/kept", "kept");
  for (const auto& c : cases) {
    std::string path = tmp_ + "/" + c.name;
    if (std::string(c.kind) == "link") {
      ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
    } else {
      ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
      WriteFileOrDie(path + "/copy", "left");
    }
    if (std::string(c.kind) == "others" &&
        (geteuid() != 0 || chown(path.c_str(), 65534, 65534) != 0)) {
      GTEST_SKIP() << "giving a folder to another user needs root";
    }
  }
  ProcessResult r = Check({right, "--from", old_, "--to", new_}, tmp_);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const auto& c : cases) {
    EXPECT_EQ(FileExists(tmp_ + "/" + c.name), !c.removed) << c.name;
  }
  EXPECT_EQ(ReadFileOrEmpty(target + "/kept"), "kept");
}

// A temporary folder that cannot hold the copy, or the run in it, is no
// difference of the update's: exit 3, naming the folder and the system's
// reason. So is a file of the release that cannot be read.
TEST_F(JapaneseCheckTest, WhatCouldNotBeTriedIsNamedAndExitsThree) {
  WriteFileOrDie(old_ + "/big.arc", std::string(256 << 10, 'o'));
  WriteFileOrDie(new_ + "/big.arc", std::string(256 << 10, 'n'));
  std::string right = PackFrom(old_, "right.exe");
  std::string small = dir_.Sub("small");
  std::string no_room = ": the temporary folder: ";
  struct {
    int kib;
    std::string text;
  } cases[] = {
      // No room for the copy of 1.0, then none for the run's new big.arc.
      {64, no_room + "cannot copy " + old_ + " into it: cannot write "},
      {384, no_room + "the updater's run failed there: "},
  };
  for (const auto& c : cases) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    SmallFilesystem fs(small, c.kib);
    ASSERT_TRUE(fs.mounted());
    ProcessResult r = Check({right, "--from", old_, "--to", new_}, small);
    EXPECT_EQ(r.status, 3) << out_text_;
    EXPECT_NE(out_text_.find(old_ + ": could not be tried: " + small + c.text),
              std::string::npos)
        << out_text_;
    EXPECT_NE(out_text_.find(": No space left on device\n"), std::string::npos)
        << out_text_;
    EXPECT_EQ(FolderNames(small), std::vector<std::string>());
  }
  ProcessOptions options;
  options.env = {"TMPDIR=" + small};
  mkdir(small.c_str(), 0755);
  chmod(small.c_str(), 0555);
  ProcessResult r = MkWithoutOverride(
      {"check", right, "--from", old_, "--to", new_}, options);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(
      r.err.find(small + ": the temporary folder: cannot make a folder in it: "
                         "Permission denied"),
      std::string::npos)
      << r.err;
  chmod(small.c_str(), 0755);
  chmod((old_ + "/big.arc").c_str(), 0);
  r = MkWithoutOverride({"check", right, "--from", old_, "--to", new_},
                        options);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(out_text_.find(old_ + ": could not be tried: " + old_ +
                           "/big.arc: cannot open it: Permission denied"),
            std::string::npos)
      << out_text_;
}

}  // namespace
