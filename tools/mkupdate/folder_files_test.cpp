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
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"
#include "tools/mkupdate/mkupdate_fixture.h"

namespace {

TEST_F(MkupdateTest, AnOutputInsideTheListedFolderIsNeverListed) {
  std::string out = src_ + "/setup.exe";
  ASSERT_EQ(Pack({src_ + "/a.arc"}, out).status, 0);
  std::string first = ReadFileOrEmpty(out);
  ProcessResult again = Pack({src_ + "/a.arc"}, out);
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(ReadFileOrEmpty(out), first) << "the list took in the old output";
  EXPECT_NE(out_text_.find("with 2 records"), std::string::npos) << out_text_;
  ASSERT_EQ(Pack({"--dry-run", src_ + "/a.arc"}, out).status, 0);
  EXPECT_NE(
      out_text_.find("left out of the list: " + out + ": it is the output"),
      std::string::npos)
      << out_text_;
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

}  // namespace
