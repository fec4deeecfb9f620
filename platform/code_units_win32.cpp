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

namespace {

// Converts n bytes between two code pages through UTF-16, as the system's
// narrow calls do; -1 when a byte is no character of from, a character has
// no exact form in to (best fits refused), or out is too small.
int ConvertThroughUtf16(UINT to, UINT from, const char* bytes, size_t n,
                        char* out, size_t out_size) {
  if (n == 0) return 0;
  if (n > 0x7FFFFFFF || out_size > 0x7FFFFFFF) return -1;
  wchar_t wide[4096];
  int units = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, bytes,
                                  static_cast<int>(n), wide, 4096);
  if (units <= 0) return -1;
  BOOL lossy = FALSE;
  BOOL* check = to == CP_UTF8 ? nullptr : &lossy;
  DWORD flags = to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int made = WideCharToMultiByte(to, flags, wide, units, out,
                                 static_cast<int>(out_size), nullptr, check);
  return made > 0 && !lossy ? made : -1;
}

}  // namespace

int CodePage932ToUtf8(const char* bytes, size_t n, char* out, size_t out_size) {
  return ConvertThroughUtf16(CP_UTF8, kCodePage932, bytes, n, out, out_size);
}

int Utf8ToCodePage932(const char* bytes, size_t n, char* out, size_t out_size) {
  return ConvertThroughUtf16(kCodePage932, CP_UTF8, bytes, n, out, out_size);
}
