// The POSIX stand-in's own contracts: named mutexes that interoperate with
// flock(1), the registry folder tree, and pages for entry data.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "testing/child_process.h"
#include "testing/env_var.h"
#include "testing/scratch_files.h"

namespace {

TEST(NamedMutexTest, HeldByFlockOfAnotherProcess) {
  ScratchDir dir;
  EnvVar runtime("XDG_RUNTIME_DIR", dir.path());
  pid_t holder = HoldFlock(dir.Sub("Test mutex.lock"));
  uint32_t error = 0;
  MutexHandle m = Sys()->CreateNamedMutex("Test mutex", &error);
  EXPECT_NE(m, kNoMutex);
  EXPECT_EQ(error, kErrorAlreadyExists);
  Sys()->CloseNamedMutex(m);
  StopProcess(holder);
  m = Sys()->CreateNamedMutex("Test mutex", &error);
  EXPECT_EQ(error, 0u);
  // While we hold it, flock(1) cannot take it.
  ProcessResult r =
      RunProcess({"flock", "-n", dir.Sub("Test mutex.lock"), "true"}, {});
  EXPECT_NE(r.status, 0);
  Sys()->CloseNamedMutex(m);
  r = RunProcess({"flock", "-n", dir.Sub("Test mutex.lock"), "true"}, {});
  EXPECT_EQ(r.status, 0);
}

TEST(NamedMutexTest, SecondHandleInSameProcessFindsItTaken) {
  ScratchDir dir;
  EnvVar runtime("XDG_RUNTIME_DIR", dir.path());
  uint32_t e1 = 1, e2 = 0;
  MutexHandle a = Sys()->CreateNamedMutex("m", &e1);
  MutexHandle b = Sys()->CreateNamedMutex("m", &e2);
  EXPECT_EQ(e1, 0u);
  EXPECT_EQ(e2, kErrorAlreadyExists);
  Sys()->CloseNamedMutex(b);
  Sys()->CloseNamedMutex(a);
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
  ASSERT_EQ(Sys()->OpenMachineRegistryKey("Key\\\x83\x4C\x81\x5B", &key), 0);
  uint8_t data[16];
  uint32_t size = sizeof(data), type = 0;
  EXPECT_EQ(Sys()->QueryRegistryValue(key, "Folder", &type, data, &size), 0);
  EXPECT_EQ(type, 2u);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 5),
            std::string("C:\\G\0", 5));
  size = sizeof(data);
  EXPECT_NE(Sys()->QueryRegistryValue(key, "Other", &type, data, &size), 0);
  Sys()->CloseRegistryKey(key);
  EXPECT_NE(Sys()->OpenMachineRegistryKey("Key\\Missing", &key), 0);
}

TEST_F(RegistryTest, ValueLongerThanBufferIsMoreData) {
  WriteFileOrDie(KeyDir() + "/V.REG_SZ", std::string(17, 'x'));
  RegistryKey key;
  ASSERT_EQ(Sys()->OpenMachineRegistryKey("Key\\\x83\x4C\x81\x5B", &key), 0);
  uint8_t data[16];
  uint32_t size = sizeof(data), type = 0;
  EXPECT_EQ(Sys()->QueryRegistryValue(key, "V", &type, data, &size),
            kRegistryMoreData);
  Sys()->CloseRegistryKey(key);
}

// The bytes this process has mapped, all mappings together.
uint64_t MappedBytes() {
  FILE* maps = fopen("/proc/self/maps", "r");
  if (maps == nullptr) return 0;
  unsigned long low, high;
  uint64_t total = 0;
  char line[512];
  while (fgets(line, sizeof(line), maps) != nullptr) {
    if (sscanf(line, "%lx-%lx", &low, &high) == 2) total += high - low;
  }
  fclose(maps);
  return total;
}

TEST(PagesTest, LargeBuffersStartOnAHugePageAndKeepNoSlack) {
  const uintptr_t kHugePage = 2u << 20;
  EXPECT_EQ(Sys()->AllocatePages(0), nullptr);
  for (size_t size : {size_t{1}, size_t{4096}, size_t{(2u << 20) - 1},
                      size_t{2u << 20}, size_t{(5u << 20) + 123}}) {
    uint64_t before = MappedBytes();
    uint8_t* pages = static_cast<uint8_t*>(Sys()->AllocatePages(size));
    uint64_t during = MappedBytes();
    ASSERT_NE(pages, nullptr) << size;
    if (size >= kHugePage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % kHugePage, 0u) << size;
    }
    // Exactly the pages asked for: the slack taken to align them is gone.
    EXPECT_EQ(during - before, (size + 4095) / 4096 * 4096) << size;
    memset(pages, 0xA5, size);  // every byte of it is ours
    EXPECT_EQ(pages[size - 1], 0xA5);
    Sys()->FreePages(pages, size);
    EXPECT_EQ(MappedBytes(), before) << size;
  }
}

}  // namespace
