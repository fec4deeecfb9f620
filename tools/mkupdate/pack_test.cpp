// mkupdate pack's summaries: what it wrote, what a dry run would write, and
// the update it wrote installed by the real updater.
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

TEST_F(MkupdateTest, RoundTripThroughTheUpdater) {
  UpdaterWorld world;
  const std::string& game = world.folder();
  mkdir((game + "/sub").c_str(), 0755);
  mkdir((src_ + "/sub").c_str(), 0755);
  WriteFileOrDie(src_ + "/game.exe", "MZ game");
  WriteFileOrDie(game + "/game.exe", "MZ game");
  WriteFileOrDie(src_ + "/sub/c.txt", "see");
  WriteFileOrDie(src_ + "/uninst.lst", "the publisher's copy\n" + Nul());
  WriteFileOrDie(game + "/uninst.lst", "game.exe\na.arc\n" + Nul());

  // Under the list's folder an entry keeps its path there.
  ProcessResult packed =
      Pack({src_ + "/a.arc", src_ + "/Data.ARC", src_ + "/sub/c.txt"}, update_);
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(out_text_,
            "wrote " + update_ + ": 4 entries, " +
                std::to_string(5 + (3 << 20) + 3 + 16 + 4 * 64) +
                " bytes of data, verification list vrx.hvl with 4 records "
                "(3 of 3 entries verified by it)\n");
  // Only the note that the folder must be there: no lesson on the lists.
  EXPECT_EQ(packed.err, "mkupdate: " + src_ +
                            "/sub/c.txt: the updater creates no folders: "
                            "sub must exist in the installed game\n");
  struct stat st;
  ASSERT_EQ(stat(update_.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0100, 0u) << "the update must be executable";

  ProcessResult r = RunProcess({update_}, world.Options("y\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* name : {"a.arc", "Data.ARC", "sub/c.txt"}) {
    EXPECT_EQ(ReadFileOrEmpty(game + "/" + name),
              ReadFileOrEmpty(src_ + "/" + name))
        << name;
  }
  // Installed names keep their case; a.arc was listed already.
  EXPECT_EQ(ReadFileOrEmpty(game + "/uninst.lst"),
            "game.exe\na.arc\nData.ARC\nsub\\c.txt\nvrx.hvl\n" + Nul());
  // The installed list describes the folder it came with.
  EXPECT_EQ(Mk({"verify", game + "/vrx.hvl", game}).status, 0) << out_text_;
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

// A file whose name the list cannot hold blocks the update until it is
// left out; left out, it is neither packed nor listed, and the dry run says
// so. A folder left out takes everything in it.
TEST_F(ReleaseTest, ExcludedFilesAreNeitherPackedNorListed) {
  std::string long_name = std::string(56, 'n');
  Both(long_name, "unchanged");
  mkdir((new_ + "/logs").c_str(), 0755);
  WriteFileOrDie(new_ + "/logs/today.log", "x");
  ProcessResult r = PackReleases({"--dry-run"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(long_name + "': "), std::string::npos) << r.err;
  r = PackReleases({"--dry-run", "--exclude", "n*", "--exclude", "LOGS"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& line :
       {"left out of the list: " + new_ + "/" + long_name +
            ": left out by --exclude n*\n",
        "left out of the list: " + new_ +
            "/logs: left out by --exclude "
            "LOGS\n",
        std::string("verification list vrx.hvl with 7 records")}) {
    EXPECT_NE(out_text_.find(line), std::string::npos) << line << out_text_;
  }
  EXPECT_EQ(out_text_.find("today.log"), std::string::npos) << out_text_;
}

// A file pack could not read fails the dry run as it fails pack, whether
// it would be an entry or only a record of the list.
TEST_F(ReleaseTest, ADryRunFailsWherePackWould) {
  for (const char* name : {"/movie/staff.mpg", "/readme.txt"}) {
    std::string file = new_ + name;
    ASSERT_EQ(chmod(file.c_str(), 0), 0);
    for (const char* dry : {"--dry-run", "--quiet"}) {
      ProcessResult r =
          MkWithoutOverride({"pack", "--stub", stub_, "--out", update_, dry,
                             "--from", old_, "--to", new_});
      EXPECT_EQ(r.status, 1) << name << " " << dry;
      EXPECT_NE(r.err.find(file + ": cannot open it"), std::string::npos)
          << r.err;
    }
    chmod(file.c_str(), 0644);
  }
  // A file the list records but nothing else reads.
  std::string file = new_ + "/readme.txt";
  ASSERT_EQ(chmod(file.c_str(), 0), 0);
  ProcessResult r =
      MkWithoutOverride({"pack", "--stub", stub_, "--out", update_, "--dry-run",
                         "--verify-dir", new_, new_ + "/game.exe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(file + ": cannot open it"), std::string::npos) << r.err;
  chmod(file.c_str(), 0644);
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>());
}

// Without --stub, pack takes the stub that goes with the mkupdate that
// runs, wherever it was put: beside it (the zip), under its prefix, and
// says which it took, in JSON too.
TEST_F(MkupdateTest, TheStubIsFoundWhereTheToolIs) {
  struct {
    std::string tool;  // where mkupdate is put, under the scratch folder
    std::string stub;  // and its stub
    const char* from;
  } cases[] = {
      {"prefix/bin/mkupdate", "prefix/share/mkupdate/i686/updater.exe",
       "where mkupdate is installed"},
      {"zip/mkupdate", "zip/updater.exe", "beside mkupdate"},
  };
  for (const auto& c : cases) {
    std::string tool = dir_.Sub(c.tool), stub = dir_.Sub(c.stub);
    ASSERT_EQ(system(("mkdir -p \"$(dirname '" + tool + "')\" \"$(dirname '" +
                      stub + "')\"")
                         .c_str()),
              0);
    WriteFileOrDie(tool, ReadFileOrEmpty(MKUPDATE_BINARY));
    chmod(tool.c_str(), 0755);
    WriteFileOrDie(stub, ReadFileOrEmpty(stub_));
    ProcessResult r = RunProcess(
        {tool, "pack", "--out", update_, "--verify-dir", src_, src_ + "/a.arc"},
        ProcessOptions());
    EXPECT_EQ(r.status, 0) << r.err;

    ProcessOptions json;
    json.stdout_path = dir_.Sub("json");
    r = RunProcess({tool, "pack", "--out", update_, "--verify-dir", src_,
                    "--dry-run", "--json", src_ + "/a.arc"},
                   json);
    std::string text = ReadFileOrEmpty(json.stdout_path);
    EXPECT_NE(text.find("\"stub\": \"" + stub + "\",\n  \"stub_from\": \"" +
                        c.from + "\""),
              std::string::npos)
        << text;
    r = RunProcess({tool, "pack", "--out", update_, "--verify-dir", src_,
                    "--dry-run", src_ + "/a.arc"},
                   json);
    EXPECT_EQ(
        ReadFileOrEmpty(json.stdout_path)
            .find("stub: " + stub + " (" + c.from + "; no --stub given)\n"),
        0u);
    unlink(update_.c_str());
  }
}

}  // namespace
