// The install folder as the registry gives it, at the edges of the path
// buffer: a value that fills it, with or without its terminator, and one
// byte more.
#include "control/install_folder.h"

#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/path.h"
#include "testing/env_var.h"
#include "testing/updater_world.h"

namespace {

const std::string kNul(1, '\0');

class InstallFolderTest : public ::testing::Test, protected UpdaterWorld {
 protected:
  InstallFolderTest() : registry_env_("UPDATER_REGISTRY", registry()) {}

  // The folder found for a value of the type and bytes, or "<none>".
  std::string Found(const std::string& type, const std::string& bytes) {
    SetFolderValue(type, bytes);
    char folder[kMaxPath + 8];
    memset(folder, 'x', sizeof(folder));
    int found = FindInstallFolder(folder);
    // Found or not, the buffer ends within its size, nothing past it.
    EXPECT_NE(memchr(folder, '\0', kMaxPath), nullptr) << bytes.size();
    EXPECT_EQ(std::string(folder + kMaxPath, 8), std::string(8, 'x'))
        << bytes.size();
    return found ? std::string(folder) : "<none>";
  }

  EnvVar registry_env_;
};

TEST_F(InstallFolderTest, ValuesThatFillThePathBuffer) {
  const std::string longest(kMaxPath - 1, 'f');
  EXPECT_EQ(Found("REG_SZ", longest + kNul), longest);
  // Stored without its terminator: the updater adds one.
  EXPECT_EQ(Found("REG_SZ", longest), longest);
  // One byte more leaves no room for the terminator, with or without it.
  EXPECT_EQ(Found("REG_SZ", longest + "f"), "<none>");
  EXPECT_EQ(Found("REG_SZ", longest + "f" + kNul), "<none>");
}

TEST_F(InstallFolderTest, OnlyANonEmptyStringValue) {
  EXPECT_EQ(Found("REG_SZ", "C:\\Game" + kNul + "rest"), "C:\\Game");
  EXPECT_EQ(Found("REG_EXPAND_SZ", "C:\\Game" + kNul), "<none>");
  EXPECT_EQ(Found("REG_BINARY", "C:\\Game" + kNul), "<none>");
  EXPECT_EQ(Found("REG_SZ", kNul), "<none>");
  EXPECT_EQ(Found("REG_SZ", ""), "<none>");
}

}  // namespace
