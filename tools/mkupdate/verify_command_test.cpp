// mkupdate verify run as a process: an installed folder against a list,
// or against the update that carries one.
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

namespace {

TEST_F(InspectTest, VerifyAnInstalledFolder) {
  std::string game = dir_.Sub("Game");
  mkdir(game.c_str(), 0755);
  mkdir((game + "/Sub").c_str(), 0755);
  std::string list = dir_.Sub("vrx.hvl");
  WriteFileOrDie(list, BuildVerificationList({{"a.arc", ChecksumOf("alpha")},
                                              {"sub\\B.dat", ChecksumOf("bee")},
                                              {"c.dat", ChecksumOf("")}}));
  WriteFileOrDie(game + "/a.arc", "alpha");
  WriteFileOrDie(game + "/Sub/b.DAT", "bee");  // Windows ignores the case
  WriteFileOrDie(game + "/c.dat", "");
  EXPECT_EQ(Mk({"verify", list, game}).status, 0);
  EXPECT_EQ(out_text_, game + ": all 3 listed files match\n");
  EXPECT_EQ(Mk({"verify", "--json", list, game}).status, 0);
  EXPECT_NE(out_text_.find("\"ok\": true,"), std::string::npos) << out_text_;

  WriteFileOrDie(game + "/a.arc", "alphA");
  unlink((game + "/c.dat").c_str());
  ProcessResult r = Mk({"verify", list, game});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(out_text_,
            "differs    a.arc\nmissing    c.dat\n" + game +
                ": 3 files listed: 1 missing, 1 differing, 0 unreadable\n");
  EXPECT_EQ(r.err, "");
  // One file matches, and yet the verdict is no.
  EXPECT_EQ(Mk({"verify", "--json", list, game}).status, 1);
  EXPECT_NE(out_text_.find("\"ok\": false,"), std::string::npos) << out_text_;
  EXPECT_NE(out_text_.find("\"counts\": {\"files\": 3, \"ok\": 1, "
                           "\"missing\": 1, \"differs\": 1,"),
            std::string::npos)
      << out_text_;

  // Only unreadable: the folder could not be checked.
  WriteFileOrDie(game + "/a.arc", "alpha");
  WriteFileOrDie(game + "/c.dat", "");
  chmod((game + "/Sub/b.DAT").c_str(), 0);
  r = MkWithoutOverride({"verify", "--json", list, game});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(out_text_,
            "{\n  \"format_version\": 2,\n  \"command\": "
            "\"verify\",\n  \"ok\": false,\n  \"list\": \"" +
                list + "\",\n  \"folder\": \"" + game +
                "\",\n  \"files\": [\n"
                "    {\"name\": \"a.arc\", \"state\": \"ok\"},\n"
                "    {\"name\": \"sub\\\\B.dat\", \"state\": "
                "\"unreadable\"},\n"
                "    {\"name\": \"c.dat\", \"state\": \"ok\"}\n"
                "  ],\n  \"counts\": {\"files\": 3, \"ok\": 2, "
                "\"missing\": 0, \"differs\": 0, "
                "\"unreadable\": 1}\n}\n");
  // Missing as well: the difference is certain, and wins.
  unlink((game + "/c.dat").c_str());
  EXPECT_EQ(MkWithoutOverride({"verify", list, game}).status, 1);
  EXPECT_NE(out_text_.find("unreadable sub\\B.dat: cannot open it"),
            std::string::npos)
      << out_text_;
}

TEST_F(InspectTest, VerifyTakesTheUpdateForItsList) {
  PackThree();
  EXPECT_EQ(Mk({"verify", update_, src_}).status, 0) << out_text_;
  EXPECT_EQ(out_text_, src_ + ": all 3 listed files match\n");
  WriteFileOrDie(src_ + "/other.txt", "changed");
  EXPECT_EQ(Mk({"verify", "--json", update_, src_}).status, 1);
  EXPECT_NE(out_text_.find("{\"name\": \"other.txt\", \"state\": \"differs\"}"),
            std::string::npos)
      << out_text_;

  // What cannot serve as a list: exit 3, naming it.
  std::string no_list = dir_.Sub("nolist");
  ASSERT_EQ(Pack({src_ + "/a.arc"}, no_list, false).status, 0);
  std::string damaged = dir_.Sub("damaged.hvl");
  WriteFileOrDie(damaged,
                 BuildVerificationList({{"..\\a.arc", ChecksumOf("")}}));
  struct Case {
    std::string list, reason;
  };
  for (const Case& c : std::vector<Case>{
           {no_list, "the update carries no verification list"},
           {stub_, "neither a verification list"},
           {damaged, "dots and blanks only"},
           {dir_.Sub("none.hvl"), "cannot open it"},
       }) {
    ProcessResult r = Mk({"verify", c.list, src_});
    EXPECT_EQ(r.status, 3) << c.list;
    EXPECT_EQ(r.err.find("mkupdate: " + c.list + ": "), 0u) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
  // The folder missing, a file, or given first.
  for (const Case& c : std::vector<Case>{
           {dir_.Sub("nofolder"), "nofolder: no such folder"},
           {stub_, "stub: not a folder"},
           {"", src_ +
                    ": a folder, where the list or the update comes first: "
                    "mkupdate verify " +
                    update_ + " " + src_},
       }) {
    ProcessResult r = c.list.empty() ? Mk({"verify", src_, update_})
                                     : Mk({"verify", update_, c.list});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
  }
}

}  // namespace
