// The platform contract (testing/platform_contract.h) on the fake and on the
// POSIX stand-in; e2e/contract.cpp runs it on the Win32 backend under Wine.
#include "testing/platform_contract.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "platform/code_units.h"
#include "testing/fake_platform.h"
#include "testing/scratch_files.h"

namespace {

class FakeScene : public ContractScene {
 public:
  explicit FakeScene(FakePlatform* fake) : fake_(fake) {
    fake_->AddFolder(root_);
    fake_->SetOwnExecutable("C:\\Downloads\\setup.exe", "MZ the image");
  }
  std::string Root() override { return root_; }
  bool MakeFile(const std::string& name, const std::string& data,
                bool read_only) override {
    fake_->AddFile(Path(name), data, read_only);
    return true;
  }
  bool MakeFolder(const std::string& name) override {
    fake_->AddFolder(Path(name));
    return true;
  }
  bool MakeLink(const std::string& name, const std::string& target) override {
    std::string path = Path(name);
    fake_->AddLink(path, path.substr(0, path.rfind('\\') + 1) + target);
    return true;
  }
  bool MakeHardLink(const std::string& name,
                    const std::string& existing) override {
    fake_->AddHardLink(Path(name), Path(existing));
    return true;
  }
  bool IsReadOnly(const std::string& name) override {
    return fake_->IsReadOnly(Path(name));
  }
  std::string Read(const std::string& name) override {
    return fake_->KindOf(Path(name)) == kPathMissing
               ? "<missing>"
               : fake_->DataOf(Path(name));
  }
  bool HoldAsOther(const std::string& name) override {
    fake_->HoldFile(Path(name), 0);
    return true;
  }
  void ReleaseOther() override { fake_->ReleaseFiles(); }
  bool RenameAsOther(const std::string& from, const std::string& to) override {
    return fake_->MoveAsOther(Path(from), Path(to)) != 0;
  }

 private:
  std::string Path(const std::string& name) { return root_ + "\\" + name; }
  FakePlatform* fake_;
  std::string root_ = "C:\\Contract";
};

class PosixScene : public ContractScene {
 public:
  ~PosixScene() override { ReleaseOther(); }
  std::string Root() override { return dir_.path(); }
  bool MakeFile(const std::string& name, const std::string& data,
                bool read_only) override {
    WriteFileOrDie(Path(name), data);
    return !read_only || chmod(Path(name).c_str(), 0444) == 0;
  }
  bool MakeFolder(const std::string& name) override {
    return mkdir(Path(name).c_str(), 0755) == 0;
  }
  bool MakeLink(const std::string& name, const std::string& target) override {
    return symlink(target.c_str(), Path(name).c_str()) == 0;
  }
  bool MakeHardLink(const std::string& name,
                    const std::string& existing) override {
    return link(Path(existing).c_str(), Path(name).c_str()) == 0;
  }
  bool IsReadOnly(const std::string& name) override {
    struct stat st;
    return stat(Path(name).c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
  }
  std::string Read(const std::string& name) override {
    return access(Path(name).c_str(), F_OK) == 0 ? ReadFileOrEmpty(Path(name))
                                                 : "<missing>";
  }
  bool HoldAsOther(const std::string& name) override {
    int fd = open(Path(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    held_.push_back(fd);
    return flock(fd, LOCK_SH) == 0;
  }
  void ReleaseOther() override {
    for (int fd : held_) close(fd);
    held_.clear();
  }
  bool RenameAsOther(const std::string& from, const std::string& to) override {
    return rename(Path(from).c_str(), Path(to).c_str()) == 0;
  }

 private:
  // The disk's name: UTF-8, a slash between parts.
  std::string Path(const std::string& name) {
    char disk[4096];
    int n = CodePage932ToUtf8(name.data(), name.size(), disk, sizeof(disk));
    std::string utf8(disk, n > 0 ? n : 0);
    for (char& c : utf8) c = c == '\\' ? '/' : c;
    return dir_.Sub(utf8);
  }
  ScratchDir dir_;
  std::vector<int> held_;
};

class PlatformContractTest
    : public ::testing::TestWithParam<std::tuple<bool, int>> {};

TEST_P(PlatformContractTest, Holds) {
  bool fake = std::get<0>(GetParam());
  const ContractCase& c = kContractCases[std::get<1>(GetParam())];
  if (fake) {
    FakePlatform platform;
    FakeScene scene(&platform);
    EXPECT_EQ(c.run(&platform, &scene, 0), "");
    EXPECT_EQ(platform.OpenHandles(), 0u);
  } else {
    // The POSIX stand-in tells names apart by case, lets a held folder be
    // renamed (its descriptor follows), and removes a file another holds.
    PosixScene scene;
    EXPECT_EQ(c.run(SystemPlatform(), &scene,
                    kCaseSensitiveNames | kHeldFolderFollowsRename |
                        kHeldFileRemovable),
              "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Backends, PlatformContractTest,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Range(0, kContractCaseCount)),
    [](const ::testing::TestParamInfo<std::tuple<bool, int>>& info) {
      return std::string(std::get<0>(info.param) ? "Fake_" : "Posix_") +
             kContractCases[std::get<1>(info.param)].name;
    });

}  // namespace
