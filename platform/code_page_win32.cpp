#include <windows.h>

#include "platform/code_page.h"
#include "platform/wide_text_win32.h"

namespace {

const unsigned kCodePage932 = 932;
const unsigned kUtf8 = 65001;  // CP_UTF8

}  // namespace

int CodePage932ToUtf16(const char* bytes, size_t n, uint16_t* out,
                       size_t out_size) {
  if (n == 0) return 0;
  if (n > 0x7FFFFFFF || out_size > 0x7FFFFFFF) return -1;
  int units = MultiByteToWideChar(
      kCodePage932, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(n),
      reinterpret_cast<wchar_t*>(out), static_cast<int>(out_size));
  return units > 0 ? units : -1;
}

int Utf16ToCodePage932(const uint16_t* units, size_t n, char* out,
                       size_t out_size) {
  if (n == 0) return 0;
  if (n > 0x7FFFFFFF || out_size > 0x7FFFFFFF) return -1;
  BOOL lossy = FALSE;
  int bytes = WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS,
                                  reinterpret_cast<const wchar_t*>(units),
                                  static_cast<int>(n), out,
                                  static_cast<int>(out_size), nullptr, &lossy);
  return bytes > 0 && !lossy ? bytes : -1;
}

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
