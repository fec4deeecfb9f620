// e2e_hold: plays another program that keeps something taken while the
// updater runs. "mutex NAME" holds a named mutex, as the game does while it
// runs; "file PATH" keeps a file open for reading, shared with readers only,
// as the game does with its data archives. Writes "ready" (or "error ...")
// to standard output once it holds it, and lets go when standard input
// closes. "rename FOLDER WHEN" plays an attacker instead: it says "ready",
// and once the file WHEN exists it renames FOLDER to FOLDER.away and says
// "renamed" (or "refused ERROR").
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

// Says "ready", waits (up to a minute) for when to exist, then renames
// folder away.
int RenameWhen(const wchar_t* folder, const wchar_t* when) {
  Say("ready\n");
  int waited = 0;
  while (GetFileAttributesW(when) == INVALID_FILE_ATTRIBUTES) {
    if (++waited == 60000) {
      Say("never saw it\n");
      return 1;
    }
    Sleep(1);
  }
  wchar_t away[MAX_PATH];
  if (swprintf(away, MAX_PATH, L"%ls.away", folder) < 0) return 2;
  if (MoveFileExW(folder, away, 0)) {
    Say("renamed\n");
    return 0;
  }
  char line[64];
  snprintf(line, sizeof(line), "refused %lu\n", GetLastError());
  Say(line);
  return 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && wcscmp(argv[1], L"rename") == 0) {
    return RenameWhen(argv[2], argv[3]);
  }
  if (argc != 3) {
    Say("error usage: e2e_hold mutex NAME | file PATH | rename FOLDER WHEN\n");
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
