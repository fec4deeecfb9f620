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
                           "a..",
                           "a..b",
                           ".hidden",
                           "x.y.",
                           "CONSOLE.txt",
                           "COM10",
                           "NULL",
                           "LPT",
                           "COMx",
                           "aux_",
                           "icon\\..x",
                           "a.updating.x",
                           "updating",
                           "\x83\x5C.dat"}) {
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
      {"x.updating. ", kNameTemporary},
      {".updating", kNameTemporary},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindEntryNameFault(c.name), c.fault) << c.name;
  }
}

}  // namespace
