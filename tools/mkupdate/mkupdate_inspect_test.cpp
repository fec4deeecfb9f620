// mkupdate list and verify run as processes, as CI would: text and JSON,
// and exit codes that tell "differs" from "could not check"; and the
// conventions of every command.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "tools/mkupdate/mkupdate_fixture.h"

namespace {

class InspectTest : public MkupdateTest {
 protected:
  // An update of a.arc, Data.ARC and an unlisted entry, with the list.
  void PackThree() {
    WriteFileOrDie(src_ + "/other.txt", "not packed");
    ASSERT_EQ(
        Pack({src_ + "/a.arc", src_ + "/Data.ARC", "new=" + stub_}, update_)
            .status,
        0);
    good_ = ReadFileOrEmpty(update_);
  }
  std::string good_;
};

TEST_F(InspectTest, ListShowsEachEntryAndItsState) {
  PackThree();
  ASSERT_EQ(Mk({"list", update_}).status, 0) << out_text_;
  EXPECT_NE(out_text_.find("4 entries, verification list with 3 records"),
            std::string::npos)
      << out_text_;
  char line[200];
  snprintf(line, sizeof(line), "%-15s %10u %10u  %s  %s\n", "a.arc", 0u, 5u,
           Hex(ChecksumOf("alpha")).c_str(), "verified");
  EXPECT_NE(out_text_.find(line), std::string::npos) << out_text_;
  EXPECT_NE(out_text_.find("verified\nnew "), std::string::npos);
  EXPECT_NE(out_text_.find(" not listed\nvrx.hvl "), std::string::npos);

  // One changed byte in Data.ARC's data: only that entry mismatches.
  std::string damaged = good_;
  size_t data = kPayloadOffset + 16 + 4 * 32;
  damaged[data + 5 + 1000] ^= 1;
  WriteFileOrDie(update_, damaged);
  ProcessResult r = Mk({"list", update_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(out_text_.find("MISMATCH\nnew"), std::string::npos) << out_text_;
  EXPECT_NE(r.err.find("1 entry differs from its record"), std::string::npos)
      << r.err;

  // Bytes appended after the data (a signature) change nothing.
  WriteFileOrDie(update_, good_ + std::string(4096, 's'));
  EXPECT_EQ(Mk({"list", update_}).status, 0);
  EXPECT_NE(out_text_.find("4096 bytes follow"), std::string::npos);

  // Cut inside the list: its entry cannot be read: not checked.
  WriteFileOrDie(update_, good_.substr(0, good_.size() - 10));
  r = Mk({"list", update_});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(out_text_.find("UNREADABLE"), std::string::npos) << out_text_;
  EXPECT_NE(r.err.find("1 entry cannot be read in full"), std::string::npos);

  // A list with the wrong magic: the updater would check nothing.
  damaged = good_;
  damaged[good_.size() - (16 + 3 * 64)] = 'X';
  WriteFileOrDie(update_, damaged);
  r = Mk({"list", update_});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("vrx.hvl is damaged"), std::string::npos) << r.err;
  EXPECT_NE(out_text_.find("not listed\nData.ARC"), std::string::npos);
  EXPECT_NE(out_text_.find("no usable verification list"), std::string::npos);
}

TEST_F(InspectTest, ListSaysWhatAFileIsWhenItIsNoUpdate) {
  std::string big_program = dir_.Sub("program");
  WriteFileOrDie(big_program, Pattern(2 << 20, 3));
  struct Case {
    std::string file, reason;
  };
  WriteFileOrDie(update_, UpdaterFile(BuildPayload({{"a", "b"}}, 25)));
  std::string cut = dir_.Sub("cut");
  WriteFileOrDie(cut, UpdaterFile(BuildPayload({{"a", "b"}, {"c", "d"}}))
                          .substr(0, kPayloadOffset + 16 + 40));
  for (const Case& c : std::vector<Case>{
           {src_, "a folder, not an update"},
           {dir_.Sub("none"), "no such file"},
           {stub_, "an update's payload starts at 1 MiB"},
           {big_program, "no payload header (PackFile) at 1 MiB"},
           {update_, "more than 24 entries"},
           {cut, "its directory cannot be read"},
       }) {
    for (bool json : {false, true}) {
      std::vector<std::string> args = {"list"};
      if (json) args.push_back("--json");
      args.push_back(c.file);
      ProcessResult r = Mk(args);
      EXPECT_EQ(r.status, 3) << c.file;
      EXPECT_EQ(r.err.find("mkupdate: " + c.file + ": "), 0u) << r.err;
      EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
      EXPECT_EQ(out_text_, "") << "results only when there are any";
    }
  }
}

TEST_F(InspectTest, ListAsJson) {
  WriteFileOrDie(src_ + "/" + kJapaneseUtf8, "japanese");
  ASSERT_EQ(Pack({src_ + "/a.arc", "x=" + stub_}, update_).status, 0);
  std::string file = ReadFileOrEmpty(update_);
  std::string signed_file = file + "sig";
  WriteFileOrDie(update_, signed_file);
  ProcessResult r = Mk({"list", "--json", "--records", update_});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string stub = ReadFileOrEmpty(stub_);
  uint32_t list_size = 16 + 3 * 64;
  std::string list = file.substr(file.size() - list_size);
  // Each entry's data_position is where its data lies in the file.
  auto at = [](size_t offset) {
    return std::to_string(offset) + ", \"data_position\": " +
           std::to_string(kPayloadOffset + 16 + 3 * 32 + offset);
  };
  std::string expected =
      "{\n  \"file\": \"" + update_ +
      "\",\n  \"entries\": [\n"
      "    {\"name\": \"a.arc\", \"offset\": " +
      at(0) + ", \"size\": 5, \"checksum\": \"" + Hex(ChecksumOf("alpha")) +
      "\", \"state\": \"verified\"},\n"
      "    {\"name\": \"x\", \"offset\": " +
      at(5) + ", \"size\": " + std::to_string(stub.size()) +
      ", \"checksum\": \"" + Hex(ChecksumOf(stub)) +
      "\", \"state\": \"not listed\"},\n"
      "    {\"name\": \"vrx.hvl\", \"offset\": " +
      at(5 + stub.size()) + ", \"size\": " + std::to_string(list_size) +
      ", \"checksum\": \"" + Hex(ChecksumOf(list)) +
      "\", \"state\": \"not listed\"}\n"
      "  ],\n  \"list_records\": 3,\n  \"bytes_after_data\": 3,\n"
      "  \"records\": [\n"
      "    {\"name\": \"Data.ARC\", \"checksum\": \"" +
      Hex(ChecksumOf(ReadFileOrEmpty(src_ + "/Data.ARC"))) +
      "\"},\n"
      "    {\"name\": \"a.arc\", \"checksum\": \"" +
      Hex(ChecksumOf("alpha")) +
      "\"},\n"
      "    {\"name\": \"" +
      kJapaneseUtf8 + "\", \"checksum\": \"" + Hex(ChecksumOf("japanese")) +
      "\"}\n  ]\n}\n";
  EXPECT_EQ(out_text_, expected);

  // A mismatch is "mismatch"; an entry that runs past the end of the file
  // is "unreadable", with no checksum; the mismatch decides the exit code.
  std::string damaged = file;
  damaged[kPayloadOffset + 16 + 3 * 32] ^= 1;  // a.arc's first byte
  uint32_t past_the_end = 0x7FFFFFF0u;
  memcpy(&damaged[kPayloadOffset + 16 + 32 + 20], &past_the_end, 4);
  WriteFileOrDie(update_, damaged);
  EXPECT_EQ(Mk({"list", "--json", update_}).status, 1);
  EXPECT_NE(out_text_.find("\"state\": \"mismatch\""), std::string::npos)
      << out_text_;
  EXPECT_NE(out_text_.find("\"checksum\": null, \"state\": \"unreadable\""),
            std::string::npos)
      << out_text_;
  // Data the updater could not seek to has no position.
  damaged = file;
  memcpy(&damaged[kPayloadOffset + 16 + 32 + 16], &past_the_end, 4);
  WriteFileOrDie(update_, damaged);
  Mk({"list", "--json", update_});
  EXPECT_NE(out_text_.find("\"name\": \"x\", \"offset\": 2147483632, "
                           "\"data_position\": null,"),
            std::string::npos)
      << out_text_;
  // With a damaged list there are no records to count.
  damaged = file;
  damaged[file.size() - list_size] = 'X';
  WriteFileOrDie(update_, damaged);
  EXPECT_EQ(Mk({"list", "--json", "--records", update_}).status, 3);
  EXPECT_NE(out_text_.find("\"list_records\": null,"), std::string::npos);
  EXPECT_NE(out_text_.find("\"records\": null\n}"), std::string::npos)
      << out_text_;
}

TEST_F(InspectTest, ListShowsTheRecords) {
  PackThree();
  ASSERT_EQ(Mk({"list", "--records", update_}).status, 0);
  char line[200];
  snprintf(line, sizeof(line), "  %-55s  %s\n", "other.txt",
           Hex(ChecksumOf("not packed")).c_str());
  EXPECT_NE(out_text_.find("vrx.hvl: 3 records\n"), std::string::npos)
      << out_text_;
  EXPECT_NE(out_text_.find(line), std::string::npos) << out_text_;
}

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

  WriteFileOrDie(game + "/a.arc", "alphA");
  unlink((game + "/c.dat").c_str());
  ProcessResult r = Mk({"verify", list, game});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(out_text_,
            "differs    a.arc\nmissing    c.dat\n" + game +
                ": 3 files listed: 1 missing, 1 differing, 0 unreadable\n");
  EXPECT_EQ(r.err, "");

  // Only unreadable: the folder could not be checked.
  WriteFileOrDie(game + "/a.arc", "alpha");
  WriteFileOrDie(game + "/c.dat", "");
  chmod((game + "/Sub/b.DAT").c_str(), 0);
  r = MkWithoutOverride({"verify", "--json", list, game});
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(out_text_, "{\n  \"list\": \"" + list + "\",\n  \"folder\": \"" +
                           game +
                           "\",\n  \"files\": [\n"
                           "    {\"name\": \"a.arc\", \"state\": \"ok\"},\n"
                           "    {\"name\": \"sub\\\\B.dat\", \"state\": "
                           "\"unreadable\"},\n"
                           "    {\"name\": \"c.dat\", \"state\": \"ok\"}\n"
                           "  ],\n  \"ok\": 2, \"missing\": 0, \"differs\": 0, "
                           "\"unreadable\": 1\n}\n");
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
  ProcessResult r = Mk({"verify", update_, dir_.Sub("nofolder")});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("nofolder: not a folder"), std::string::npos);
}

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
  for (const char* command : {"pack", "list", "verify"}) {
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

}  // namespace
