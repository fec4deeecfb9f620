#include "platform/path.h"

#include <string.h>

#include <string>

#include "gtest/gtest.h"

namespace {

TEST(PathTest, JoinsWithOneBackslash) {
  char out[kMaxPath];
  ASSERT_EQ(JoinPath("C:\\Games\\Lumen", "data1.arc", out), 1);
  EXPECT_STREQ(out, "C:\\Games\\Lumen\\data1.arc");
  // The folder is used as stored: a trailing separator stays and doubles.
  ASSERT_EQ(JoinPath("C:\\", "a", out), 1);
  EXPECT_STREQ(out, "C:\\\\a");
}

TEST(PathTest, RefusesWhatDoesNotFitWithItsTerminator) {
  std::string folder(250, 'f');
  char out[kMaxPath + 16];
  memset(out, 'x', sizeof(out));
  // 250 + 1 + 8 = 259 characters and the terminator: exactly 260 bytes.
  ASSERT_EQ(JoinPath(folder.c_str(), "12345678", out), 1);
  EXPECT_EQ(strlen(out), 259u);
  memset(out, 'x', sizeof(out));
  EXPECT_EQ(JoinPath(folder.c_str(), "123456789", out), 0);
  EXPECT_EQ(out[0], '\0');
  // Nothing was written past the 260 bytes.
  for (size_t i = kMaxPath; i < sizeof(out); i++) EXPECT_EQ(out[i], 'x');
  std::string long_folder(300, 'f');
  EXPECT_EQ(JoinPath(long_folder.c_str(), "a", out), 0);
  EXPECT_EQ(out[0], '\0');
}

TEST(PathTest, ExtendsInPlaceAndChecksItsSize) {
  char key[32];
  ASSERT_EQ(JoinWithBackslash("Software", "Orvane", key, sizeof(key)), 1);
  ASSERT_EQ(JoinWithBackslash(key, "Game", key, sizeof(key)), 1);
  EXPECT_STREQ(key, "Software\\Orvane\\Game");
  char small[8];
  EXPECT_EQ(JoinWithBackslash("abc", "def", small, sizeof(small)), 1);
  EXPECT_EQ(JoinWithBackslash("abc", "defg", small, sizeof(small)), 0);
  EXPECT_EQ(JoinWithBackslash("", "", small, 0), 0);
}

}  // namespace
