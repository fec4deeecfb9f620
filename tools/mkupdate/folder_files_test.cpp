// The files of a release folder as mkupdate lists them: links followed
// where they stay inside it and refused where they lead out, the output
// never listed.
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

// No release file is ever an output: an OUT inside any folder an update is
// made from is refused, however its path is spelled, and the release is
// left as it was; so is an OUT that is a release file under another name.
TEST_F(ReleaseTest, AnOutputInsideAReleaseFolderIsRefused) {
  std::string to_new = dir_.Sub("to_new");
  ASSERT_EQ(symlink(new_.c_str(), to_new.c_str()), 0);
  std::string hard = dir_.Sub("hard");
  ASSERT_EQ(link((new_ + "/readme.txt").c_str(), hard.c_str()), 0);
  std::vector<std::string> releases = {"--from", old_, "--to", new_};
  struct Case {
    std::string out;
    std::vector<std::string> args;
    std::string named;  // in the message
  };
  std::vector<Case> cases = {
      {new_ + "/game.exe", releases, "inside " + new_ + " (--to)"},
      {new_ + "/movie/setup.exe", releases, "inside " + new_ + " (--to)"},
      {old_ + "/game.exe", releases, "inside " + old_ + " (--from)"},
      {out_dir_ + "/../new/readme.txt", releases, "inside " + new_},
      {to_new + "/movie/op.mpg", releases, "inside " + new_},
      {src_ + "/a.arc",
       {"--verify-dir", src_, src_ + "/a.arc"},
       "inside " + src_ + " (--verify-dir)"},
      {src_ + "/new.exe",
       {"--verify-dir", src_, src_ + "/a.arc"},
       "inside " + src_ + " (--verify-dir)"},
      {hard, releases, "the same file as the output"},
  };
  auto snapshot = [&] {
    return SnapshotDir(old_) + SnapshotDir(new_) + SnapshotDir(src_);
  };
  std::string before = snapshot();
  for (const Case& c : cases) {
    for (const char* dry : {"--quiet", "--dry-run"}) {
      std::vector<std::string> args = {"pack",  "--stub", stub_,
                                       "--out", c.out,    dry};
      args.insert(args.end(), c.args.begin(), c.args.end());
      ProcessResult r = Mk(args);
      EXPECT_EQ(r.status, 1) << c.out << " " << dry << "\n" << r.err;
      EXPECT_NE(r.err.find(c.named), std::string::npos) << c.out << r.err;
    }
  }
  EXPECT_EQ(snapshot(), before) << "a release file was touched";
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
           {new_ + "/readme.txt", "gone.txt", releases,
            "a link to gone.txt, which does not exist"},
           {old_ + "/lost", "nowhere", releases,
            "a link to nowhere, which does not exist"},
           {new_ + "/lost",
            "nowhere",
            {"--dry-run", "--verify-dir", new_},
            "a link to nowhere, which does not exist"},
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

}  // namespace
