// e2e_contract: the platform contract (testing/platform_contract.h) on the
// Win32 backend, run under Wine by scripts/wine/scenarios_test.py.
//
//   e2e_contract C:\contract [DIFFERENCES]   every case, in C:\contract\<case>
//   e2e_contract --rename FROM TO            another process's rename
//
// "cases N", then one line per case: "ok NAME" or "FAIL NAME: what it
// did". Wine makes no
// symbolic links itself, so a case that needs one asks the harness on
// stdout ("LINK C:\contract\case\name target") and waits for its "ok" on
// stdin. Exits 0 when every case held.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/platform_contract.h"

namespace {

class Win32Scene : public ContractScene {
 public:
  Win32Scene(const std::string& root, const char* self)
      : root_(root), self_(self) {
    CreateDirectoryA(root_.c_str(), nullptr);
  }
  ~Win32Scene() override { ReleaseOther(); }
  std::string Root() override { return root_; }
  bool MakeFile(const std::string& name, const std::string& data,
                bool read_only) override {
    HANDLE h = CreateFileA(Path(name).c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()),
                        &written, nullptr);
    CloseHandle(h);
    return ok && written == data.size() &&
           (!read_only ||
            SetFileAttributesA(Path(name).c_str(), FILE_ATTRIBUTE_READONLY));
  }
  bool MakeFolder(const std::string& name) override {
    return CreateDirectoryA(Path(name).c_str(), nullptr) != 0;
  }
  bool MakeLink(const std::string& name, const std::string& target) override {
    printf("LINK %s %s\n", Path(name).c_str(), target.c_str());
    fflush(stdout);
    char answer[16];
    return fgets(answer, sizeof(answer), stdin) != nullptr &&
           strncmp(answer, "ok", 2) == 0;
  }
  bool MakeHardLink(const std::string& name,
                    const std::string& existing) override {
    return CreateHardLinkA(Path(name).c_str(), Path(existing).c_str(),
                           nullptr) != 0;
  }
  bool IsReadOnly(const std::string& name) override {
    DWORD attributes = GetFileAttributesA(Path(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  }
  std::string Read(const std::string& name) override {
    HANDLE h =
        CreateFileA(Path(name).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string data;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &n, nullptr) && n > 0) {
      data.append(buffer, n);
    }
    CloseHandle(h);
    return data;
  }
  // A handle of this process stands for another's: Windows checks sharing
  // between handles, whoever holds them.
  bool HoldAsOther(const std::string& name) override {
    HANDLE h = CreateFileA(Path(name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    held_.push_back(h);
    return true;
  }
  void ReleaseOther() override {
    for (HANDLE h : held_) CloseHandle(h);
    held_.clear();
  }
  // A rename is asked of another process: this program, started again.
  bool RenameAsOther(const std::string& from, const std::string& to) override {
    std::string command = "\"" + std::string(self_) + "\" --rename \"" +
                          Path(from) + "\" \"" + Path(to) + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
      return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
  }

 private:
  std::string Path(const std::string& name) { return root_ + "\\" + name; }
  std::string root_;
  const char* self_;
  std::vector<HANDLE> held_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "--rename") == 0) {
    return MoveFileA(argv[2], argv[3]) ? 0 : 1;
  }
  if (argc < 2) {
    fprintf(stderr, "usage: e2e_contract ROOT [DIFFERENCES]\n");
    return 2;
  }
  int differences = argc > 2 ? atoi(argv[2]) : 0;
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return 2;
  CreateDirectoryA(argv[1], nullptr);
  printf("cases %d\n", kContractCaseCount);
  int failed = 0;
  for (int i = 0; i < kContractCaseCount; i++) {
    const ContractCase& c = kContractCases[i];
    Win32Scene scene(std::string(argv[1]) + "\\" + c.name, self);
    std::string why = c.run(SystemPlatform(), &scene, differences);
    if (why.empty()) {
      printf("ok %s\n", c.name);
    } else {
      printf("FAIL %s: %s\n", c.name, why.c_str());
      failed++;
    }
    fflush(stdout);
  }
  return failed == 0 ? 0 : 1;
}
