#include "tools/mkupdate/json.h"

#include <stdio.h>

namespace {

// The length of the UTF-8 sequence at s[i], or 0 when it is not one.
size_t Utf8Length(const std::string& s, size_t i) {
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

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = utf8[i];
    size_t n = Utf8Length(utf8, i);
    if (n == 0) {
      out += "\\ufffd";
      i++;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out.append(utf8, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string JsonDocumentStart(const char* command, bool ok) {
  return "{\n  \"format_version\": " + std::to_string(kJsonFormatVersion) +
         ",\n  \"command\": \"" + command +
         "\",\n  \"ok\": " + (ok ? "true" : "false");
}

std::string JsonCounts(const JsonCountList& counts) {
  std::string out = "\"counts\": {";
  for (size_t i = 0; i < counts.size(); i++) {
    out += std::string(i ? ", " : "") + "\"" + counts[i].first + "\": " +
           (counts[i].second < 0 ? "null" : std::to_string(counts[i].second));
  }
  return out + "}";
}
