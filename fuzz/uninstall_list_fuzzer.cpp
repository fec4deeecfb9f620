// The uninstall list merge with arbitrary list bytes and names (none with
// a line feed, as no entry name has one). Afterwards every name is a line
// of the list and none of the old text is lost, or the list was refused
// and is byte for byte as before; a second merge of the same names changes
// nothing.
//
// The input's rest begins with one byte: when its top bit is set the list is
// filled up (with 'x') to within a few bytes of the merge buffer's size, so
// that the limit itself is explored.
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "uninstall/uninstall_list.h"
#include "testing/list_merge.h"

namespace {

std::string ListBytes(const std::string& rest) {
  if (rest.empty()) return rest;
  uint8_t flags = static_cast<uint8_t>(rest[0]);
  std::string list = rest.substr(1);
  if (flags & 0x80) {
    size_t total = kUninstallBufferSize + 8 - (flags & 0x7F);
    if (list.size() < total) list.insert(0, total - list.size(), 'x');
  }
  return list;
}

// True when one of the text's lines is the name.
bool HasLine(const std::string& text, const std::string& name) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (text.compare(start, end - start, name) == 0) return true;
    start = end + 1;
  }
  return false;
}

// The list the merge must leave, or "" when it must refuse.
std::string ExpectedList(const std::string& old,
                         const std::vector<std::string>& names) {
  if (old.empty() || old.size() > kUninstallBufferSize ||
      old.find('\0') != old.size() - 1) {
    return "";
  }
  std::string text = old.substr(0, old.size() - 1);
  for (const std::string& name : names) {
    if (HasLine(text, name)) continue;
    if (!text.empty() && text.back() != '\n') text += '\n';
    text += name + "\n";
  }
  if (text.size() + 1 > kUninstallBufferSize) return "";
  return text + '\0';
}

int Merge(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<const char*> pointers;
  for (const std::string& name : names) pointers.push_back(name.c_str());
  pointers.push_back(nullptr);
  return MergeUninstallList(folder.c_str(), pointers.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = FuzzFolder();
  static const std::string path = folder + "/" + kUninstallListName;
  NamesAndBytes input = SplitInput(data, size);
  for (auto it = input.names.begin(); it != input.names.end();) {
    it = it->find('\n') != std::string::npos ? input.names.erase(it) : it + 1;
  }
  std::string old = ListBytes(input.rest);
  WriteFileAt(path, old.data(), old.size(), 0);
  int merged = Merge(folder, input.names);
  std::string now = ReadWholeFile(path);
  std::string expected = ExpectedList(old, input.names);
  if (!merged) {
    Check(expected.empty(), "a list that can be merged is merged");
    Check(now == old, "a refused list is left as it was");
    return 0;
  }
  Check(!expected.empty(), "a malformed or full list is refused");
  Check(now.compare(0, old.size() - 1, old, 0, old.size() - 1) == 0,
        "none of the old text is lost");
  std::string text = now.substr(0, now.size() - 1);
  for (const std::string& name : input.names) {
    Check(HasLine(text, name), "every name is a line");
  }
  Check(now == expected, "only the missing names are appended, in order");
  Check(Merge(folder, input.names) != 0 && ReadWholeFile(path) == now,
        "a second merge changes nothing");
  return 0;
}
