#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "tools/mkupdate/tool_os.h"

namespace {

const UINT kCodePage932 = 932;

std::wstring Wide(const std::string& text, UINT code_page = CP_UTF8) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                              static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(n, L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(),
                      static_cast<int>(text.size()), &out[0], n);
  return out;
}

// Converts UTF-16 to the code page; false when a character has no exact
// form there (best fits are refused).
bool Narrow(const std::wstring& wide, UINT code_page, std::string* out) {
  out->clear();
  if (wide.empty()) return true;
  BOOL used_default = FALSE;
  DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* used = code_page == CP_UTF8 ? nullptr : &used_default;
  int n = WideCharToMultiByte(code_page, flags, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, used);
  if (n <= 0 || used_default) return false;
  out->assign(n, '\0');
  WideCharToMultiByte(code_page, flags, wide.data(),
                      static_cast<int>(wide.size()), &(*out)[0], n, nullptr,
                      nullptr);
  return Wide(*out, code_page) == wide;
}

wchar_t g_remove_path[32768];
volatile LONG g_remove_set = 0;

BOOL WINAPI OnConsoleEvent(DWORD) {
  // The file was opened with FILE_SHARE_DELETE, so it can go while open;
  // it disappears when the process ends.
  if (g_remove_set) DeleteFileW(g_remove_path);
  // Ends as Windows' own handler does, with STATUS_CONTROL_C_EXIT, but
  // without ExitProcess: that flushes the C streams, whose locks the
  // interrupted thread may hold. Wine's own handler would end with 0.
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return FALSE;
}

}  // namespace

std::vector<std::string> ToolArguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide != nullptr && i < count; i++) {
    std::string arg;
    Narrow(wide[i], CP_UTF8, &arg);
    args.push_back(arg);
  }
  if (wide != nullptr) LocalFree(wide);
  return args;
}

FILE* OpenFile(const std::string& path, const char* mode) {
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool GetFileId(const std::string& path, FileId* id) {
  HANDLE h =
      CreateFileW(Wide(path).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return false;
  id->volume = info.dwVolumeSerialNumber;
  id->index =
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool ResolvedPath(const std::string& path, std::string* resolved) {
  HANDLE h =
      CreateFileW(Wide(path).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::wstring wide(32768, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, &wide[0], 32768,
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(h);
  if (n == 0 || n >= 32768) return false;
  wide.resize(n);
  // \\?\C:\x is C:\x, and \\?\UNC\server\share is \\server\share.
  if (wide.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    wide = L"\\\\" + wide.substr(8);
  } else if (wide.compare(0, 4, L"\\\\?\\") == 0) {
    wide = wide.substr(4);
  }
  return Narrow(wide, CP_UTF8, resolved);
}

FILE* CreateTempFile(const std::string& folder, const std::string& stem,
                     std::string* path) {
  // CREATE_NEW makes the name ours; on a clash try the next number.
  for (unsigned i = 0; i < 1000; i++) {
    std::string name = folder + "\\" + stem + "." +
                       std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(i) + ".tmp";
    HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (file == nullptr) {
      if (fd < 0)
        CloseHandle(h);
      else
        _close(fd);
      DeleteFileW(Wide(name).c_str());
      return nullptr;
    }
    *path = name;
    return file;
  }
  return nullptr;
}

bool SyncFile(FILE* file) {
  return fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

void StartWriteBack(FILE*) {}

bool MakeExecutable(const std::string&) { return true; }

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(Wide(path).c_str()) != 0;
}

void RemoveOnInterrupt(const std::string& path) {
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  InterlockedExchange(&g_remove_set, 0);
  std::wstring wide = Wide(path);
  if (wide.empty() || wide.size() >= 32768) return;
  memcpy(g_remove_path, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  InterlockedExchange(&g_remove_set, 1);
}

void ForgetOnInterrupt() { InterlockedExchange(&g_remove_set, 0); }

bool IsTerminal(FILE* file) { return _isatty(_fileno(file)) != 0; }

bool TextToCodePage932(const std::string& text, std::string* cp932) {
  std::wstring wide = Wide(text);
  if (wide.empty() != text.empty()) return false;
  return Narrow(wide, kCodePage932, cp932);
}

bool CodePage932ToText(const std::string& cp932, bool, std::string* text) {
  std::wstring wide = Wide(cp932, kCodePage932);
  if (wide.empty() != cp932.empty()) return false;
  return Narrow(wide, CP_UTF8, text);
}

bool TextIsUtf8() { return true; }

void WriteText(FILE* stream, const std::string& text) {
  // A console shows UTF-16 whatever its code page; files and pipes get
  // UTF-8.
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode;
  if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
    fflush(stream);
    std::wstring wide = Wide(text);
    DWORD written;
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written,
                  nullptr);
    return;
  }
  fwrite(text.data(), 1, text.size(), stream);
}

std::string ReaderPath(const std::string& path) {
  std::string narrow;
  return Narrow(Wide(path), CP_ACP, &narrow) ? narrow : std::string();
}

std::string ShellWord(const std::string& text) {
  // No Windows path holds a double quote; these are what cmd.exe and
  // PowerShell would otherwise split at or read as their own.
  if (!text.empty() &&
      text.find_first_of(" \t&|<>^%;,()'`$@{}") == std::string::npos) {
    return text;
  }
  return "\"" + text + "\"";
}
