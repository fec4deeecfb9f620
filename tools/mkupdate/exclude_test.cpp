// --exclude: which paths of a release a pattern leaves out.
#include "tools/mkupdate/exclude.h"

#include "gtest/gtest.h"

namespace {

TEST(ExcludeTest, PathsGlobsAndFolders) {
  struct Case {
    const char* pattern;
    const char* path;
    bool excluded;
  };
  for (const Case& c : std::vector<Case>{
           {"readme.txt", "readme.txt", true},
           {"README.TXT", "readme.txt", true},  // as the updater compares
           {"readme.txt", "docs/readme.txt", false},
           {"docs", "docs/readme.txt", true},  // a folder, with all in it
           {"docs/", "docs/a/b.txt", true},
           {"docs\\a", "docs/a/b.txt", true},
           {"./docs/a/b.txt", "docs/a/b.txt", true},
           {"*.log", "game.log", true},
           {"*.log", "logs/game.log", false},  // '*' stays in one part
           {"*/*.log", "logs/game.log", true},
           {"save?.dat", "save1.dat", true},
           {"save?.dat", "save10.dat", false},
           {"a*b*c", "aXbYbZc", true},
           {"a*b*c", "aXbYcZ", false},
           {"docs/readme.txt/more", "docs/readme.txt", false},
       }) {
    std::vector<std::string> patterns = {"other", c.pattern};
    const std::string* found = ExcludingPattern(patterns, c.path);
    EXPECT_EQ(found != nullptr, c.excluded) << c.pattern << " " << c.path;
    if (found != nullptr) EXPECT_EQ(*found, c.pattern);
  }
}

}  // namespace
