#include "testing/updater_world.h"

#include <stdlib.h>
#include <sys/stat.h>

#include "gtest/gtest.h"
#include "testing/update_bytes.h"

const std::string kGameList = std::string("game.exe\n") + std::string(1, '\0');

namespace {

// The game's key as the stand-in keeps it: its name in UTF-8.
const char kKeyDir[] =
    "/HKEY_LOCAL_MACHINE/Software/Orvane/"
    "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3\xE3\x83\x9B\xE3\x83\xAD"
    "\xE3\x82\xA6";  // ルーメンホロウ

}  // namespace

UpdaterWorld::UpdaterWorld() {
  mkdir(lock_dir_.c_str(), 0755);
  mkdir(folder_.c_str(), 0755);
  WriteFileOrDie(folder_ + "/uninst.lst", kGameList);
  EXPECT_EQ(system(("mkdir -p '" + registry_ + kKeyDir + "'").c_str()), 0);
  SetFolderValue("REG_SZ", folder_ + std::string(1, '\0'));
}

void UpdaterWorld::SetFolderValue(const std::string& type,
                                  const std::string& bytes) {
  std::string key = registry_ + kKeyDir;
  EXPECT_EQ(system(("rm -f '" + key + "'/*").c_str()), 0);
  WriteFileOrDie(key + "/InstalledFolder." + type, bytes);
}

void UpdaterWorld::SetPayload(const std::string& payload) {
  std::string program = ReadFileOrEmpty(UPDATER_BINARY);
  ASSERT_LT(program.size(), 1u << 20) << "the program must fit below 1 MiB";
  WriteFileOrDie(updater_,
                 payload.empty() ? program : UpdaterFile(payload, program));
  chmod(updater_.c_str(), 0755);
}

ProcessOptions UpdaterWorld::Options(const std::string& input) const {
  ProcessOptions o;
  o.env = {"UPDATER_REGISTRY=" + registry_, "XDG_RUNTIME_DIR=" + lock_dir_};
  o.input = input;
  return o;
}

ProcessResult UpdaterWorld::RunUpdate(const std::string& input) const {
  return RunProcess({updater_}, Options(input));
}

std::string UpdaterWorld::LockFile(const char* name) const {
  return lock_dir_ + "/" + name + ".lock";
}
