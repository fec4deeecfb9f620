// mkupdate apply and check: the updater's own run on a folder, and an
// update tried on a copy of every old release against the new one. A
// cumulative update of three releases brings both old ones to the new; one
// packed from a single release is caught for the other.
#include <sys/stat.h>
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

}  // namespace
