#include "payload/entry_name.h"

#include "gtest/gtest.h"

namespace {

TEST(EntryNameTest, NamesInsideTheFolderAreSound) {
  for (const char* name : {"a",
                           "data1.arc",
                           "Movie\\Op.dat",
                           "movie/op.dat",
                           "a\\b\\c\\d.e",
                           "..a",
                           "a..b",
                           ".hidden",
                           "a b",
                           "CONSOLE.txt",
                           "COM10",
                           "NULL",
                           "LPT",
                           "COMx",
                           "aux_",
                           "icon\\..x",
                           "a.updating.x",
                           "updating",
                           "\x83\x5C.dat",
                           "\x83\x7C.dat",  // the second byte of "po" is '|'
                           "sub\\uninst.lst",
                           "uninst.lst.x",
                           "a~b.arc",
                           "a~.arc",
                           "~",
                           "x.a~1",
                           "a~1a.arc",
                           "\x83\x7E"
                           "1.arc"}) {  // mi (83 7E) and a digit

    EXPECT_EQ(FindEntryNameFault(name), kNameSound) << name;
  }
}

TEST(EntryNameTest, NamesThatLeaveTheFolderAreRefused) {
  const struct {
    const char* name;
    EntryNameFault fault;
  } cases[] = {
      {"", kNameEmpty},
      {"\\Windows\\win.ini", kNameAbsolute},
      {"/etc/passwd", kNameAbsolute},
      {"\\\\server\\share\\x", kNameAbsolute},
      {"C:evil.dll", kNameDriveLetter},
      {"z:\\x", kNameDriveLetter},
      {"data.arc:stream", kNameColon},
      {"movie\\a:b", kNameColon},
      {"..", kNameDotPart},
      {"..\\evil.dll", kNameDotPart},
      {"movie\\..\\..\\evil", kNameDotPart},
      {"movie/../x", kNameDotPart},
      {"a\\.", kNameDotPart},
      {"...\\x", kNameDotPart},
      {". .\\x", kNameDotPart},
      {"a\\\\b", kNameEmptyPart},
      {"movie\\", kNameEmptyPart},
      {"a//b", kNameEmptyPart},
      // The second byte of a double-byte character ending a part reads as a
      // separator: the name is refused rather than read two ways.
      {"\x83\x5C", kNameEmptyPart},
      {"\x83\x5C\\x", kNameEmptyPart},
      // Bytes that are no code page 932 text: Windows would put a stand-in
      // in their place, and two names could become one file.
      {"b\x81<c", kNameNotText},
      {"a\x81\x01", kNameNotText},
      {"a\x81", kNameNotText},
      {"a\x82", kNameNotText},
      {"\x81\x7F.arc", kNameNotText},
      {"\x81\xFD", kNameNotText},
      {"x\x80", kNameNotText},
      {"x\xA0y", kNameNotText},
      {"\xFF", kNameNotText},
      {"\x87\x9A", kNameNotText},  // a second form of 0x81E6, "because"
      {"uninst.lst", kNameReserved},
      {"UNINST.LST", kNameReserved},
      {"x.UPDATING", kNameTemporary},
      {"CON", kNameDevice},
      {"nul.txt", kNameDevice},
      {"movie\\Aux .dat", kNameDevice},
      {"com1", kNameDevice},
      {"LPT9.log", kNameDevice},
      {"COM\xB9", kNameDevice},
      {"CONOUT$", kNameDevice},
      {"prn\\x", kNameDevice},
      {"a.arc.updating", kNameTemporary},
      {"movie\\Op.dat.UPDATING", kNameTemporary},
      {".updating", kNameTemporary},
      {"x.updating. ", kNamePartEnd},
      {"a..", kNamePartEnd},
      {"x.y.", kNamePartEnd},
      {"movie \\x", kNamePartEnd},
      {"a?", kNameCharacter},
      {"a*.arc", kNameCharacter},
      {"<a>", kNameCharacter},
      {"a|b", kNameCharacter},
      {"say\"hi\"", kNameCharacter},
      {"tab\there", kNameCharacter},
      {"\x1F", kNameCharacter},
      // Windows' short aliases of longer names: the file they name is not
      // the one the name says.
      {"DATA1~1.ARC", kNameShortAlias},
      {"uninst~1.upd", kNameShortAlias},
      {"MOVIE~12\\op.dat", kNameShortAlias},
      {"movie\\OP~1", kNameShortAlias},
      {"a~1.tar.gz", kNameShortAlias},
      {"\x83\x7E~3.arc", kNameShortAlias},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindEntryNameFault(c.name), c.fault) << c.name;
  }
}

// Two names are one file when Windows would take them for one: letters in
// either case, in code page 932's full-width, Greek and Cyrillic letters
// too, and either separator; other double-byte characters whose second
// byte is a letter stay themselves.
TEST(EntryNameTest, NamesOfOneFile) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"data1.arc", "DATA1.ARC", true},
      {"movie\\op.dat", "Movie/OP.dat", true},
      {"\x82\x60.arc", "\x82\x81.arc", true},  // full-width A and a
      {"\x83\x9F", "\x83\xBF", true},          // Greek alpha
      {"\x84\x40", "\x84\x70", true},          // Cyrillic A
      {"\x84\x60", "\x84\x91", true},          // the last Cyrillic pair
      {"\xFA\x40", "\x87\x54", true},          // Roman numeral one
      {"\x83\x41", "\x83\x61", false},         // a katakana's 'A' and 'a'
      {"a.arc", "a.arc2", false},
      {"a", "b", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SameEntryFile(c.a, c.b), c.same) << c.a << " " << c.b;
    EXPECT_EQ(SameEntryFile(c.b, c.a), c.same) << c.b << " " << c.a;
  }
}

}  // namespace
