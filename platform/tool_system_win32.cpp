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
volatile LONG g_remove_folder = 0;
// The thread that writes the file: the tool's only one.
HANDLE g_writer = nullptr;

// Removes the folder at g_remove_path (length characters of it) and what is
// in it, without memory from the heap, whose lock the stopped thread may
// hold. What a handle holds stays; the next run removes it. depth bounds
// how far down it goes.
void RemoveTreeAt(size_t length, int depth) {
  if (depth < 0 || length + 3 >= 32768) return;
  wcscpy(g_remove_path + length, L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(g_remove_path, &found);
  g_remove_path[length] = L'\0';
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (wcscmp(found.cFileName, L".") == 0 ||
          wcscmp(found.cFileName, L"..") == 0) {
        continue;
      }
      size_t name = wcslen(found.cFileName);
      if (length + 1 + name >= 32768) continue;
      g_remove_path[length] = L'\\';
      wcscpy(g_remove_path + length + 1, found.cFileName);
      DWORD a = found.dwFileAttributes;
      if ((a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        RemoveTreeAt(length + 1 + name, depth - 1);
      } else if ((a & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveDirectoryW(g_remove_path);  // a junction, never entered
      } else {
        SetFileAttributesW(g_remove_path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(g_remove_path);
      }
      g_remove_path[length] = L'\0';
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  RemoveDirectoryW(g_remove_path);
}

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
  if (g_remove_set && g_remove_folder) {
    RemoveTreeAt(wcslen(g_remove_path), 64);
  } else if (g_remove_set) {
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

bool ProcessStartTime(unsigned long pid, uint64_t* start) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    // Denied: someone else's process, running.
    *start = kStartUnknown;
    return GetLastError() == ERROR_ACCESS_DENIED;
  }
  FILETIME created, exited, kernel, user;
  DWORD code = 0;
  bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  *start = kStartUnknown;
  if (GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    *start = (static_cast<uint64_t>(created.dwHighDateTime) << 32) |
             created.dwLowDateTime;
  }
  CloseHandle(process);
  return running;
}

bool IsOwnFolder(const std::string& path) {
  DWORD a = GetFileAttributesW(Wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (a & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool OwnExecutablePath(std::string* path) {
  std::wstring wide(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, &wide[0], 32768);
  if (n == 0 || n >= 32768) return false;
  wide.resize(n);
  return Narrow(wide, CP_UTF8, path);
}

SystemError LastSystemError() {
  SystemError error;
  DWORD code = GetLastError();
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0,
                 nullptr);
  std::wstring wide = text != nullptr ? text : L"";
  if (text != nullptr) LocalFree(text);
  while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' ||
                           wide.back() == L'.')) {
    wide.pop_back();
  }
  if (wide.empty() || !Narrow(wide, CP_UTF8, &error.text)) {
    error.text = "system error " + std::to_string(code);
  }
  error.machine = code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
                  code == ERROR_WRITE_PROTECT || code == ERROR_IO_DEVICE ||
                  code == ERROR_CRC || code == ERROR_NOT_ENOUGH_MEMORY ||
                  code == ERROR_OUTOFMEMORY ||
                  code == ERROR_TOO_MANY_OPEN_FILES;
  return error;
}

namespace {

void SetRemovePath(const std::string& path, FileHandle open, bool folder) {
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
  InterlockedExchange(&g_remove_folder, folder ? 1 : 0);
  InterlockedExchange(&g_remove_set, 1);
}

}  // namespace

void RemoveOnInterrupt(const std::string& path, FileHandle open) {
  SetRemovePath(path, open, false);
}

void RemoveFolderOnInterrupt(const std::string& path) {
  SetRemovePath(path, kInvalidFileHandle, true);
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
