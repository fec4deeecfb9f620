#include "tools/mkupdate/names.h"

#include <string.h>

#include "payload/payload_archive.h"
#include "payload/verification_list.h"

namespace {

// What a Windows file name may not hold besides '\' and ':'.
const char kForbidden[] = "<>\"|?*";

std::string PathProblem(const std::string& name, size_t max_length) {
  if (name.empty()) return "the name is empty";
  if (name.size() > max_length) {
    return "the name is " + std::to_string(name.size()) +
           " bytes long; at most " + std::to_string(max_length) + " bytes fit";
  }
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') ||
       (name[0] >= 'a' && name[0] <= 'z'))) {
    return "the name starts with a drive letter";
  }
  if (name[0] == '\\') return "the name is absolute";
  for (char c : name) {
    if (c == ':') return "the name contains a colon";
    if (static_cast<unsigned char>(c) < 0x20) {
      return "the name contains a control character";
    }
    if (c != '\0' && strchr(kForbidden, c) != nullptr) {
      return std::string("the name contains '") + c +
             "', which Windows does not allow in file names";
    }
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty()) return "the name has an empty folder part";
    if (part == "..") return "the name has a '..' part";
    start = end + 1;
  }
  return "";
}

}  // namespace

std::string WithBackslashes(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

std::string EntryNameProblem(const std::string& name) {
  return PathProblem(name, kEntryNameSize - 1);
}

std::string RecordNameProblem(const std::string& name) {
  return PathProblem(name, kRecordNameSize - 1);
}

bool SameUpdaterName(const std::string& a, const std::string& b) {
  return SameNameIgnoringCase(a.c_str(), a.size() + 1, b.c_str(), b.size() + 1);
}
