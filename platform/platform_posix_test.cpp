// The POSIX stand-in's own contracts: named mutexes that interoperate with
// flock(1), and the registry folder tree.
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "testing/test_util.h"

namespace {

class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~EnvVar() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

TEST(NamedMutexTest, HeldByFlockOfAnotherProcess) {
  ScratchDir dir;
  EnvVar runtime("XDG_RUNTIME_DIR", dir.path());
  pid_t holder = HoldFlock(dir.Sub("Test mutex.lock"));
  uint32_t error = 0;
  MutexHandle m = CreateNamedMutex("Test mutex", &error);
  EXPECT_NE(m, kNoMutex);
  EXPECT_EQ(error, kErrorAlreadyExists);
  CloseNamedMutex(m);
  StopProcess(holder);
  m = CreateNamedMutex("Test mutex", &error);
  EXPECT_EQ(error, 0u);
  // While we hold it, flock(1) cannot take it.
  ProcessResult r =
      RunProcess({"flock", "-n", dir.Sub("Test mutex.lock"), "true"}, {});
  EXPECT_NE(r.status, 0);
  CloseNamedMutex(m);
  r = RunProcess({"flock", "-n", dir.Sub("Test mutex.lock"), "true"}, {});
  EXPECT_EQ(r.status, 0);
}

TEST(NamedMutexTest, SecondHandleInSameProcessFindsItTaken) {
  ScratchDir dir;
  EnvVar runtime("XDG_RUNTIME_DIR", dir.path());
  uint32_t e1 = 1, e2 = 0;
  MutexHandle a = CreateNamedMutex("m", &e1);
  MutexHandle b = CreateNamedMutex("m", &e2);
  EXPECT_EQ(e1, 0u);
  EXPECT_EQ(e2, kErrorAlreadyExists);
  CloseNamedMutex(b);
  CloseNamedMutex(a);
}

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : env_("UPDATER_REGISTRY", dir_.path()) {
    mkdir((dir_.path() + "/HKEY_LOCAL_MACHINE").c_str(), 0755);
    mkdir((dir_.path() + "/HKEY_LOCAL_MACHINE/Key").c_str(), 0755);
    // "キー" in UTF-8 on disk, asked for in code page 932.
    mkdir((dir_.path() + "/HKEY_LOCAL_MACHINE/Key/\xE3\x82\xAD\xE3\x83\xBC")
              .c_str(),
          0755);
  }
  std::string KeyDir() const {
    return dir_.path() + "/HKEY_LOCAL_MACHINE/Key/\xE3\x82\xAD\xE3\x83\xBC";
  }
  ScratchDir dir_;
  EnvVar env_;
};

TEST_F(RegistryTest, ReadsValueUnderCp932Key) {
  WriteFileOrDie(KeyDir() + "/Folder.REG_EXPAND_SZ", std::string("C:\\G\0", 5));
  RegistryKey key;
  ASSERT_EQ(OpenMachineRegistryKey("Key\\\x83\x4C\x81\x5B", &key), 0);
  uint8_t data[16];
  uint32_t size = sizeof(data), type = 0;
  EXPECT_EQ(QueryRegistryValue(key, "Folder", &type, data, &size), 0);
  EXPECT_EQ(type, 2u);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5),
            std::string("C:\\G\0", 5));
  size = sizeof(data);
  EXPECT_NE(QueryRegistryValue(key, "Other", &type, data, &size), 0);
  CloseRegistryKey(key);
  EXPECT_NE(OpenMachineRegistryKey("Key\\Missing", &key), 0);
}

TEST_F(RegistryTest, ValueLongerThanBufferIsMoreData) {
  WriteFileOrDie(KeyDir() + "/V.REG_SZ", std::string(17, 'x'));
  RegistryKey key;
  ASSERT_EQ(OpenMachineRegistryKey("Key\\\x83\x4C\x81\x5B", &key), 0);
  uint8_t data[16];
  uint32_t size = sizeof(data), type = 0;
  EXPECT_EQ(QueryRegistryValue(key, "V", &type, data, &size),
            kRegistryMoreData);
  CloseRegistryKey(key);
}

}  // namespace
