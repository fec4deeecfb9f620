// e2e_interrupt: plays a publisher who presses Ctrl+C while a console
// program writes. It starts COMMAND in its own console, with standard output
// and error going to LOG, waits until a file matching WATCH (a pattern such
// as C:\out\big.exe.*.tmp) holds at least MIN-BYTES, sends Ctrl+C to the
// console with GenerateConsoleCtrlEvent, as a key press in it does, and
// waits for COMMAND to end. It lives through the event itself.
//
//   e2e_interrupt LOG WATCH MIN-BYTES COMMAND-LINE
//
// When COMMAND has ended, adds its own lines to LOG: "seen NAME BYTES" if
// it sent the event when NAME held BYTES, then "exit 0xCODE", or "error
// ..." lines. Exits 0 only if it sent the event and COMMAND ended. (A
// console's output is the terminal's, so the lines go to LOG.)
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

#include <string>

namespace {

const DWORD kWatchTimeoutMs = 60000;
const DWORD kExitTimeoutMs = 30000;

std::string g_report;

void Report(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  g_report += line;
}

// Writes the report after whatever COMMAND wrote; returns code.
int Finish(HANDLE log, int code) {
  SetFilePointer(log, 0, nullptr, FILE_END);
  DWORD done = 0;
  WriteFile(log, g_report.data(), static_cast<DWORD>(g_report.size()), &done,
            nullptr);
  CloseHandle(log);
  return code;
}

BOOL WINAPI KeepRunning(DWORD) { return TRUE; }

HANDLE OpenLog(const wchar_t* path) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The size of the first file matching the pattern, or -1 when none does.
long long WatchedSize(const wchar_t* pattern, wchar_t* name, size_t n) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(pattern, &found);
  if (h == INVALID_HANDLE_VALUE) return -1;
  FindClose(h);
  wcsncpy(name, found.cFileName, n - 1);
  name[n - 1] = L'\0';
  return (static_cast<long long>(found.nFileSizeHigh) << 32) |
         found.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    fputs("usage: e2e_interrupt LOG WATCH MIN-BYTES COMMAND-LINE\n", stderr);
    return 2;
  }
  long long min_bytes = _wtoi64(argv[3]);
  // Ctrl+C may be ignored by whoever started this; the command inherits
  // the setting, so it is turned back on before it starts.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(KeepRunning, TRUE);
  HANDLE log = OpenLog(argv[1]);
  if (log == INVALID_HANDLE_VALUE) {
    fputs("e2e_interrupt: cannot create the log\n", stderr);
    return 1;
  }
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = log;
  si.hStdError = log;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(nullptr, argv[4], nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &si, &pi)) {
    Report("error cannot start the command (%lu)\n", GetLastError());
    return Finish(log, 1);
  }
  wchar_t name[MAX_PATH];
  long long size = -1;
  DWORD started = GetTickCount();
  while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT &&
         GetTickCount() - started < kWatchTimeoutMs) {
    size = WatchedSize(argv[2], name, MAX_PATH);
    if (size >= min_bytes) break;
  }
  bool sent = false;
  if (size >= min_bytes) {
    sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    if (sent) {
      Report("seen %ls %lld\n", name, size);
    } else {
      Report("error GenerateConsoleCtrlEvent failed (%lu)\n", GetLastError());
    }
  } else {
    Report("error the watched file never held %lld bytes\n", min_bytes);
  }
  if (WaitForSingleObject(pi.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) {
    Report("error the command did not end\n");
    TerminateProcess(pi.hProcess, 1);
    return Finish(log, 1);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  Report("exit 0x%08lX\n", code);
  return Finish(log, sent ? 0 : 1);
}
