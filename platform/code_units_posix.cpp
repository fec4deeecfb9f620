#include <errno.h>
#include <iconv.h>
#include <string.h>

#include "platform/code_units.h"

namespace {

// The converter between two codesets, opened once for the process: every
// name of a run passes here, some more than once, and opening one costs
// tens of microseconds each time. Single-threaded callers only, as the
// updater and mkupdate are.
iconv_t Converter(const char* to, const char* from) {
  struct Open {
    const char* to;
    const char* from;
    iconv_t cd;
  };
  static Open open[8];
  static int count = 0;
  for (int i = 0; i < count; i++) {
    if (strcmp(open[i].to, to) == 0 && strcmp(open[i].from, from) == 0) {
      return open[i].cd;
    }
  }
  iconv_t cd = iconv_open(to, from);
  if (cd != reinterpret_cast<iconv_t>(-1) && count < 8) {
    open[count++] = Open{to, from, cd};
  }
  return cd;
}

// Converts n bytes between two codesets into out; the count written, or -1
// when a byte does not convert or out is too small.
int ConvertBytes(const char* to, const char* from, const char* in, size_t n,
                 char* out, size_t out_size) {
  iconv_t cd = Converter(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  // A conversion cut short leaves no state behind for the next.
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = const_cast<char*>(in);
  char* dst = out;
  size_t src_left = n;
  size_t dst_left = out_size;
  bool ok =
      iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1) &&
      iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<size_t>(-1);
  return ok ? static_cast<int>(out_size - dst_left) : -1;
}

// ASCII is the same bytes in code page 932 and in UTF-8 (0x5C is the
// backslash and 0x7E the tilde in both, as Windows reads them): most names
// need no converter at all.
bool IsAscii(const char* bytes, size_t n) {
  for (size_t i = 0; i < n; i++) {
    if (static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
  }
  return true;
}

int CopyAscii(const char* bytes, size_t n, char* out, size_t out_size) {
  if (n > out_size || n > 0x7FFFFFFF) return -1;
  memcpy(out, bytes, n);
  return static_cast<int>(n);
}

}  // namespace

int CodePage932ToUtf16(const char* bytes, size_t n, uint16_t* out,
                       size_t out_size) {
  int made = ConvertBytes("UTF-16LE", "CP932", bytes, n,
                          reinterpret_cast<char*>(out), out_size * 2);
  return made < 0 ? -1 : made / 2;
}

int Utf16ToCodePage932(const uint16_t* units, size_t n, char* out,
                       size_t out_size) {
  return ConvertBytes("CP932", "UTF-16LE", reinterpret_cast<const char*>(units),
                      n * 2, out, out_size);
}

int CodePage932ToUtf8(const char* bytes, size_t n, char* out, size_t out_size) {
  if (IsAscii(bytes, n)) return CopyAscii(bytes, n, out, out_size);
  return ConvertBytes("UTF-8", "CP932", bytes, n, out, out_size);
}

int Utf8ToCodePage932(const char* bytes, size_t n, char* out, size_t out_size) {
  if (IsAscii(bytes, n)) return CopyAscii(bytes, n, out, out_size);
  int made = ConvertBytes("CP932", "UTF-8", bytes, n, out, out_size);
  if (made < 0) return -1;
  // iconv takes some characters one way only (the wave dash U+301C becomes
  // 0x8160, the full-width tilde's byte): such a name is not this one.
  char back[4096];
  if (n > sizeof(back)) return -1;
  int again = ConvertBytes("UTF-8", "CP932", out, static_cast<size_t>(made),
                           back, sizeof(back));
  return again == static_cast<int>(n) && memcmp(back, bytes, n) == 0 ? made
                                                                     : -1;
}
