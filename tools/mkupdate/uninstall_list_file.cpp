#include "tools/mkupdate/uninstall_list_file.h"

#include <filesystem>

#include "platform/code_page.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/report.h"
#include "uninstall/uninstall_list.h"

namespace fs = std::filesystem;

namespace {

// True when the line is UTF-8 with a character beyond ASCII: code page
// 932 text almost never is (its lead bytes 0x81 to 0x9F cannot start a
// UTF-8 character), and a list saved as UTF-8 would read as other names.
bool LooksLikeUtf8(const std::string& line) {
  bool beyond_ascii = false;
  for (size_t i = 0; i < line.size();) {
    size_t n = Utf8CharLength(line, i);
    if (n == 0) return false;
    beyond_ascii |= n > 1;
    i += n;
  }
  return beyond_ascii;
}

// The problems with the list's lines: where a carriage return ends one,
// where one is no code page 932 text, a last one without its line feed.
void CheckLines(const std::string& text, std::vector<std::string>* problems) {
  size_t crlf = 0, unreadable = 0, first_crlf = 0, first_unreadable = 0;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    number++;
    if (end == std::string::npos) {
      problems->push_back("its last line (line " + std::to_string(number) +
                          ") has no line feed after it");
      end = text.size();
    }
    std::string line = text.substr(start, end - start), shown;
    if (!line.empty() && line.back() == '\r' && crlf++ == 0) {
      first_crlf = number;
    }
    if ((!CodePage932ToText(line, true, &shown) || LooksLikeUtf8(line)) &&
        unreadable++ == 0) {
      first_unreadable = number;
    }
    start = end + 1;
  }
  if (crlf != 0) {
    problems->push_back(
        std::to_string(crlf) + (crlf == 1 ? " line ends" : " lines end") +
        " in a carriage return and a line feed (line " +
        std::to_string(first_crlf) +
        " first): the game's uninstaller reads a name up to the line feed "
        "alone, and would look for names that end in a carriage return");
  }
  if (unreadable != 0) {
    problems->push_back(
        std::to_string(unreadable) +
        (unreadable == 1 ? " line is" : " lines are") +
        " no code page 932 text (line " + std::to_string(first_unreadable) +
        " first), or reads as UTF-8: the names there are the game's, as "
        "Windows names them in code page 932; a list saved in UTF-8 or "
        "another code page would name other files");
  }
}

// True when name is one of the lines of text.
bool HasLine(const std::string& text, const std::string& name) {
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, name) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::vector<std::string> UninstallListProblems(
    const std::string& folder, const std::vector<std::string>& added) {
  std::vector<std::string> problems;
  std::error_code ec;
  fs::path path = fs::u8path(folder) / kUninstallListName;
  fs::file_status status = fs::symlink_status(path, ec);
  if (!fs::exists(status)) {
    problems.push_back(
        "there is none: the updater merges the installed names into the "
        "game's uninstall list, and fails on every player's machine without "
        "it (0x80000005)");
    return problems;
  }
  if (!fs::is_regular_file(status)) {
    problems.push_back(
        "it is no file (a link or a folder), which the updater never "
        "reads");
    return problems;
  }
  std::string bytes, why;
  if (!ReadWholeFile(path.u8string(), &bytes, &why)) {
    problems.push_back(why);
    return problems;
  }
  size_t nul = bytes.find('\0');
  if (bytes.empty() || nul == std::string::npos) {
    problems.push_back(
        "it does not end in a NUL byte: the list is stored with the NUL that "
        "ends its text, and the updater refuses one without it");
  } else if (nul + 1 != bytes.size()) {
    problems.push_back("it has a NUL byte before its end (at byte " +
                       std::to_string(nul) +
                       "): the updater would cut the list short there");
  }
  std::string text =
      bytes.substr(0, nul == std::string::npos ? bytes.size() : nul);
  CheckLines(text, &problems);
  uint64_t length = bytes.size();
  for (const std::string& name : added) {
    if (!HasLine(text, name)) length += name.size() + 1;
  }
  if (length > kUninstallBufferSize) {
    problems.push_back("with the names the update adds it would be " +
                       std::to_string(length) +
                       " bytes, more than the 1048576 the updater holds");
  }
  return problems;
}
