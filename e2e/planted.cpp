// planted.dll: a DLL an attacker could leave beside an update, copied by
// scripts/ci/40-wine.sh under the name of each DLL the updater loads. When
// a process loads it, it leaves a mark, C:\planted\NAME.loaded (NAME being
// the file name it was loaded under), and lets the load go on.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  const wchar_t* name = path + n;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  wchar_t mark[MAX_PATH] = L"C:\\planted\\";
  if (lstrlenW(mark) + lstrlenW(name) + 8 > MAX_PATH) return TRUE;
  lstrcatW(mark, name);
  lstrcatW(mark, L".loaded");
  HANDLE h = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return TRUE;
}
