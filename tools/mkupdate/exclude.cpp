#include "tools/mkupdate/exclude.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// The parts of a path, '/' and '\' both separating, empty and "." parts
// dropped.
std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path + "/") {
    if (c != '/' && c != '\\') {
      part += c;
      continue;
    }
    if (!part.empty() && part != ".") parts.push_back(part);
    part.clear();
  }
  return parts;
}

// '*' any run of characters, '?' any one, the rest itself.
bool GlobMatches(const std::string& glob, const std::string& text) {
  size_t g = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (g < glob.size() &&
        (glob[g] == '?' ||
         (glob[g] != '*' && Lower(glob[g]) == Lower(text[t])))) {
      g++;
      t++;
    } else if (g < glob.size() && glob[g] == '*') {
      star = g++;
      resume = t;
    } else if (star != std::string::npos) {
      g = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (g < glob.size() && glob[g] == '*') g++;
  return g == glob.size();
}

}  // namespace

const std::string* ExcludingPattern(const std::vector<std::string>& patterns,
                                    const std::string& relative) {
  std::vector<std::string> path = Parts(relative);
  for (const std::string& pattern : patterns) {
    std::vector<std::string> globs = Parts(pattern);
    if (globs.empty() || globs.size() > path.size()) continue;
    bool all = true;
    for (size_t i = 0; all && i < globs.size(); i++) {
      all = GlobMatches(globs[i], path[i]);
    }
    if (all) return &pattern;
  }
  return nullptr;
}
