// The name rules and the verification list files of mkupdate.
#include "tools/mkupdate/names.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/test_util.h"
#include "tools/mkupdate/list_file.h"

namespace {

TEST(NamesTest, LengthLimitsOfEntriesAndRecords) {
  EXPECT_EQ(EntryNameProblem(std::string(15, 'e')), "");
  EXPECT_NE(EntryNameProblem(std::string(16, 'e')), "");
  EXPECT_EQ(RecordNameProblem(std::string(55, 'r')), "");
  EXPECT_NE(RecordNameProblem(std::string(56, 'r')), "");
}

TEST(NamesTest, NamesStayInsideTheFolder) {
  for (const char* good :
       {"a.arc", "sub\\a.arc", "..a", "a..", ".\\x", "dir.d\\x..y"}) {
    EXPECT_EQ(EntryNameProblem(good), "") << good;
  }
  for (const char* bad :
       {"", "\\a", "c:a", "Z:\\a", "a:b", "..", "..\\a", "a\\..", "a\\..\\b",
        "a\\\\b", "a\\", "a\tb", "a?b", "a*", "<a>", "a|b", "\"a\""}) {
    EXPECT_NE(EntryNameProblem(bad), "") << bad;
  }
  EXPECT_EQ(WithBackslashes("a/b/c"), "a\\b\\c");
  EXPECT_NE(EntryNameProblem(WithBackslashes("/etc")), "");
}

TEST(NamesTest, SameNameIsCaseBlindForAsciiOnly) {
  EXPECT_TRUE(SameUpdaterName("Data.ARC", "data.arc"));
  EXPECT_FALSE(SameUpdaterName("data.arc", "data.arc2"));
  EXPECT_FALSE(SameUpdaterName("\xC3\x84", "\xC3\xA4"));  // Ä and ä
}

TEST(ListFileTest, RoundTripAndTheSharedLayout) {
  std::vector<VerificationRecord> records = {
      MakeRecord("a.arc", ChecksumOf("alpha")),
      MakeRecord(std::string(55, 'n'), ChecksumOf("abc"))};
  std::string bytes = SerializeVerificationList(records);
  EXPECT_EQ(bytes,
            BuildVerificationList({{"a.arc", ChecksumOf("alpha")},
                                   {std::string(55, 'n'), ChecksumOf("abc")}}));
  std::vector<VerificationRecord> back;
  ASSERT_EQ(ParseVerificationList(bytes, &back), "");
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(std::string(back[1].name), std::string(55, 'n'));
  EXPECT_TRUE(SameChecksum(back[0].checksum, ChecksumOf("alpha")));
  EXPECT_EQ(ChecksumHex(ChecksumOf("abc")), "06b4500012cc2660");
}

TEST(ListFileTest, DamagedListsAreRefused) {
  std::vector<VerificationRecord> back;
  std::string one = BuildVerificationList({{"a", ChecksumOf("")}});
  EXPECT_NE(ParseVerificationList(one.substr(0, 15), &back), "");
  EXPECT_NE(ParseVerificationList(one + "x", &back), "");
  EXPECT_NE(ParseVerificationList(one.substr(0, one.size() - 1), &back), "");
  EXPECT_NE(ParseVerificationList(BuildVerificationList({}, "KPL____ "), &back),
            "");
  std::string unterminated = one;
  unterminated.replace(16, 56, std::string(56, 'x'));
  EXPECT_NE(ParseVerificationList(unterminated, &back), "");
  std::string twice = BuildVerificationList({{"Same", ChecksumOf("")},
                                             {"other", ChecksumOf("")},
                                             {"sAME", ChecksumOf("1")}});
  EXPECT_NE(ParseVerificationList(twice, &back).find("records 0 and 2"),
            std::string::npos);
  // A count whose table would overflow 32 bits is not read past the bytes.
  std::string huge = BuildVerificationList({});
  huge[12] = huge[13] = huge[14] = huge[15] = '\xFF';
  EXPECT_NE(ParseVerificationList(huge, &back), "");
}

}  // namespace
