#include "tools/mkupdate/report.h"

#include <stdarg.h>
#include <stdio.h>

#include "platform/tool_system.h"

bool Refuse(const std::string& file, const std::string& reason) {
  Note(file, reason);
  return false;
}

void Note(const std::string& file, const std::string& text) {
  WriteText(stderr, "mkupdate: " + EscapeControls(file) + ": " + text + "\n");
}

void Print(const std::string& text) { WriteText(stdout, text); }

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) vsnprintf(&out[0], n + 1, format, again);
  va_end(again);
  return out;
}

std::string Counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size(); i++) {
    out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  }
  return out;
}

size_t Utf8CharLength(const std::string& s, size_t i) {
  unsigned char c = s[i];
  size_t n = c < 0x80         ? 1
             : (c >> 5) == 6  ? 2
             : (c >> 4) == 14 ? 3
             : (c >> 3) == 30 ? 4
                              : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t j = 1; j < n; j++) {
    if ((static_cast<unsigned char>(s[i + j]) >> 6) != 2) return 0;
  }
  // Overlong forms and surrogates are not UTF-8 either.
  unsigned char d = n > 1 ? s[i + 1] : 0;
  if ((n == 2 && c < 0xC2) || (n == 3 && c == 0xE0 && d < 0xA0) ||
      (n == 3 && c == 0xED && d >= 0xA0) || (n == 4 && c == 0xF0 && d < 0x90) ||
      (n == 4 && (c > 0xF4 || (c == 0xF4 && d >= 0x90)))) {
    return 0;
  }
  return n;
}

namespace {

// The code point of the UTF-8 character of n bytes at s[i].
uint32_t CodePoint(const std::string& s, size_t i, size_t n) {
  static const unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t u = static_cast<unsigned char>(s[i]) & kLeadMask[n];
  for (size_t j = 1; j < n; j++) u = (u << 6) | (s[i + j] & 0x3F);
  return u;
}

// East Asian wide and full-width characters, which a terminal shows two
// columns wide: Hangul Jamo, CJK symbols and punctuation, kana, CJK
// ideographs, Yi, Hangul syllables, compatibility forms, full-width forms.
bool IsWide(uint32_t u) {
  return (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0x303E) ||
         (u >= 0x3041 && u <= 0x33FF) || (u >= 0x3400 && u <= 0x4DBF) ||
         (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0xA000 && u <= 0xA4CF) ||
         (u >= 0xAC00 && u <= 0xD7A3) || (u >= 0xF900 && u <= 0xFAFF) ||
         (u >= 0xFE30 && u <= 0xFE4F) || (u >= 0xFF00 && u <= 0xFF60) ||
         (u >= 0xFFE0 && u <= 0xFFE6) || (u >= 0x20000 && u <= 0x3FFFD);
}

}  // namespace

size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    size_t n = Utf8CharLength(text, i);
    if (n == 0) n = 1;  // a stray byte, shown as one column or none
    width += n > 1 && IsWide(CodePoint(text, i, n)) ? 2 : 1;
    i += n;
  }
  return width;
}

std::string PadTo(const std::string& text, size_t width) {
  size_t have = DisplayWidth(text);
  return have >= width ? text : text + std::string(width - have, ' ');
}

std::string EscapeControls(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += Format("\\x%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
