#include "tools/mkupdate/json.h"

#include <stdio.h>

#include "tools/mkupdate/report.h"

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = utf8[i];
    size_t n = Utf8CharLength(utf8, i);
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
