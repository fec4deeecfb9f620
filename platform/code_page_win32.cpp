#include "platform/code_page.h"
#include "platform/wide_text_win32.h"

namespace {

const unsigned kCodePage932 = 932;
const unsigned kUtf8 = 65001;  // CP_UTF8

}  // namespace

bool TextToCodePage932(const std::string& text, std::string* cp932) {
  std::wstring wide = Wide(text);
  if (wide.empty() != text.empty()) return false;
  return Narrow(wide, kCodePage932, cp932);
}

bool CodePage932ToText(const std::string& cp932, bool, std::string* text) {
  std::wstring wide = Wide(cp932, kCodePage932);
  if (wide.empty() != cp932.empty()) return false;
  return Narrow(wide, kUtf8, text);
}
