// e2e_hold: plays another program that keeps something taken while the
// updater runs. "mutex NAME" holds a named mutex, as the game does while it
// runs; "file PATH" keeps a file open for reading, shared with readers only,
// as the game does with its data archives. Writes "ready" (or "error ...")
// to standard output once it holds it, and lets go when standard input
// closes.
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

namespace {

void Say(const char* line) {
  DWORD done = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, lstrlenA(line), &done,
            nullptr);
}

void WaitForInputToClose() {
  char byte;
  DWORD done = 0;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(in, &byte, 1, &done, nullptr) && done != 0) {
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    Say("error usage: e2e_hold mutex NAME | file PATH\n");
    return 2;
  }
  HANDLE held = nullptr;
  char line[64];
  if (wcscmp(argv[1], L"mutex") == 0) {
    held = CreateMutexW(nullptr, TRUE, argv[2]);
    DWORD error = GetLastError();
    if (held == nullptr || error != 0) {
      snprintf(line, sizeof(line), "error mutex %lu\n", error);
      Say(line);
      return 1;
    }
  } else if (wcscmp(argv[1], L"file") == 0) {
    held = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
      snprintf(line, sizeof(line), "error file %lu\n", GetLastError());
      Say(line);
      return 1;
    }
  } else {
    Say("error unknown kind\n");
    return 2;
  }
  Say("ready\n");
  WaitForInputToClose();
  CloseHandle(held);
  return 0;
}
