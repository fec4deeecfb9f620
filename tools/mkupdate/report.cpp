#include "tools/mkupdate/report.h"

#include <stdarg.h>
#include <stdio.h>

#include "platform/tool_system.h"

bool Refuse(const std::string& file, const std::string& reason) {
  Note(file, reason);
  return false;
}

void Note(const std::string& file, const std::string& text) {
  WriteText(stderr, "mkupdate: " + file + ": " + text + "\n");
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
