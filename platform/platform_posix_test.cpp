// The POSIX stand-in's own contracts: names in code page 932 on a UTF-8
// disk, named mutexes that interoperate with flock(1), the registry folder
// tree, and pages for entry data.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "testing/child_process.h"
#include "testing/env_var.h"
#include "testing/scratch_files.h"

namespace {

int AddName(void* names, const char* name, PathKind) {
  static_cast<std::vector<std::string>*>(names)->push_back(name);
  return 0;
}

// The names in the held folder as the platform lists them, sorted.
std::vector<std::string> Listed(FolderHandle folder) {
  std::vector<std::string> names;
  EXPECT_NE(Sys()->ListFolder(folder, AddName, &names), 0);
  std::sort(names.begin(), names.end());
  return names;
}

// The updater's names are code page 932, this disk's UTF-8, as Windows'
// are UTF-16: a listing gives only the names that have an exact code page
// 932 form, as Windows gives a narrow caller; a name that is no code page
// 932 text names nothing and makes nothing; a 0x5C that ends a character
// separates nothing. mkupdate's own paths are the disk's bytes.
TEST(StandInNamesTest, CodePage932OnAUtf8Disk) {
  ScratchDir dir;
  const char kLumen[] = "\xE3\x83\xAB\xE3\x83\xBC\xE3\x83\xA1\xE3\x83\xB3";
  const char kLumenCp[] = "\x83\x8B\x81\x5B\x83\x81\x83\x93";
  const char kSoft[] = "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88";  // ソフト
  const char kSoftCp[] = "\x83\x5C\x83\x74\x83\x67";
  for (const char* disk : {kLumen, "plain", "Zo\xC3\xAB",  // ë: no 932 form
                           "a\\b",                         // no Windows name
                           "\xE3\x80\x9C"}) {  // 〜 becomes ～ and back
    WriteFileOrDie(dir.Sub(disk), disk);
  }
  ASSERT_EQ(mkdir(dir.Sub(kSoft).c_str(), 0755), 0);
  WriteFileOrDie(dir.Sub(kSoft) + "/x", "x");
  FolderHandle root = Sys()->OpenFolder(kNoFolder, dir.path().c_str());
  ASSERT_NE(root, kNoFolder);
  EXPECT_EQ(Listed(root),
            (std::vector<std::string>{"plain", kSoftCp, kLumenCp}));

  // Refused, as no code page 932 text: a lone lead byte, a byte that is no
  // character; and a backslash, a separator, in one part.
  for (const char* name : {"\x83", "a\x80", "\xFF", "new\\x"}) {
    FileHandle file = Sys()->CreateNewFile(root, name);
    EXPECT_EQ(file, kInvalidFileHandle) << name;
    if (file != kInvalidFileHandle) Sys()->CloseFileHandle(file);
    EXPECT_EQ(Sys()->LastFileError(), kFileErrorOther) << name;
    EXPECT_EQ(Sys()->OpenFolder(root, name), kNoFolder) << name;
  }
  EXPECT_EQ(Listed(root).size(), 3u) << "a refused name made a file";

  // Through a path too, with the 0x5C inside ソ.
  std::string soft = dir.path() + "\\" + kSoftCp;
  FolderHandle held = Sys()->OpenFolder(kNoFolder, soft.c_str());
  ASSERT_NE(held, kNoFolder);
  EXPECT_EQ(Listed(held), std::vector<std::string>{"x"});
  Sys()->CloseFolder(held);
  held = Sys()->OpenFolderOf((soft + "\\x").c_str());
  EXPECT_EQ(Sys()->GetPathKind(held, "x"), kPathFile);
  Sys()->CloseFolder(held);
  FileHandle file = Sys()->OpenFileForRead(root, kLumenCp);
  ASSERT_NE(file, kInvalidFileHandle);
  char data[32] = {};
  EXPECT_EQ(Sys()->ReadFileBytes(file, data, sizeof(data) - 1), strlen(kLumen));
  EXPECT_STREQ(data, kLumen);
  Sys()->CloseFileHandle(file);

  // The tool's paths are taken as they are, a backslash a character.
  UsePathCoding(kToolPaths);
  file = Sys()->CreateNewFile(kNoFolder, dir.Sub("c\\d").c_str());
  EXPECT_NE(file, kInvalidFileHandle);
  if (file != kInvalidFileHandle) Sys()->CloseFileHandle(file);
  std::vector<std::string> raw = Listed(root);
  UsePathCoding(kUpdaterPaths);
  EXPECT_EQ(raw.size(), 7u);
  EXPECT_TRUE(FileExists(dir.Sub("c\\d")));
  Sys()->CloseFolder(root);
}

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
