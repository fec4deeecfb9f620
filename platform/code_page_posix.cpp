#include <errno.h>
#include <iconv.h>
#include <langinfo.h>

#include "platform/code_page.h"

namespace {

// The codeset of the user's text. The C locale says ASCII, but the names
// publishers give are UTF-8 there as everywhere else on these systems.
std::string TextCodeset() {
  std::string name = nl_langinfo(CODESET);
  if (name == "ANSI_X3.4-1968" || name == "ASCII" || name.empty()) {
    return "UTF-8";
  }
  return name;
}

bool Convert(const std::string& to, const std::string& from,
             const std::string& in, std::string* out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  bool ok = true;
  // A final call with no input flushes any shift state.
  for (bool flushing = false; ok;) {
    char buffer[256];
    char* dst = buffer;
    size_t dst_left = sizeof(buffer);
    size_t r = flushing ? iconv(cd, nullptr, nullptr, &dst, &dst_left)
                        : iconv(cd, &src, &src_left, &dst, &dst_left);
    out->append(buffer, dst - buffer);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) ok = false;
    if (r != static_cast<size_t>(-1)) {
      if (flushing) break;
      flushing = true;
    }
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

bool TextToCodePage932(const std::string& text, std::string* cp932) {
  std::string back;
  return Convert("CP932", TextCodeset(), text, cp932) &&
         Convert(TextCodeset(), "CP932", *cp932, &back) && back == text;
}

bool CodePage932ToText(const std::string& cp932, bool utf8, std::string* text) {
  return Convert(utf8 ? "UTF-8" : TextCodeset(), "CP932", cp932, text);
}
