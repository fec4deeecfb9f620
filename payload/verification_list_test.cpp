#include "payload/verification_list.h"

#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

namespace {

TEST(NameTest, CaseOfAsciiLettersOnly) {
  EXPECT_TRUE(SameNameIgnoringCase("VRX.HVL", 8, "vrx.hvl", 8));
  EXPECT_FALSE(SameNameIgnoringCase("vrx.hvl2", 9, "vrx.hvl", 8));
  EXPECT_FALSE(SameNameIgnoringCase("vrx.hv", 7, "vrx.hvl", 8));
  // Bytes outside A-Z are compared as they are: 0xC1 is not 0xE1.
  EXPECT_FALSE(SameNameIgnoringCase("\xC1", 2, "\xE1", 2));
  // A name without a terminator within its size equals nothing.
  EXPECT_FALSE(SameNameIgnoringCase("abcd", 4, "abcd", 5));
}

class VerificationListTest : public ::testing::Test {
 protected:
  void Load(const std::vector<TestEntry>& entries) {
    WriteFileOrDie(path_, UpdaterFile(BuildPayload(entries)));
    file_.Close();
    ASSERT_EQ(OpenPayload(path_.c_str(), &file_, &payload_), kResultOk);
    LoadVerificationList(&file_, payload_, &list_);
  }
  ScratchDir dir_;
  std::string path_ = dir_.Sub("setup.exe");
  SeqFile file_;
  Payload payload_;
  VerificationList list_;
};

TEST_F(VerificationListTest, FoundInAnyCase) {
  std::string list = BuildVerificationList({{"a.arc", ChecksumOf("A")}});
  for (const char* name : {"vrx.hvl", "VRX.HVL", "Vrx.Hvl"}) {
    Load({{"a.arc", "A"}, {name, list}});
    EXPECT_EQ(list_.count, 1u) << name;
  }
  for (const char* name : {"vrx.hvl_", "vrx.hv", "xvrx.hvl"}) {
    Load({{"a.arc", "A"}, {name, list}});
    EXPECT_EQ(list_.count, 0u) << name;
  }
}

TEST_F(VerificationListTest, BrokenListsAreAbsent) {
  std::string good = BuildVerificationList({{"a", ChecksumOf("x")}});
  Load({{"vrx.hvl",
         BuildVerificationList({{"a", ChecksumOf("x")}}, "KPL____x")}});
  EXPECT_EQ(list_.count, 0u);
  Load({{"vrx.hvl", good.substr(0, 15)}});
  EXPECT_EQ(list_.count, 0u);
  // The record table runs past the end of the file.
  Load({{"vrx.hvl", good.substr(0, good.size() - 1)}});
  EXPECT_EQ(list_.count, 0u);
  // 64 x count overflows 32 bits.
  std::string huge = good;
  huge[12] = huge[13] = huge[14] = huge[15] = '\xFF';
  Load({{"vrx.hvl", huge}});
  EXPECT_EQ(list_.count, 0u);
  // The count claims a record that lies in the next entry's bytes: the
  // list is damaged, whatever follows it in the file.
  std::string claims_two = good;
  claims_two[12] = 2;
  Load({{"vrx.hvl", claims_two}, {"b", std::string(64, 'b')}});
  EXPECT_EQ(list_.count, 0u);
  Load({{"vrx.hvl", good}});
  EXPECT_EQ(list_.count, 1u);
}

TEST_F(VerificationListTest, FirstEntryOfTheNameDecides) {
  // A payload never holds two entries of one name; given a directory that
  // does, only the first is looked at.
  std::string good = BuildVerificationList({{"a", ChecksumOf("x")}});
  Load({{"VRX.HVL", "broken"}, {"vrx.hvm", good}});
  payload_.entries[1].name[6] = 'l';
  LoadVerificationList(&file_, payload_, &list_);
  EXPECT_EQ(list_.count, 0u);
}

TEST_F(VerificationListTest, Lookup) {
  EntryChecksum x = ChecksumOf("x");
  EntryChecksum y = ChecksumOf("y");
  std::string long_name(56, 'n');
  Load({{"vrx.hvl", BuildVerificationList({{"data.arc", x},
                                           {"DATA.ARC", y},
                                           {"Other.Arc", y},
                                           {long_name, x}})}});
  ASSERT_EQ(list_.count, 4u);
  EXPECT_EQ(VerifyEntry(list_, "data.arc", x), kVerified);
  // The first record decides even though the second would match.
  EXPECT_EQ(VerifyEntry(list_, "Data.Arc", y), kMismatch);
  EXPECT_EQ(VerifyEntry(list_, "OTHER.ARC", y), kVerified);
  EXPECT_EQ(VerifyEntry(list_, "other.arc", x), kMismatch);
  EXPECT_EQ(VerifyEntry(list_, "data.ar", x), kNotListed);
  EXPECT_EQ(VerifyEntry(list_, "vrx.hvl", x), kNotListed);
  // A record name without a terminator matches nothing, not even itself.
  EXPECT_EQ(VerifyEntry(list_, long_name.c_str(), x), kNotListed);
  EXPECT_EQ(VerifyEntry(VerificationList(), "data.arc", y), kNotListed);
}

}  // namespace
