// mkupdate list run as a process, as CI would: text and JSON, and exit
// codes that tell "differs" from "could not check".
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
  // What it says of the updater is what the updater does.
  EXPECT_NE(r.err.find("refuses the whole update (0x80000001) and writes "
                       "nothing"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("unchecked"), std::string::npos) << r.err;
  std::string game = dir_.Sub("game");
  mkdir(game.c_str(), 0755);
  EXPECT_EQ(Mk({"apply", update_, game}).status, 1);
  EXPECT_EQ(FolderNames(game), std::vector<std::string>());

  // A list with the wrong magic: the updater would check nothing.
  damaged = good_;
  damaged[good_.size() - (16 + 3 * 64)] = 'X';
  WriteFileOrDie(update_, damaged);
  r = Mk({"list", update_});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("vrx.hvl is damaged"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("would install every entry unchecked"),
            std::string::npos)
      << r.err;
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

// Names beyond ASCII take the columns a terminal gives them: a Japanese
// character two, a half-width katakana one, so that the columns after the
// name line up in list and in pack's dry run.
TEST_F(InspectTest, ColumnsAlignByDisplayWidth) {
  struct {
    std::string name;  // UTF-8
    int pad;           // blanks after it to 15 columns
  } cases[] = {
      {"a.arc", 10},
      {kJapaneseUtf8, 3},                // 4 wide characters and .dat: 12
      {"\xEF\xBD\xB1.txt", 10},          // ｱ.txt: 5 columns, 7 bytes
      {"\xE8\xAA\xAC\xE6\x98\x8E", 11},  // 説明: 4
  };
  std::vector<std::string> entries;
  for (const auto& c : cases) {
    WriteFileOrDie(src_ + "/" + c.name, "x");
    entries.push_back(src_ + "/" + c.name);
  }
  std::vector<std::string> dry = {"pack",  "--stub", stub_,
                                  "--out", update_,  "--dry-run"};
  dry.insert(dry.end(), entries.begin(), entries.end());
  ASSERT_EQ(Mk(dry).status, 0);
  std::string plan = out_text_;
  ASSERT_EQ(Pack(entries, update_, false).status, 0);
  ASSERT_EQ(Mk({"list", update_}).status, 0);
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
    const auto& c = cases[i];
    std::string padded = c.name + std::string(c.pad, ' ');
    // Each entry's one byte follows the last: its offset is its number.
    EXPECT_NE(
        out_text_.find("\n" + padded + "          " + std::to_string(i) + " "),
        std::string::npos)
        << c.name << "\n"
        << out_text_;
    EXPECT_NE(plan.find("\n  " + padded + "            1  "), std::string::npos)
        << c.name << "\n"
        << plan;
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
  // Where the data of an entry at that offset starts in the file.
  auto at = [](size_t offset) {
    return std::to_string(kPayloadOffset + 16 + 3 * 32 + offset);
  };
  std::string expected =
      "{\n  \"format_version\": 2,\n  \"command\": \"list\",\n"
      "  \"ok\": true,\n  \"file\": \"" +
      update_ +
      "\",\n  \"entries\": [\n"
      "    {\"name\": \"a.arc\", \"offset\": 0, \"size\": 5, "
      "\"data_position\": " +
      at(0) + ", \"checksum\": \"" + Hex(ChecksumOf("alpha")) +
      "\", \"state\": \"verified\"},\n"
      "    {\"name\": \"x\", \"offset\": 5, \"size\": " +
      std::to_string(stub.size()) + ", \"data_position\": " + at(5) +
      ", \"checksum\": \"" + Hex(ChecksumOf(stub)) +
      "\", \"state\": \"not listed\"},\n"
      "    {\"name\": \"vrx.hvl\", \"offset\": " +
      std::to_string(5 + stub.size()) +
      ", \"size\": " + std::to_string(list_size) +
      ", \"data_position\": " + at(5 + stub.size()) + ", \"checksum\": \"" +
      Hex(ChecksumOf(list)) +
      "\", \"state\": \"not listed\"}\n"
      "  ],\n  \"counts\": {\"entries\": 3, \"verified\": 1, "
      "\"mismatch\": 0, \"not_listed\": 2, \"unreadable\": 0, "
      "\"records\": 3},\n"
      "  \"bytes_after_data\": 3,\n"
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
  EXPECT_NE(out_text_.find("\"ok\": false,"), std::string::npos);
  EXPECT_NE(out_text_.find("\"mismatch\": 1, \"not_listed\": 1, "
                           "\"unreadable\": 1,"),
            std::string::npos)
      << out_text_;
  // With a damaged list there are no records to count.
  damaged = file;
  damaged[file.size() - list_size] = 'X';
  WriteFileOrDie(update_, damaged);
  EXPECT_EQ(Mk({"list", "--json", "--records", update_}).status, 3);
  EXPECT_NE(out_text_.find("\"records\": null},"), std::string::npos);
  EXPECT_NE(out_text_.find("\"ok\": false,"), std::string::npos);
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

}  // namespace
