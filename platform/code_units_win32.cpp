#include <windows.h>

#include "platform/code_units.h"

namespace {

const UINT kCodePage932 = 932;

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
