// Pins the code page 932 bytes of every text against its readable form.
#include "control/texts.h"

#include <iconv.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"

namespace {

std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(utf8.size() * 2 + 1, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t in_left = utf8.size();
  char* dst = &out[0];
  size_t out_left = out.size();
  EXPECT_NE(iconv(cd, &in, &in_left, &dst, &out_left), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

std::string Pad(const std::string& text, int spaces) {
  std::string out = text;
  for (int i = 0; i < spaces; i++) out += "\u3000";
  return out;
}

TEST(TextsTest, Cp932BytesMatchTheReadableText) {
  struct {
    const char* bytes;
    std::string text;
  } cases[] = {
      {kTextBusy,
       Pad("ゲーム、ランチャー、アンインストーラーのいずれかが実行中な"
           "のでアップデートを行えません",
           0)},
      {kTextNotInstalled, Pad("ゲームがインストールされていません", 9)},
      {kTextConfirm, Pad("アップデートを行いますか？", 13)},
      {kTextDone, Pad("アップデートが完了しました", 13)},
      {kTextCorrupt,
       Pad("アップデートプログラムが破損している可能性があります", 0)},
      {kTextFailed, Pad("何らかの要因によりアップデートが行えません", 5)},
      {kTextUninstallFailed,
       Pad("アンインストレーションファイルの更新に失敗しました", 1)},
      {kCaption, "「ルーメンホロウ」 Updater ver 1.00"},
      {kRegistryKeyPart3, "ルーメンホロウ"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(std::string(c.bytes), ToCp932(c.text)) << c.text;
  }
}

TEST(TextsTest, Lengths) {
  EXPECT_EQ(strlen(kTextBusy), 86u);
  for (const char* t : {kTextNotInstalled, kTextConfirm, kTextDone,
                        kTextCorrupt, kTextFailed, kTextUninstallFailed}) {
    EXPECT_EQ(strlen(t), 52u) << t;
  }
  EXPECT_EQ(strlen(kCaption), 35u);
  // 能 is 0x94 0x5C: its second byte is a backslash and must stay one byte.
  EXPECT_NE(strstr(kTextCorrupt, "\x94\x5C"), nullptr);
}

}  // namespace
