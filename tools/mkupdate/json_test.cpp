// The JSON strings of mkupdate.
#include "tools/mkupdate/json.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/update_bytes.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/verification_list_file.h"

namespace {

TEST(JsonTest, StringsAreEscapedAndValid) {
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
  EXPECT_EQ(JsonString("\xE3\x83\xAB"), "\"\xE3\x83\xAB\"");
  // Not UTF-8: a lone continuation, a cut sequence, an overlong '/', a
  // surrogate, and beyond U+10FFFF.
  for (const char* bad :
       {"\x80", "\xE3\x83", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
    std::string out = JsonString(bad);
    EXPECT_EQ(out.find_first_of("\x80\xC0\xE3\xED\xF4"), std::string::npos)
        << out;
    EXPECT_NE(out.find("\\ufffd"), std::string::npos) << out;
  }
}

}  // namespace
