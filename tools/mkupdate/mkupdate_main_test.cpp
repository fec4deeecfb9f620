// The conventions of every mkupdate command: usage errors in one line and
// exit code 2, help and version.
#include <string.h>
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

namespace {

TEST_F(InspectTest, UsageErrorsTakeOneLineAndExitTwo) {
  std::string a = src_ + "/a.arc";
  std::vector<std::vector<std::string>> usage_errors = {
      {},
      {"unpack"},
      {"help", "unpack"},
      {"pack", "--out", update_, a},
      {"pack", "--stub", stub_, a},
      {"pack", "--stub", stub_, "--out", update_},
      {"pack", "--stub", stub_, "--out", update_, "--verify-dir", src_,
       "--verify-list", a, a},
      {"pack", "--stub", stub_, "--stub", stub_, "--out", update_, a},
      {"pack", "--stub", stub_, "--out", update_, "--level", a},
      {"pack", "--stub", stub_, "--out"},
      {"pack", "--stub", stub_, "--out", update_, "--entry", "x"},
      {"list"},
      {"list", update_, update_},
      {"list", "-v", update_},
      {"verify", a},
      {"apply", update_},
      {"apply", "--force", update_, src_},
      {"check", update_, "--from", src_},
      {"check", update_, "--to", src_},
      {"check", "--from", src_, "--to", src_},
      {"check", update_, update_, "--from", src_, "--to", src_},
      {"check", update_, "--from", src_, "--to", src_, "--to", src_},
      {"check", update_, "--from", src_, "--to", src_, "--exclude"},
  };
  for (const auto& args : usage_errors) {
    ProcessResult r = Mk(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    // One line of problem, one to say where help is.
    EXPECT_EQ(r.err.find("mkupdate: "), 0u) << r.err;
    size_t second = r.err.find('\n') + 1;
    EXPECT_EQ(r.err.find("Try 'mkupdate --help'", second), second) << r.err;
    EXPECT_EQ(r.err.find('\n', second), r.err.size() - 1) << r.err;
    EXPECT_EQ(out_text_, "");
  }
  EXPECT_FALSE(FileExists(update_));
  // "--" ends the options: a file may then start with '-'.
  WriteFileOrDie(dir_.Sub("-x"), "dash");
  EXPECT_EQ(
      Mk({"pack", "--stub", stub_, "--out=" + update_, "--", dir_.Sub("-x")})
          .status,
      0);
  for (const char* command : {"pack", "list", "verify", "apply", "check"}) {
    EXPECT_EQ(Mk({command, "--help"}).status, 0);
    std::string help = out_text_;
    EXPECT_EQ(help.find(std::string("usage: mkupdate ") + command), 0u) << help;
    EXPECT_EQ(Mk({"help", command}).status, 0);
    EXPECT_EQ(out_text_, help);
  }
  EXPECT_EQ(Mk({"--help"}).status, 0);
  EXPECT_NE(out_text_.find("verify"), std::string::npos);
  ProcessResult version = Mk({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(out_text_.find("mkupdate "), 0u);
  EXPECT_EQ(version.err, "");
}

TEST_F(ReleaseTest, UsageErrors) {
  for (const auto& extra : std::vector<std::vector<std::string>>{
           {"--from", old_},
           {"--to", new_},
           {"--from", old_, "--to", new_, "--verify-dir", new_},
           {"--from", old_, "--to", new_, "--verify-list", new_ + "/vrx.hvl"},
           // A release twice, however spelled, would hide another one.
           {"--from", old_, "--from", old_ + "/../old/", "--to", new_},
           {"--from", old_, "--to", old_},
           {"--from", old_, "--entry", "a", new_ + "/game.exe"},
       }) {
    std::vector<std::string> args = {"pack", "--stub", stub_, "--out", update_};
    args.insert(args.end(), extra.begin(), extra.end());
    ProcessResult r = Mk(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("Try 'mkupdate --help'"), std::string::npos);
    args[0] = "check";
    args.erase(args.begin() + 1, args.begin() + 5);
    args.insert(args.begin() + 1, stub_);
    if (extra.size() == 6) EXPECT_EQ(Mk(args).status, 2) << "check";
  }
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>());
}

}  // namespace
