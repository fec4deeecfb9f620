#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/tool_system.h"
#include "platform/wide_text_win32.h"

namespace {

wchar_t g_remove_path[32768];
HANDLE g_remove_open = INVALID_HANDLE_VALUE;
volatile LONG g_remove_set = 0;
// The thread that writes the file: the tool's only one.
HANDLE g_writer = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
  // The event comes on a thread of its own. The writer is stopped first,
  // and GetThreadContext waits until it is: with the handle closed under
  // it, its next write would fail and it would report that and end with
  // its own exit code before this one.
  if (g_writer != nullptr &&
      SuspendThread(g_writer) != static_cast<DWORD>(-1)) {
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(g_writer, &context);
  }
  // The handle shares no deleting: it goes before the file.
  if (g_remove_set) {
    if (g_remove_open != INVALID_HANDLE_VALUE) CloseHandle(g_remove_open);
    DeleteFileW(g_remove_path);
  }
  // Ends as Windows' own handler does, with STATUS_CONTROL_C_EXIT, but
  // without ExitProcess: that flushes the C streams, whose locks the
  // interrupted thread may hold. Wine's own handler would end with 0.
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return FALSE;
}

}  // namespace

std::vector<std::string> ToolArguments(int, char**) {
  UsePathCoding(kToolPaths);
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

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

void RemoveOnInterrupt(const std::string& path, FileHandle open) {
  static bool installed = false;
  if (g_writer == nullptr) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(),
                    GetCurrentProcess(), &g_writer, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
  }
  if (!installed) installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  InterlockedExchange(&g_remove_set, 0);
  std::wstring wide = Wide(path);
  if (wide.empty() || wide.size() >= 32768) return;
  memcpy(g_remove_path, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
  g_remove_open = reinterpret_cast<HANDLE>(open);
  InterlockedExchange(&g_remove_set, 1);
}

void ForgetOnInterrupt() { InterlockedExchange(&g_remove_set, 0); }

bool IsTerminal(FILE* file) { return _isatty(_fileno(file)) != 0; }

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

std::string ShellWord(const std::string& text) {
  // No Windows path holds a double quote; these are what cmd.exe and
  // PowerShell would otherwise split at or read as their own.
  if (!text.empty() &&
      text.find_first_of(" \t&|<>^%;,()'`$@{}") == std::string::npos) {
    return text;
  }
  return "\"" + text + "\"";
}
