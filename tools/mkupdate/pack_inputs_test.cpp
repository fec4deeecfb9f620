// The checks mkupdate pack makes before it writes: every refusal names the
// file and the reason and leaves nothing behind; the offenders are named
// all at once; no input is ever the output; entries get their names.
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
  std::string small = dir_.Sub("small");
  mkdir(small.c_str(), 0755);
  WriteFileOrDie(small + "/f", "f");
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
      {{a},
       unmarked,
       "lacks the marker that every build of the updater carries; give the "
       "updater built without payload: updater.exe from the package "
       "(/usr/share/mkupdate/i686/updater.exe) or from the zip",
       unmarked},
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
      {{"--verify-dir", small, "x=" + big},
       "vrx.hvl (the verification list from " + small + ")",
       "at or beyond 2 GiB"},
      {{dir_.Sub("missing")}, dir_.Sub("missing"), "no such file"},
      {{"d=" + src_}, src_, "a folder, not a file"},
      {{"--verify-dir", dir_.Sub("none"), a},
       dir_.Sub("none"),
       "no such folder"},
      {{"--from", a, "--to", src_}, a, "not a folder"},
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

// A stub built for x86-64 packs, with a note: 32-bit Windows cannot run
// it. The i686 build, the product, packs without one.
TEST_F(MkupdateTest, AnX86_64StubIsNoted) {
  std::string updater = ReadFileOrEmpty(stub_);
  for (uint16_t machine : {0x8664, 0x14C}) {
    // A PE header before the updater's bytes, which carry the marker.
    std::string pe = "MZ" + std::string(0x3A, '\0') +
                     std::string("\x40\0\0\0", 4) + "PE" +
                     std::string(2, '\0') +
                     std::string(reinterpret_cast<char*>(&machine), 2);
    std::string stub = dir_.Sub("pe_stub");
    WriteFileOrDie(stub, pe + updater);
    ProcessResult r = Mk({"pack", "--stub", stub, "--out", update_, "--dry-run",
                          src_ + "/a.arc"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find(stub + ": an x86-64 build of the updater: the "
                                "update will not run on 32-bit Windows") !=
                  std::string::npos,
              machine == 0x8664)
        << r.err;
  }
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
  // The native updater creates the file under the name Windows would give
  // it, in this disk's UTF-8, never under the stored bytes.
  UpdaterWorld world;
  ASSERT_EQ(RunProcess({update_}, world.Options("y\n")).status, 0);
  EXPECT_EQ(ReadFileOrEmpty(world.folder() + "/" + kJapaneseUtf8), "japanese");
  EXPECT_EQ(FolderNames(world.folder()),
            (std::vector<std::string>{"uninst.lst", "vrx.hvl", kJapaneseUtf8}));
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

// Files that one update cannot hold: the refusal tells how many updates
// they need and the commands that make them, which note no folder every
// old release has; those updates, all run, bring the old release to the
// new, and check, given them in order as told, says so.
TEST_F(ReleaseTest, TooManyFilesForOneUpdateAreSplitAsTold) {
  for (int i = 0; i < 26; i++) {
    WriteFileOrDie(new_ + "/n" + std::to_string(i) + ".dat", "new");
  }
  ProcessResult r = PackReleases();
  ExpectRefusal(r, new_, "30 files are new or changed");
  std::vector<std::string> commands;
  for (size_t at = r.err.find("\n  mkupdate pack "); at != std::string::npos;
       at = r.err.find("\n  mkupdate pack ", at + 1)) {
    size_t end = r.err.find('\n', at + 1);
    commands.push_back(r.err.substr(at + 11, end - at - 11));
  }
  ASSERT_EQ(commands.size(), 2u) << r.err;
  EXPECT_NE(r.err.find("They need 2 updates"), std::string::npos) << r.err;
  std::vector<std::string> updates;
  for (size_t i = 0; i < commands.size(); i++) {
    ProcessResult part =
        RunProcess({"sh", "-c", "exec \"$0\"" + commands[i], MKUPDATE_BINARY},
                   ProcessOptions());
    ASSERT_EQ(part.status, 0) << commands[i] << part.err;
    EXPECT_EQ(part.err, "") << commands[i];
    updates.push_back(out_dir_ + "/setup-" + std::to_string(i + 1));
  }
  EXPECT_EQ(InstallAndVerify(old_, updates), 0) << out_text_;
  EXPECT_NE(out_text_.find(": all 33 listed files match"), std::string::npos)
      << out_text_;
  size_t at = r.err.find("\n  mkupdate check ");
  ASSERT_NE(at, std::string::npos) << r.err;
  std::string check = r.err.substr(at + 11, r.err.find('\n', at + 1) - at - 11);
  ProcessResult checked = RunProcess(
      {"sh", "-c", "exec \"$0\"" + check, MKUPDATE_BINARY}, ProcessOptions());
  EXPECT_EQ(checked.status, 0) << check << checked.err;
  // One part alone leaves the old release short.
  EXPECT_EQ(Mk({"check", updates[0], "--from", old_, "--to", new_}).status, 1);
  // With the old releases given, pack notes only a folder one lacks.
  ProcessResult noted =
      Mk({"pack", "--stub", stub_, "--out", update_, "--verify-dir", new_,
          "--from", old_, "--dry-run", new_ + "/movie/staff.mpg"});
  EXPECT_EQ(noted.err, "");
  ASSERT_EQ(mkdir((new_ + "/extra").c_str(), 0755), 0);
  WriteFileOrDie(new_ + "/extra/x.dat", "x");
  noted = Mk({"pack", "--stub", stub_, "--out", update_, "--verify-dir", new_,
              "--from", old_, "--dry-run", new_ + "/movie/staff.mpg",
              new_ + "/extra/x.dat", "extra/n0.dat=" + new_ + "/n0.dat"});
  EXPECT_EQ(noted.err, "mkupdate: " + new_ +
                           "/extra/x.dat: the updater creates no folders: "
                           "extra must exist in the installed game (" +
                           old_ + " lacks it)\n");
}

TEST_F(ReleaseTest, TooManyOrTooLongAreAllNamedAtOnce) {
  for (int i = 0; i < 22; i++) {
    WriteFileOrDie(new_ + "/n" + std::to_string(i), "new");
  }
  // With the four new and changed files and the three below, 29.
  WriteFileOrDie(new_ + "/sixteen-bytes.xy", "long");
  WriteFileOrDie(new_ + "/seventeen-bytes.x", "longer");
  std::string deep = new_ + "/movie/" + std::string(50, 'd');
  WriteFileOrDie(deep, "its record name is 56 bytes");
  ProcessResult r = PackReleases();
  ExpectRefusal(r, new_, "29 files are new or changed");
  for (const char* name : {"n0 (new)", "n21 (new)", "game.exe (changed)",
                           "movie\\staff.mpg (new)"}) {
    EXPECT_NE(r.err.find(std::string("\n  ") + name + "\n"), std::string::npos)
        << name << "\n"
        << r.err;
  }
  EXPECT_NE(r.err.find(new_ + "/sixteen-bytes.xy: entry name"),
            std::string::npos);
  EXPECT_NE(r.err.find(new_ + "/seventeen-bytes.x: entry name"),
            std::string::npos);
  // Its name is too long for an entry and for a record: named once.
  EXPECT_NE(r.err.find(deep + ": entry name"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(deep + ": record name"), std::string::npos) << r.err;
}

// Every name that cannot be is named in one run, once each (an entry's
// name is its record's too), its control bytes escaped.
TEST_F(ReleaseTest, BadNamesAreAllRefusedOnceInOneRun) {
  struct {
    const char* file;   // in the new release
    const char* shown;  // in the refusal
    const char* why;
  } cases[] = {
      {"Zo\xC3\xAB.txt", "Zo\xC3\xAB.txt", "cannot hold the name"},
      {"CON.txt", "CON.txt", "reads as a device"},
      {"a\x01z.txt", "a\\x01z.txt", "a control character"},
      {"a\xE3\x82\xBD", "a\xE3\x82\xBD", "ends in the byte 0x5C"},
      {"b.txt.updating", "b.txt.updating", "'.updating'"},
      {"seventeen-bytes.x", "seventeen-bytes.x", "17 bytes long"},
      {"movie/NUL", "movie/NUL", "reads as a device"},
  };
  for (const auto& c : cases) WriteFileOrDie(new_ + "/" + c.file, "bad");
  ProcessResult r = PackReleases({"--dry-run"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.find('\x01'), std::string::npos) << "a raw control byte";
  for (const auto& c : cases) {
    std::string line = "mkupdate: " + new_ + "/" + c.shown + ": ";
    size_t at = r.err.find(line);
    ASSERT_NE(at, std::string::npos) << c.file << "\n" << r.err;
    EXPECT_NE(r.err.substr(at, r.err.find('\n', at) - at).find(c.why),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(line, at + 1), std::string::npos)
        << c.file << " twice:\n"
        << r.err;
  }
}

TEST_F(ReleaseTest, NothingChangedIsRefused) {
  ASSERT_EQ(
      system(("rm -r '" + new_ + "' && cp -r '" + old_ + "' '" + new_ + "'")
                 .c_str()),
      0);
  ExpectRefusal(PackReleases(), new_, "nothing to pack");
}

}  // namespace
