// mkupdate run as a process: updates it packs are installed by the real
// updater; every refusal leaves nothing behind; list and verify see damage.
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "testing/test_util.h"
#include "testing/updater_world.h"

namespace {

std::string Nul() { return std::string(1, '\0'); }

// Bytes that differ from block to block, so that misplaced data shows.
std::string Pattern(size_t size, uint32_t state) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; i++) {
    state = state * 1103515245u + 12345u;
    out[i] = static_cast<char>(state >> 16);
  }
  return out;
}

uint32_t U32At(const std::string& bytes, size_t at) {
  uint32_t v;
  memcpy(&v, bytes.data() + at, 4);
  return v;
}

std::string Hex(const EntryChecksum& sum) {
  char out[17];
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&sum);
  for (int i = 0; i < 8; i++) snprintf(out + 2 * i, 3, "%02x", b[i]);
  return out;
}

std::vector<std::string> FolderNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (struct dirent* e = d ? readdir(d) : nullptr) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      names.push_back(e->d_name);
    }
  }
  if (d) closedir(d);
  return names;
}

class MkupdateTest : public ::testing::Test {
 protected:
  MkupdateTest() {
    mkdir(src_.c_str(), 0755);
    mkdir(out_dir_.c_str(), 0755);
    WriteFileOrDie(stub_, ReadFileOrEmpty(UPDATER_BINARY));
    WriteFileOrDie(src_ + "/a.arc", "alpha");
    WriteFileOrDie(src_ + "/Data.ARC", Pattern(3 << 20, 7));
  }

  // Runs mkupdate; its stdout lands in out_text_.
  ProcessResult Mk(const std::vector<std::string>& args,
                   uint64_t file_size_limit = 0) {
    std::vector<std::string> argv = {MKUPDATE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.stdout_path = dir_.Sub("stdout");
    options.file_size_limit = file_size_limit;
    ProcessResult r = RunProcess(argv, options);
    out_text_ = ReadFileOrEmpty(options.stdout_path);
    return r;
  }

  ProcessResult Pack(const std::vector<std::string>& entries,
                     const std::string& out, bool with_list = true) {
    std::vector<std::string> args = {"pack", "--stub", stub_, "--out", out};
    if (with_list) args.insert(args.end(), {"--verify-dir", src_});
    args.insert(args.end(), entries.begin(), entries.end());
    return Mk(args);
  }

  ScratchDir dir_;
  std::string src_ = dir_.Sub("src");
  std::string out_dir_ = dir_.Sub("out");
  std::string stub_ = dir_.Sub("stub");
  std::string update_ = out_dir_ + "/setup";
  std::string out_text_;
};

TEST_F(MkupdateTest, RoundTripThroughTheUpdater) {
  UpdaterWorld world;
  const std::string& game = world.folder_;
  mkdir((game + "/sub").c_str(), 0755);
  mkdir((src_ + "/sub").c_str(), 0755);
  WriteFileOrDie(src_ + "/game.exe", "MZ game");
  WriteFileOrDie(game + "/game.exe", "MZ game");
  WriteFileOrDie(src_ + "/sub/c.txt", "see");
  WriteFileOrDie(game + "/uninst.lst", "game.exe\na.arc\n" + Nul());

  ProcessResult packed = Pack(
      {src_ + "/a.arc", src_ + "/Data.ARC", "sub/c.txt=" + src_ + "/sub/c.txt"},
      update_);
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_NE(out_text_.find("4 entries"), std::string::npos) << out_text_;
  EXPECT_NE(out_text_.find("3 of 3 entries verified"), std::string::npos);
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

TEST_F(MkupdateTest, LayoutAndListOfAFolder) {
  mkdir((src_ + "/sub").c_str(), 0755);
  WriteFileOrDie(src_ + "/sub/x.txt", "x");
  mkdir((src_ + "/sub2").c_str(), 0755);
  WriteFileOrDie(src_ + "/sub2/y.txt", "yy");
  WriteFileOrDie(src_ + "/B.txt", "b");
  WriteFileOrDie(src_ + "/VRX.HVL", "an old list: never a record");
  ASSERT_EQ(Pack({src_ + "/a.arc", "d=" + src_ + "/Data.ARC"}, update_).status,
            0);
  std::string stub = ReadFileOrEmpty(stub_);
  std::string file = ReadFileOrEmpty(update_);
  ASSERT_GT(file.size(), kPayloadOffset + 16u + 3 * 32);
  EXPECT_EQ(file.substr(0, stub.size()), stub);
  EXPECT_EQ(file.substr(stub.size(), kPayloadOffset - stub.size()),
            std::string(kPayloadOffset - stub.size(), '\0'));
  std::string payload = file.substr(kPayloadOffset);
  EXPECT_EQ(payload.substr(0, 12), "PackFile    ");
  ASSERT_EQ(U32At(payload, 12), 3u);
  const char* names[] = {"a.arc", "d", "vrx.hvl"};
  uint32_t offset = 0;
  size_t data_base = 16 + 3 * 32;
  for (int i = 0; i < 3; i++) {
    std::string record = payload.substr(16 + 32 * i, 32);
    EXPECT_EQ(record.substr(0, 16),
              names[i] + std::string(16 - strlen(names[i]), '\0'));
    EXPECT_EQ(U32At(record, 16), offset) << names[i];
    EXPECT_EQ(record.substr(24), std::string(8, '\0'));
    offset += U32At(record, 20);
  }
  EXPECT_EQ(data_base + offset, payload.size())
      << "the last entry ends the file";
  EXPECT_EQ(payload.substr(data_base, 5), "alpha");
  std::string list = payload.substr(payload.size() - (16 + 5 * 64));
  // Bytewise order of the names with backslashes: '2' sorts before '\'.
  std::vector<TestRecord> expected;
  for (const char* name :
       {"B.txt", "Data.ARC", "a.arc", "sub2\\y.txt", "sub\\x.txt"}) {
    std::string path = name;
    for (char& c : path) c = c == '\\' ? '/' : c;
    expected.push_back({name, ChecksumOf(ReadFileOrEmpty(src_ + "/" + path))});
  }
  EXPECT_EQ(list, BuildVerificationList(expected));
}

TEST_F(MkupdateTest, SameInputsGiveTheSameBytes) {
  std::vector<std::string> entries = {src_ + "/Data.ARC", src_ + "/a.arc"};
  ASSERT_EQ(Pack(entries, update_).status, 0);
  // Another output name and a fresh copy of the folder, with new times.
  ASSERT_EQ(system(("cp -r '" + src_ + "' '" + src_ + ".copy' && rm -r '" +
                    src_ + "' && mv '" + src_ + ".copy' '" + src_ + "'")
                       .c_str()),
            0);
  ASSERT_EQ(Pack(entries, update_ + "2").status, 0);
  std::string first = ReadFileOrEmpty(update_);
  EXPECT_GT(first.size(), 4u << 20);
  EXPECT_EQ(first, ReadFileOrEmpty(update_ + "2"));
  // A different order is a different update.
  ASSERT_EQ(Pack({entries[1], entries[0]}, update_ + "3").status, 0);
  EXPECT_NE(first, ReadFileOrEmpty(update_ + "3"));
}

TEST_F(MkupdateTest, EntryLimits) {
  std::vector<std::string> entries;
  for (int i = 0; i < 24; i++) {
    entries.push_back("e" + std::to_string(i) + "=" + src_ + "/a.arc");
  }
  entries[0] = "fifteen-bytes.x=" + src_ + "/a.arc";
  ASSERT_EQ(Pack(entries, update_, false).status, 0);
  EXPECT_EQ(U32At(ReadFileOrEmpty(update_), kPayloadOffset + 12), 24u);
  // An update without entries besides its list is valid too.
  ASSERT_EQ(Pack({}, update_ + "2").status, 0);
  EXPECT_EQ(U32At(ReadFileOrEmpty(update_ + "2"), kPayloadOffset + 12), 1u);
}

struct Refusal {
  std::vector<std::string> args;  // after "pack --stub STUB --out OUT"
  std::string file;               // named in the message
  std::string reason;             // part of the message
  std::string stub;               // the fixture's stub when empty
};

TEST_F(MkupdateTest, EveryRefusalNamesFileAndReasonAndLeavesNoOutput) {
  std::string a = src_ + "/a.arc";
  std::string big = dir_.Sub("big");
  std::string huge = dir_.Sub("huge");
  std::string long_dir = src_ + "/" + std::string(40, 'd');
  mkdir(long_dir.c_str(), 0755);
  std::string long_file = long_dir + "/" + std::string(15, 'f');  // 56 bytes
  WriteFileOrDie(long_file, "x");
  std::string case_dir = dir_.Sub("cases");
  mkdir(case_dir.c_str(), 0755);
  WriteFileOrDie(case_dir + "/Same.txt", "1");
  WriteFileOrDie(case_dir + "/same.TXT", "2");
  std::string mb_stub = dir_.Sub("mb_stub");
  WriteFileOrDie(mb_stub, std::string(kPayloadOffset, 'M'));
  std::string packed = dir_.Sub("packed");
  WriteFileOrDie(packed, UpdaterFile(BuildPayload({{"x", "y"}}), "MZ"));
  std::string bad_magic = dir_.Sub("bad_magic.hvl");
  WriteFileOrDie(bad_magic, BuildVerificationList({}, "KPL____x"));
  std::string short_list = dir_.Sub("short.hvl");
  WriteFileOrDie(short_list,
                 BuildVerificationList({{"a.arc", ChecksumOf("alpha")}})
                     .substr(0, 16 + 63));
  std::string wrong_list = dir_.Sub("wrong.hvl");
  WriteFileOrDie(wrong_list,
                 BuildVerificationList({{"A.ARC", ChecksumOf("alphA")}}));
  std::string self_list = dir_.Sub("self.hvl");
  WriteFileOrDie(self_list,
                 BuildVerificationList({{"vrx.hvl", ChecksumOf("")}}));
  // Sparse: the data is never read, the layout alone is refused.
  WriteFileOrDie(big, "");
  WriteFileOrDie(huge, "");
  ASSERT_EQ(truncate(big.c_str(), (1u << 31) - kPayloadOffset), 0);
  ASSERT_EQ(truncate(huge.c_str(), 1ull << 32), 0);
  std::vector<std::string> many;
  for (int i = 0; i < 25; i++)
    many.push_back("e" + std::to_string(i) + "=" + a);
  std::vector<std::string> full(many.begin(), many.begin() + 24);
  full.insert(full.begin(), {"--verify-dir", src_});

  std::vector<Refusal> cases = {
      {{a}, dir_.Sub("no_stub"), "no such file", dir_.Sub("no_stub")},
      {{a}, dir_.Sub("empty"), "the stub is empty", dir_.Sub("empty")},
      {{a}, mb_stub, "smaller than 1 MiB", mb_stub},
      {{a}, packed, "already carries a payload", packed},
      {many, "e24=", "at most 24 entries"},
      {full, "e23=", "at most 24 entries"},
      {{"=" + a}, "=" + a, "empty"},
      {{"a.arc="}, "a.arc=", "no file after"},
      {{"sixteen-bytes.xy=" + a}, "sixteen-bytes.xy=", "16 bytes long"},
      {{"a.arc=" + a, "A.ARC=" + a}, "A.ARC=", "already used"},
      {{"/abs=" + a}, "/abs=", "absolute"},
      {{"\\abs=" + a}, "\\abs=", "absolute"},
      {{"C:x=" + a}, "C:x=", "drive letter"},
      {{"ab:c=" + a}, "ab:c=", "colon"},
      {{"../x=" + a}, "../x=", "'..' part"},
      {{"s\\..\\x=" + a}, "s\\..\\x=", "'..' part"},
      {{"s//x=" + a}, "s//x=", "empty folder part"},
      {{"vrx.hvl=" + a}, "vrx.hvl=", "verification list"},
      {{"--verify-dir", src_, a}, long_file, "56 bytes long; at most 55"},
      {{"--verify-dir", case_dir, a}, case_dir + "/same.TXT", "same name"},
      {{"x=" + big, "y=" + a}, "y=", "at or beyond 2 GiB"},
      {{"x=" + huge}, "x=", "smaller than 4 GiB"},
      {{dir_.Sub("missing")}, dir_.Sub("missing"), "no such file"},
      {{"d=" + src_}, src_, "not a regular file"},
      {{"--verify-dir", dir_.Sub("none"), a}, dir_.Sub("none"), "not a folder"},
      {{"--verify-list", bad_magic, a}, bad_magic, "magic"},
      {{"--verify-list", short_list, a}, short_list, "declares 1 records"},
      {{"--verify-list", wrong_list, a},
       a,
       "differs from its record in " + wrong_list},
      {{"--verify-list", self_list, a}, self_list, "differs from its record"},
  };
  WriteFileOrDie(dir_.Sub("empty"), "");
  for (const Refusal& c : cases) {
    std::vector<std::string> args = {
        "pack", "--stub", c.stub.empty() ? stub_ : c.stub, "--out", update_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = Mk(args);
    std::string label = c.file + " " + c.reason;
    EXPECT_EQ(r.status, 1) << label << "\n" << r.err;
    EXPECT_NE(
        r.err.find("mkupdate: " + c.file + (c.file.back() == '=' ? "" : ": ")),
        std::string::npos)
        << label << "\n"
        << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << label << "\n"
                                                       << r.err;
    EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>()) << label;
  }
}

TEST_F(MkupdateTest, FailedWritesLeaveTheOldOutputAlone) {
  WriteFileOrDie(update_, "the previous update");
  // The file size limit makes the copy of the 3 MiB entry fail.
  ProcessResult r = Mk(
      {"pack", "--stub", stub_, "--out", update_, src_ + "/Data.ARC"}, 2 << 20);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(update_ + ": cannot write it"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFileOrEmpty(update_), "the previous update");
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>{"setup"});
  r = Mk({"pack", "--stub", stub_, "--out", dir_.Sub("no/setup"),
          src_ + "/a.arc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create a file in its folder"), std::string::npos)
      << r.err;
}

TEST_F(MkupdateTest, ListShowsEachEntryAndItsState) {
  WriteFileOrDie(src_ + "/other.txt", "not packed");
  ASSERT_EQ(Pack({src_ + "/a.arc", src_ + "/Data.ARC", "new=" + stub_}, update_)
                .status,
            0);
  std::string good = ReadFileOrEmpty(update_);
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
  std::string damaged = good;
  size_t data = kPayloadOffset + 16 + 4 * 32;
  damaged[data + 5 + 1000] ^= 1;
  WriteFileOrDie(update_, damaged);
  EXPECT_EQ(Mk({"list", update_}).status, 1);
  EXPECT_NE(out_text_.find("Data.ARC"), std::string::npos);
  EXPECT_NE(out_text_.find("MISMATCH\nnew"), std::string::npos) << out_text_;

  // Bytes appended after the data (a signature) change nothing.
  WriteFileOrDie(update_, good + std::string(4096, 's'));
  EXPECT_EQ(Mk({"list", update_}).status, 0);
  EXPECT_NE(out_text_.find("4096 bytes follow"), std::string::npos);

  // Cut inside the list: its entry cannot be read, and it no longer counts.
  WriteFileOrDie(update_, good.substr(0, good.size() - 10));
  EXPECT_EQ(Mk({"list", update_}).status, 1);
  EXPECT_NE(out_text_.find("UNREADABLE"), std::string::npos) << out_text_;

  // A list with the wrong magic: the updater would check nothing.
  damaged = good;
  damaged[good.size() - (16 + 3 * 64)] = 'X';
  WriteFileOrDie(update_, damaged);
  ProcessResult r = Mk({"list", update_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("vrx.hvl is damaged"), std::string::npos) << r.err;
  EXPECT_NE(out_text_.find("not listed\nData.ARC"), std::string::npos);

  // No payload, or one that claims 25 entries.
  r = Mk({"list", stub_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no readable payload"), std::string::npos) << r.err;
  WriteFileOrDie(update_, UpdaterFile(BuildPayload({{"a", "b"}}, 25)));
  r = Mk({"list", update_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("more than 24"), std::string::npos) << r.err;
}

TEST_F(MkupdateTest, VerifyAnInstalledFolder) {
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
  EXPECT_NE(out_text_.find("all 3 listed files match"), std::string::npos);

  WriteFileOrDie(game + "/a.arc", "alphA");
  unlink((game + "/c.dat").c_str());
  ProcessResult r = Mk({"verify", list, game});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(out_text_, "differs    a.arc\nmissing    c.dat\n");
  EXPECT_NE(r.err.find("3 files listed: 1 missing, 1 differing"),
            std::string::npos)
      << r.err;

  WriteFileOrDie(list, BuildVerificationList({{"..\\a.arc", ChecksumOf("")}}));
  r = Mk({"verify", list, game});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'..' part"), std::string::npos) << r.err;
  r = Mk({"verify", dir_.Sub("none.hvl"), game});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("none.hvl: cannot open it"), std::string::npos);
}

TEST_F(MkupdateTest, UsageErrorsExitTwo) {
  std::string a = src_ + "/a.arc";
  std::vector<std::vector<std::string>> usage_errors = {
      {},
      {"unpack"},
      {"pack", "--out", update_, a},
      {"pack", "--stub", stub_, a},
      {"pack", "--stub", stub_, "--out", update_},
      {"pack", "--stub", stub_, "--out", update_, "--verify-dir", src_,
       "--verify-list", a, a},
      {"pack", "--stub", stub_, "--stub", stub_, "--out", update_, a},
      {"pack", "--stub", stub_, "--out", update_, "--level", a},
      {"pack", "--stub", stub_, "--out"},
      {"list"},
      {"list", update_, update_},
      {"list", "-v", update_},
      {"verify", a},
  };
  for (const auto& args : usage_errors) {
    ProcessResult r = Mk(args);
    EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err.find("usage: mkupdate"), std::string::npos);
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
    EXPECT_EQ(out_text_.find(std::string("usage: mkupdate ") + command), 0u)
        << out_text_;
  }
  EXPECT_EQ(Mk({"--help"}).status, 0);
  EXPECT_NE(out_text_.find("verify"), std::string::npos);
}

}  // namespace
