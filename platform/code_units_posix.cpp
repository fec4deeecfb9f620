#include <errno.h>
#include <iconv.h>
#include <string.h>

#include "platform/code_units.h"

namespace {

// Converts n bytes between two codesets into out; the count written, or -1
// when a byte does not convert or out is too small.
int ConvertBytes(const char* to, const char* from, const char* in, size_t n,
                 char* out, size_t out_size) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
  char* src = const_cast<char*>(in);
  char* dst = out;
  size_t src_left = n;
  size_t dst_left = out_size;
  bool ok =
      iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<size_t>(-1) &&
      iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  return ok ? static_cast<int>(out_size - dst_left) : -1;
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
