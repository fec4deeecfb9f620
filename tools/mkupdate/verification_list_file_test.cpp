// Verification list files as mkupdate makes and reads them.
#include "tools/mkupdate/verification_list_file.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/update_bytes.h"
#include "tools/mkupdate/json.h"
#include "tools/mkupdate/names.h"

namespace {

TEST(ListFileTest, RoundTripAndTheSharedLayout) {
  std::vector<VerificationRecord> records = {
      MakeRecord("a.arc", ChecksumOf("alpha")),
      MakeRecord(std::string(55, 'n'), ChecksumOf("abc"))};
  std::string bytes = SerializeVerificationList(records);
  EXPECT_EQ(bytes,
            BuildVerificationList({{"a.arc", ChecksumOf("alpha")},
                                   {std::string(55, 'n'), ChecksumOf("abc")}}));
  EXPECT_EQ(bytes.size(), VerificationListSize(2));
  std::vector<VerificationRecord> back;
  std::string why;
  ASSERT_TRUE(ParseVerificationList(bytes, &back, &why)) << why;
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(std::string(back[1].name), std::string(55, 'n'));
  EXPECT_TRUE(SameChecksum(back[0].checksum, ChecksumOf("alpha")));
  EXPECT_EQ(ChecksumHex(ChecksumOf("abc")), "06b4500012cc2660");
}

TEST(ListFileTest, DamagedListsAreRefused) {
  std::vector<VerificationRecord> back;
  std::string why;
  std::string one = BuildVerificationList({{"a", ChecksumOf("")}});
  EXPECT_FALSE(ParseVerificationList(one.substr(0, 15), &back, &why));
  EXPECT_FALSE(ParseVerificationList(one + "x", &back, &why));
  EXPECT_FALSE(
      ParseVerificationList(one.substr(0, one.size() - 1), &back, &why));
  EXPECT_FALSE(ParseVerificationList(BuildVerificationList({}, "KPL____ "),
                                     &back, &why));
  std::string unterminated = one;
  unterminated.replace(16, 56, std::string(56, 'x'));
  EXPECT_FALSE(ParseVerificationList(unterminated, &back, &why));
  EXPECT_EQ(why, "record 0 has a name without end");
  std::string twice = BuildVerificationList({{"Same", ChecksumOf("")},
                                             {"other", ChecksumOf("")},
                                             {"sAME", ChecksumOf("1")}});
  EXPECT_FALSE(ParseVerificationList(twice, &back, &why));
  EXPECT_NE(why.find("records 0 and 2"), std::string::npos) << why;
  // A count whose table would overflow 32 bits is not read past the bytes.
  std::string huge = BuildVerificationList({});
  huge[12] = huge[13] = huge[14] = huge[15] = '\xFF';
  EXPECT_FALSE(ParseVerificationList(huge, &back, &why));
}

}  // namespace
