// The name rules and code page 932 of mkupdate's names.
#include "tools/mkupdate/names.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/update_bytes.h"
#include "tools/mkupdate/json.h"
#include "tools/mkupdate/verification_list_file.h"

namespace {

bool EntryOk(const std::string& stored) {
  std::string why;
  return CheckEntryName(stored, &why);
}

std::string EntryWhy(const std::string& stored) {
  std::string why;
  CheckEntryName(stored, &why);
  return why;
}

TEST(NamesTest, LengthLimitsOfEntriesAndRecords) {
  std::string why;
  EXPECT_TRUE(CheckEntryName(std::string(15, 'e'), &why));
  EXPECT_FALSE(CheckEntryName(std::string(16, 'e'), &why));
  EXPECT_TRUE(CheckRecordName(std::string(55, 'r'), &why));
  EXPECT_FALSE(CheckRecordName(std::string(56, 'r'), &why));
  EXPECT_EQ(why,
            "the name is 56 bytes long in code page 932; at most 55 bytes fit");
}

TEST(NamesTest, NamesStayInsideTheFolder) {
  for (const char* good :
       {"a.arc", "sub\\a.arc", "..a", "dir.d\\x..y", "con1", "a=b"}) {
    EXPECT_TRUE(EntryOk(good)) << good << ": " << EntryWhy(good);
  }
  for (const char* bad :
       {"",          "\\a",      "/a",       "c:a",      "Z:\\a",
        "a:b",       "..",       "..\\a",    "a\\..",    ".\\x",
        "a\\ . \\b", "a\\\\b",   "a\\",      "a\tb",     "a\x81",
        "a?b",       "a*",       "<a>",      "a|b",      "\"a\"",
        "nul",       "Com1.txt", "aux .dat", "sub\\PRN", "a.arc.updating",
        "a..",       "a \\b"}) {
    EXPECT_FALSE(EntryOk(bad)) << bad;
    EXPECT_NE(EntryWhy(bad), "") << bad << " refused without a reason";
  }
  EXPECT_FALSE(EntryOk(std::string("a\0b", 3)));
  EXPECT_EQ(WithBackslashes("a/b/c"), "a\\b\\c");
}

TEST(NamesTest, CodePage932CharactersAreWalkedWhole) {
  // ポ is 83 7C: its second byte is '|', yet the name is sound.
  EXPECT_TRUE(EntryOk("\x83\x7C.dat")) << EntryWhy("\x83\x7C.dat");
  // ソ is 83 5C: in the middle the updater's bytewise rule sees a folder
  // "\x83", which is harmless; at the end an empty part, which it refuses.
  EXPECT_TRUE(EntryOk("\x83\x5C\x83t.dat"));
  std::string why = EntryWhy("a\x83\x5C");
  EXPECT_NE(why.find("empty folder part"), std::string::npos) << why;
  EXPECT_NE(why.find("(83 5C) ends in the byte 0x5C"), std::string::npos)
      << why;
  EXPECT_EQ(NameParts("\x83\x5C\x83t.dat"),
            std::vector<std::string>{"\x83\x5C\x83t.dat"});
  EXPECT_EQ(NameParts("movie\\\x83\x5C.a"),
            (std::vector<std::string>{"movie", "\x83\x5C.a"}));
  // Bytes that are not code page 932.
  for (const char* bad : {"a\x81", "\x81\x20", "a\x80", "a\xA0", "\xFD"}) {
    EXPECT_NE(EntryWhy(bad).find("not code page 932"), std::string::npos)
        << EntryWhy(bad);
  }
}

TEST(NamesTest, ConversionHasNoBestFit) {
  std::string stored, why;
  ASSERT_TRUE(
      ToStoredName("\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3"
                   ".dat",
                   &stored, &why));
  EXPECT_EQ(stored, "\x83\x8B\x81\x5B\x83\x81\x83\x93.dat");
  EXPECT_EQ(ShownName(stored),
            "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3.dat");
  EXPECT_EQ(Utf8Name(stored), ShownName(stored));
  // Characters code page 932 maps one way only, or not at all.
  for (const char* text : {"\xC2\xA5", "\xE2\x80\xBE", "\xE2\x88\x92",
                           "\xC3\xA4", "\xF0\x9F\x98\x80", "\xFF"}) {
    EXPECT_FALSE(ToStoredName(text, &stored, &why)) << text;
  }
  // Shown as far as they convert.
  EXPECT_EQ(ShownName("a\xFDz\x83\x8B"), "a\\xFDz\xE3\x83\xAB");
  EXPECT_EQ(Utf8Name("a\xFD"), "a\xEF\xBF\xBD");
}

TEST(NamesTest, SameNameIsCaseBlindForAsciiOnly) {
  EXPECT_TRUE(SameUpdaterName("Data.ARC", "data.arc"));
  EXPECT_FALSE(SameUpdaterName("data.arc", "data.arc2"));
  EXPECT_FALSE(SameUpdaterName("\x82\x60", "\x82\x81"));  // Ａ and ａ
  EXPECT_EQ(UpdaterNameKey("A\x82\x60Z"), "a\x82\x60z");
}

}  // namespace
