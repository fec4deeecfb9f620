// mkupdate pack run as a process: updates it packs are installed by the real
// updater; every refusal names the file and leaves nothing behind; no input
// is ever written over, also when the tool is interrupted.
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

std::string Nul() { return std::string(1, '\0'); }

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

TEST_F(MkupdateTest, LayoutAndListOfAFolder) {
  mkdir((src_ + "/sub").c_str(), 0755);
  WriteFileOrDie(src_ + "/sub/x.txt", "x");
  mkdir((src_ + "/sub2").c_str(), 0755);
  WriteFileOrDie(src_ + "/sub2/y.txt", "yy");
  WriteFileOrDie(src_ + "/B.txt", "b");
  WriteFileOrDie(src_ + "/VRX.HVL", "an old list: never a record");
  WriteFileOrDie(src_ + "/sub/uninst.lst", "deeper down: an ordinary file");
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
  std::string list = payload.substr(payload.size() - (16 + 6 * 64));
  // Bytewise order of the names with backslashes: '2' sorts before '\'.
  std::vector<TestRecord> expected;
  for (const char* name : {"B.txt", "Data.ARC", "a.arc", "sub2\\y.txt",
                           "sub\\uninst.lst", "sub\\x.txt"}) {
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
  EXPECT_EQ(out_text_.find("wrote " + update_ + ": 24 entries, "), 0u);
  // An update without entries besides its list is valid too.
  ASSERT_EQ(Pack({}, update_ + "2").status, 0);
  EXPECT_EQ(U32At(ReadFileOrEmpty(update_ + "2"), kPayloadOffset + 12), 1u);
  EXPECT_NE(out_text_.find(": 1 entry, "), std::string::npos) << out_text_;
  EXPECT_NE(out_text_.find("(0 of 0 entries"), std::string::npos);
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
  // Files that are no updater: a program, zeros, a script, and the updater
  // itself with one byte of its marker changed.
  std::string program = dir_.Sub("true");
  WriteFileOrDie(program, ReadFileOrEmpty("/bin/true"));
  std::string zeros = dir_.Sub("zeros");
  WriteFileOrDie(zeros, std::string(100, '\0'));
  std::string script = dir_.Sub("script.sh");
  WriteFileOrDie(script, "#!/bin/sh\nexit 0\n");
  std::string unmarked = dir_.Sub("unmarked");
  std::string updater = ReadFileOrEmpty(stub_);
  size_t marker = updater.find("Lumenhollow stub");
  ASSERT_NE(marker, std::string::npos);
  updater[marker + 20] ^= 1;
  WriteFileOrDie(unmarked, updater);
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
  WriteFileOrDie(dir_.Sub("empty"), "");

  std::vector<Refusal> cases = {
      {{a}, dir_.Sub("no_stub"), "no such file", dir_.Sub("no_stub")},
      {{a}, dir_.Sub("empty"), "the stub is empty", dir_.Sub("empty")},
      {{a}, mb_stub, "smaller than 1 MiB", mb_stub},
      {{a}, packed, "already carries a payload", packed},
      {{a}, program, "not an updater stub", program},
      {{a}, zeros, "not an updater stub", zeros},
      {{a}, script, "not an updater stub", script},
      {{a}, unmarked, "lacks the marker", unmarked},
      {{a}, src_, "a folder, not a file", src_},
      {many, "e24=" + a, "this would be entry 25 of 25"},
      {full, "e23=" + a, "this would be entry 25 of 25"},
      {{"=" + a}, "=" + a, "the name is empty"},
      {{"a.arc="}, "a.arc=", "no file after"},
      {{"sixteen-bytes.xy=" + a}, "sixteen-bytes.xy=" + a, "16 bytes long"},
      {{"a.arc=" + a, "A.ARC=" + a}, "A.ARC=" + a, "already used"},
      {{"/abs=" + a}, "/abs=" + a, "absolute"},
      {{"\\abs=" + a}, "\\abs=" + a, "absolute"},
      {{"C:x=" + a}, "C:x=" + a, "drive letter"},
      {{"ab:c=" + a}, "ab:c=" + a, "colon"},
      {{"../x=" + a}, "../x=" + a, "dots and blanks only"},
      {{"s\\..\\x=" + a}, "s\\..\\x=" + a, "dots and blanks only"},
      {{"s//x=" + a}, "s//x=" + a, "empty folder part"},
      {{"NUL.txt=" + a}, "NUL.txt=" + a, "device"},
      {{"a|b=" + a}, "a|b=" + a, "does not allow"},
      {{"vrx.hvl=" + a}, "vrx.hvl=" + a, "verification list"},
      {{"Uninst.LST=" + a}, "Uninst.LST=" + a, "uninstall list"},
      {{"--verify-dir", src_, a}, long_file, "56 bytes long"},
      {{"--verify-dir", case_dir, a}, case_dir + "/same.TXT", "same name"},
      {{"x=" + big, "y=" + a}, "y=" + a, "at or beyond 2 GiB"},
      {{"x=" + huge}, "x=" + huge, "smaller than 4 GiB"},
      {{dir_.Sub("missing")}, dir_.Sub("missing"), "no such file"},
      {{"d=" + src_}, src_, "a folder, not a file"},
      {{"--verify-dir", dir_.Sub("none"), a}, dir_.Sub("none"), "not a folder"},
      {{"--verify-list", bad_magic, a}, bad_magic, "KPL_____"},
      {{"--verify-list", short_list, a}, short_list, "declares 1 record,"},
      {{"--verify-list", wrong_list, a},
       a,
       "differs from its record in " + wrong_list},
      {{"--verify-list", self_list, a}, self_list, "a record for vrx.hvl"},
  };
  for (const Refusal& c : cases) {
    std::vector<std::string> args = {
        "pack", "--stub", c.stub.empty() ? stub_ : c.stub, "--out", update_};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectRefusal(Mk(args), c.file, c.reason);
  }
}

TEST_F(MkupdateTest, EveryOffenderIsNamedAtOnce) {
  std::vector<std::string> args = {"pack",  "--stub",       stub_, "--out",
                                   update_, "--verify-dir", src_};
  for (int i = 0; i < 26; i++) {
    args.push_back("e" + std::to_string(i) + "=" + src_ + "/a.arc");
  }
  args.push_back("sixteen-bytes.xy=" + src_ + "/a.arc");
  std::string long_name = src_ + "/" + std::string(56, 'n');
  WriteFileOrDie(long_name, "x");
  WriteFileOrDie(src_ + "/" + std::string(57, 'm'), "y");
  ProcessResult r = Mk(args);
  ExpectRefusal(r, "sixteen-bytes.xy=" + src_ + "/a.arc", "16 bytes long");
  for (int i = 23; i < 26; i++) {
    EXPECT_NE(r.err.find("e" + std::to_string(i) + "="), std::string::npos)
        << i << "\n"
        << r.err;
  }
  EXPECT_NE(r.err.find(long_name + ": record name"), std::string::npos);
  EXPECT_NE(r.err.find("57 bytes long"), std::string::npos) << r.err;
}

TEST_F(MkupdateTest, TheOutputIsNeverAnInput) {
  std::string a = src_ + "/a.arc";
  std::string list = dir_.Sub("list.hvl");
  WriteFileOrDie(list, BuildVerificationList({{"a.arc", ChecksumOf("alpha")}}));
  std::string linked = out_dir_ + "/linked";
  ASSERT_EQ(link(a.c_str(), linked.c_str()), 0);
  std::string symlinked = out_dir_ + "/symlinked";
  ASSERT_EQ(symlink(stub_.c_str(), symlinked.c_str()), 0);
  auto snapshot = [&] {
    return SnapshotDir(src_) + SnapshotDir(out_dir_) + ReadFileOrEmpty(stub_) +
           ReadFileOrEmpty(list);
  };
  std::string before = snapshot();
  struct Case {
    std::vector<std::string> args;
    std::string what;
  };
  std::vector<Case> cases = {
      {{"--stub", stub_, "--out", stub_, a}, "the stub " + stub_},
      {{"--stub", stub_, "--out", a, a}, "the entry " + a},
      {{"--stub", stub_, "--out", dir_.Sub("out/../src/a.arc"), a},
       "the entry " + a},
      {{"--stub", stub_, "--out", linked, a}, "the entry " + a},
      {{"--stub", stub_, "--out", symlinked, a}, "the stub " + stub_},
      {{"--stub", stub_, "--out", list, "--verify-list", list, a},
       "the verification list " + list},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"pack"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ProcessResult r = Mk(args);
    EXPECT_EQ(r.status, 1) << c.what << "\n" << r.err;
    EXPECT_NE(r.err.find("the output is the same file as " + c.what),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(snapshot(), before) << "an input was touched";
}

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

TEST_F(MkupdateTest, EntryNamesFromPathsAndNames) {
  mkdir((src_ + "/movie").c_str(), 0755);
  WriteFileOrDie(src_ + "/movie/staff.mpg", "staff roll");
  WriteFileOrDie(src_ + "/movie/a=b.dat", "equals");
  std::string outside = dir_.Sub("op.mpg");
  WriteFileOrDie(outside, "opening");
  // Through a link to the folder the path is still under it.
  ASSERT_EQ(symlink(src_.c_str(), dir_.Sub("release").c_str()), 0);
  ProcessResult r =
      Pack({dir_.Sub("release") + "/movie/staff.mpg", outside, "--entry",
            "movie/x=y.dat", src_ + "/a.arc", "--", src_ + "/movie/a=b.dat"},
           update_);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string update = ReadFileOrEmpty(update_);
  EXPECT_EQ(EntryNameAt(update, 0), "movie\\staff.mpg");
  EXPECT_EQ(EntryNameAt(update, 1), "op.mpg");
  EXPECT_EQ(EntryNameAt(update, 2), "movie\\x=y.dat");
  EXPECT_EQ(EntryNameAt(update, 3), "movie\\a=b.dat");
  EXPECT_EQ(EntryNameAt(update, 4), "vrx.hvl");
  // Folders are not created: the publisher is told.
  EXPECT_NE(r.err.find("creates no folders: movie must exist"),
            std::string::npos)
      << r.err;
  // A bare argument that is a file and reads as NAME=PATH is refused.
  unlink(update_.c_str());
  ExpectRefusal(Pack({src_ + "/movie/a=b.dat"}, update_),
                src_ + "/movie/a=b.dat", "also reads as NAME=PATH");
}

TEST_F(MkupdateTest, NamesAreStoredInCodePage932) {
  std::string file = src_ + "/" + kJapaneseUtf8;
  WriteFileOrDie(file, "japanese");
  // Both in the C locale, where names count as UTF-8, and in a Japanese one.
  for (const char* locale : {"LC_ALL=C", "LC_ALL=ja_JP.UTF-8"}) {
    ProcessOptions options;
    options.env = {locale};
    ProcessResult r = Mk(
        {"pack", "--stub", stub_, "--out", update_, "--verify-dir", src_, file},
        options);
    ASSERT_EQ(r.status, 0) << locale << r.err;
    std::string update = ReadFileOrEmpty(update_);
    EXPECT_EQ(EntryNameAt(update, 0), kJapaneseCp932) << locale;
    std::string list = update.substr(update.size() - 4 * 64);
    EXPECT_NE(list.find(std::string(kJapaneseCp932) + '\0'), std::string::npos);
    ASSERT_EQ(Mk({"list", update_}, options).status, 0);
    EXPECT_NE(out_text_.find(std::string(kJapaneseUtf8) + " "),
              std::string::npos)
        << out_text_;
    EXPECT_EQ(out_text_.find(kJapaneseCp932), std::string::npos);
  }
  // The native updater hands the stored bytes to the file calls.
  UpdaterWorld world;
  ASSERT_EQ(RunProcess({update_}, world.Options("y\n")).status, 0);
  EXPECT_EQ(ReadFileOrEmpty(world.folder() + "/" + kJapaneseCp932), "japanese");
  unlink(update_.c_str());
  // The limit counts code page 932 bytes: 7 characters and ".x" are 16
  // there (23 in UTF-8), 6 and ".xy" are 15 (21 in UTF-8).
  std::string seven =
      "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3"
      "\xE3\x83\x9B\xE3\x83\xAD\xE3\x82\xA6";
  ExpectRefusal(Pack({seven + ".x=" + file}, update_ + "2", false),
                seven + ".x=" + file, "16 bytes long in code page 932");
  ASSERT_EQ(
      Pack({seven.substr(0, 18) + ".xy=" + file}, update_ + "2", false).status,
      0);
  unlink((update_ + "2").c_str());
  // No best fit: the yen sign would become a backslash, a folder.
  ExpectRefusal(Pack({"\xC2\xA5x=" + file}, update_ + "2", false),
                "\xC2\xA5x=" + file, "code page 932");
  ExpectRefusal(Pack({"\xE2\x88\x92x=" + file}, update_ + "2", false),
                "\xE2\x88\x92x=" + file, "cannot hold the name");
  // ソ ends in 0x5C: the updater's rule sees an empty last folder part.
  ExpectRefusal(Pack({"a\xE3\x82\xBD=" + file}, update_ + "2", false),
                "a\xE3\x82\xBD=" + file, "ends in the byte 0x5C");
}

TEST_F(MkupdateTest, FailedWritesLeaveTheOldOutputAlone) {
  WriteFileOrDie(update_, "the previous update");
  // The file size limit makes the copy of the 3 MiB entry fail.
  ProcessOptions limited;
  limited.file_size_limit = 2 << 20;
  ProcessResult r = Mk(
      {"pack", "--stub", stub_, "--out", update_, src_ + "/Data.ARC"}, limited);
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
  // An input that cannot be read.
  chmod((src_ + "/a.arc").c_str(), 0);
  r = MkWithoutOverride(
      {"pack", "--stub", stub_, "--out", update_, src_ + "/a.arc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(src_ + "/a.arc: cannot open it: Permission denied"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFileOrEmpty(update_), "the previous update");
}

// On a terminal one line counts the bytes of the whole pack, drawn again in
// place and wiped before the result; --quiet shows nothing there; where
// stderr is no terminal only the result is written.
TEST_F(MkupdateTest, ProgressIsOneLineAndOnlyOnATerminal) {
  std::string big = dir_.Sub("big.arc");
  WriteFileOrDie(big, "");
  ASSERT_EQ(truncate(big.c_str(), 40 << 20), 0);  // sparse
  std::vector<std::string> args = {"pack",  "--stub",       stub_, "--out",
                                   update_, "--verify-dir", src_,  big};
  // The entry and the listed files (3 MiB and 5 bytes) are read: 43 MiB.
  std::string command = std::string("'") + MKUPDATE_BINARY + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  for (bool quiet : {false, true}) {
    ProcessOptions options;
    options.stdout_path = dir_.Sub("terminal");
    ProcessResult r =
        RunProcess({"script", "-q", "-e", "-c",
                    command + (quiet ? " --quiet" : ""), "/dev/null"},
                   options);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string shown = ReadFileOrEmpty(options.stdout_path);
    if (quiet) {
      EXPECT_EQ(shown, "");
      continue;
    }
    size_t result = shown.find("wrote " + update_);
    ASSERT_NE(result, std::string::npos) << shown;
    std::string line = shown.substr(0, result);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "more than one line";
    EXPECT_EQ(line.find("\rwriting " + update_ + ": 0 of 43 MiB (0%)"), 0u)
        << line;
    EXPECT_NE(line.find(": 43 of 43 MiB (100%)"), std::string::npos) << line;
    EXPECT_LE(std::count(line.begin(), line.end(), '\r'), 103) << line;
    size_t wiped = line.rfind('\r', line.size() - 2);
    EXPECT_EQ(line.substr(wiped + 1, line.size() - wiped - 2),
              std::string(line.size() - wiped - 2, ' '))
        << "not wiped: " << line;
  }
  ProcessResult r = Mk(args);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(out_text_.find("wrote " + update_), 0u) << out_text_;
}

// Interrupts pack while it copies a large entry: the temporary file must
// go, and the tool must end by the signal, as interrupted programs do.
class MkupdateInterruptTest : public MkupdateTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(MkupdateInterruptTest, LeavesNoTemporaryFile) {
  int sig = GetParam();
  std::string big = dir_.Sub("big.arc");
  WriteFileOrDie(big, "");
  ASSERT_EQ(truncate(big.c_str(), 512 << 20), 0);  // sparse
  bool caught = false;
  for (int attempt = 0; attempt < 3 && !caught; attempt++) {
    ChildProcess child = SpawnProcess(
        {MKUPDATE_BINARY, "pack", "--stub", stub_, "--out", update_, big},
        ProcessOptions());
    // Wait until the temporary file holds more than the stub's megabyte,
    // then stop the tool there.
    std::string temp;
    for (int i = 0; i < 20000 && temp.empty(); i++) {
      for (const std::string& name : FolderNames(out_dir_)) {
        struct stat st;
        if (name != "setup" &&
            stat((out_dir_ + "/" + name).c_str(), &st) == 0 &&
            st.st_size > (2 << 20)) {
          temp = name;
        }
      }
      if (temp.empty()) usleep(500);
    }
    kill(child.pid, SIGSTOP);
    int status = 0;
    bool running = waitpid(child.pid, &status, WUNTRACED) == child.pid &&
                   WIFSTOPPED(status);
    caught = running && !temp.empty() && FileExists(out_dir_ + "/" + temp);
    close(child.in);
    close(child.err);
    if (!running) {  // it ended before it was stopped; reaped above
      unlink(update_.c_str());
      continue;
    }
    kill(child.pid, sig);
    kill(child.pid, SIGCONT);
    waitpid(child.pid, &status, 0);
    if (!caught) {
      unlink(update_.c_str());
      continue;
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
        << "status " << status;
    EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>())
        << "the temporary file " << temp << " stayed";
  }
  EXPECT_TRUE(caught) << "pack finished each time before it was stopped";
}

INSTANTIATE_TEST_SUITE_P(Signals, MkupdateInterruptTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST(StubMarkerTest, FoundOnlyWhole) {
  StubMarker marker = UnmaskedStubMarker();
  std::string bytes =
      std::string(1000, 'x') +
      std::string(reinterpret_cast<char*>(marker.bytes), kStubMarkerSize) + "y";
  const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
  EXPECT_TRUE(ContainsStubMarker(data, bytes.size()));
  EXPECT_FALSE(ContainsStubMarker(data, bytes.size() - 2));  // cut short
  EXPECT_FALSE(ContainsStubMarker(data + 1001, bytes.size() - 1001));
  bytes[1000 + kStubMarkerSize - 1] ^= 0x80;
  EXPECT_FALSE(ContainsStubMarker(data, bytes.size()));
  // The tool itself does not carry it: it could never pass for a stub.
  std::string tool = ReadFileOrEmpty(MKUPDATE_BINARY);
  ASSERT_GT(tool.size(), 0u);
  EXPECT_EQ(tool.find(std::string(reinterpret_cast<char*>(marker.bytes),
                                  kStubMarkerSize)),
            std::string::npos);
}

}  // namespace
