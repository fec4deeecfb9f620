// e2e_driver: runs the updater as a user would and checks what the user
// sees. It starts the updater, waits for each message box, compares caption
// and text (read back as Unicode) with the Japanese the user must see,
// identifies the icon by its pixels, checks the buttons and the default one,
// presses the button asked for, and reports the full 32-bit exit code.
//
//   e2e_driver [options] UPDATER
//     --box KIND:TEXT:PRESS  the next box expected, in order; KIND is info,
//                            warning or question; TEXT a key of kTexts;
//                            PRESS ok, yes, no, or enter (the default button)
//     --exit CODE            the exit code expected (0x80000003, -3, ...)
//     --hold-mutex NAME      another process holds this mutex meanwhile
//     --hold-file PATH       another process keeps this file open meanwhile
//     --release-after-ms N   ... but lets go of it N ms after the first box
//                            is answered, as a scanner holds a file for a
//                            moment
//     --second               at the question, start a second updater: it must
//                            end at once, without a window, with -4
//     --swap-own OTHER       at the question, play another program: rename
//                            the updater's file to UPDATER.away and copy OTHER
//                            to its name; say what it could do ("own file:
//                            renamed", "own file: rename refused N")
//     --swap-own-at-start OTHER  the same while the updater is created
//                            suspended, before its first instruction
//     --readonly PATH        PATH must be read-only and refuse writing
//                            before the run, and be writable after it
//     --timed                look for the box after a press every
//                            millisecond, and print how long it took to
//                            come ("box N after M ms"): for the benchmark
//     --shots NAME           a shell listens on standard output and
//                            answers each request with a line on standard
//                            input: "SHOT NAME-N-TEXT X Y W H" asks for a
//                            screenshot of every box, "KEY Return" for a
//                            real key press (without it, Enter is posted)
//
// Prints one line per check; exits 0 only if every check passed.
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

const DWORD kBoxTimeoutMs = 15000;
const DWORD kSecondUpdaterTimeoutMs = 10000;
// A second updater must end "at once": well within this, even under Wine.
const DWORD kSecondUpdaterAtOnceMs = 3000;
const DWORD kPollMs = 50;
// The exit code of an updater ended by --kill-after-ms.
const UINT kTerminatedCode = 0xDEAD;
const wchar_t kEngineMutexName[] = L"Varnelix for Lumenhollow is executing.";
const wchar_t kCaption[] = L"「ルーメンホロウ」 Updater ver 1.00";

struct ExpectedText {
  const char* key;
  const wchar_t* words;
  int ideographic_spaces;  // U+3000 after the words
};

const ExpectedText kTexts[] = {
    {"busy",
     L"ゲーム、ランチャー、アンインストーラーのいずれかが実行中なのでアップデー"
     L"トを行えません",
     0},
    {"notinstalled", L"ゲームがインストールされていません", 9},
    {"confirm", L"アップデートを行いますか？", 13},
    {"done", L"アップデートが完了しました", 13},
    {"corrupt", L"アップデートプログラムが破損している可能性があります", 0},
    {"failed", L"何らかの要因によりアップデートが行えません", 5},
    {"uninstallfailed", L"アンインストレーションファイルの更新に失敗しました",
     1},
};

struct Step {
  std::string kind;
  std::string text;
  std::string press;
};

struct Options {
  std::wstring updater;
  std::vector<Step> steps;
  bool check_exit = false;
  DWORD exit_code = 0;
  std::wstring hold_mutex;
  std::wstring hold_file;
  std::wstring readonly;
  bool second = false;
  std::wstring swap_own;
  bool swap_at_start = false;
  bool timed = false;
  // When nonzero: the updater is ended by TerminateProcess this long after
  // the last expected box was answered, as the task manager would end it.
  DWORD kill_after_ms = 0;
  DWORD release_after_ms = 0;
  std::string shots;
};

int g_failures = 0;

void Out(const std::string& s) {
  DWORD done = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(),
            static_cast<DWORD>(s.size()), &done, nullptr);
}

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                              nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0],
                      n, nullptr, nullptr);
  return s;
}

std::string Hex(DWORD v) {
  char buf[16];
  snprintf(buf, sizeof(buf), "0x%08lX", v);
  return buf;
}

void Check(bool ok, const std::string& what) {
  Out(std::string(ok ? "ok    " : "FAIL  ") + what + "\n");
  if (!ok) ++g_failures;
}

// Renders a string with its ideographic spaces counted, so that a wrong
// count of padding is visible in the output.
std::string Shown(const std::wstring& w) {
  size_t end = w.size();
  while (end > 0 && w[end - 1] == L'\u3000') --end;
  return "\"" + Utf8(w.substr(0, end)) + "\" + " +
         std::to_string(w.size() - end) + " x U+3000";
}

const ExpectedText* FindText(const std::string& key) {
  for (const ExpectedText& t : kTexts) {
    if (key == t.key) return &t;
  }
  return nullptr;
}

std::wstring Expected(const ExpectedText& t) {
  return std::wstring(t.words) + std::wstring(t.ideographic_spaces, L'\u3000');
}

std::wstring WindowText(HWND hwnd) {
  wchar_t buf[1024];
  int n = GetWindowTextW(hwnd, buf, 1024);
  return std::wstring(buf, n > 0 ? n : 0);
}

std::wstring ClassName(HWND hwnd) {
  wchar_t buf[256];
  int n = GetClassNameW(hwnd, buf, 256);
  return std::wstring(buf, n > 0 ? n : 0);
}

// --- processes --------------------------------------------------------

PROCESS_INFORMATION StartProcess(const std::wstring& exe, DWORD flags = 0) {
  std::wstring command = L"\"" + exe + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, flags,
                      nullptr, nullptr, &si, &pi)) {
    Check(false,
          "start " + Utf8(exe) + ": error " + std::to_string(GetLastError()));
  }
  return pi;
}

struct Holder {
  PROCESS_INFORMATION pi = {};
  HANDLE to_child = nullptr;
};

// Starts e2e_hold beside this program and waits until it holds what it was
// asked to. It lets go when its input pipe is closed by StopHolder.
bool StartHolder(const wchar_t* kind, const std::wstring& what,
                 Holder* holder) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring exe(self);
  exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"e2e_hold.exe";
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write;
  CreatePipe(&in_read, &in_write, &sa, 0);
  CreatePipe(&out_read, &out_write, &sa, 0);
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_read;
  si.hStdOutput = out_write;
  si.hStdError = out_write;
  std::wstring command = L"\"" + exe + L"\" " + kind + L" \"" + what + L"\"";
  BOOL started = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr,
                                TRUE, 0, nullptr, nullptr, &si, &holder->pi);
  CloseHandle(in_read);
  CloseHandle(out_write);
  holder->to_child = in_write;
  std::string reply;
  char c;
  DWORD done = 0;
  while (started && ReadFile(out_read, &c, 1, &done, nullptr) && done == 1 &&
         c != '\n') {
    reply += c;
  }
  CloseHandle(out_read);
  Check(reply == "ready", "another process holds " + Utf8(what) + " (" +
                              (started ? reply : "not started") + ")");
  return reply == "ready";
}

// The holder of --hold-file and when it lets go, for the thread that ends
// the hold early.
Holder* g_holder = nullptr;
DWORD g_release_after_ms = 0;

DWORD WINAPI ReleaseLater(void*) {
  Sleep(g_release_after_ms);
  HANDLE pipe = InterlockedExchangePointer(&g_holder->to_child, nullptr);
  if (pipe != nullptr) CloseHandle(pipe);
  return 0;
}

void StopHolder(Holder* holder) {
  HANDLE pipe = InterlockedExchangePointer(&holder->to_child, nullptr);
  if (pipe != nullptr) CloseHandle(pipe);
  if (holder->pi.hProcess != nullptr) {
    WaitForSingleObject(holder->pi.hProcess, 5000);
    CloseHandle(holder->pi.hProcess);
    CloseHandle(holder->pi.hThread);
  }
}

// --- message boxes ----------------------------------------------------

struct FindBoxState {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FindBoxProc(HWND hwnd, LPARAM param) {
  FindBoxState* state = reinterpret_cast<FindBoxState*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == state->pid && IsWindowVisible(hwnd) &&
      ClassName(hwnd) == L"#32770") {
    state->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindBox(DWORD pid) {
  FindBoxState state = {pid, nullptr};
  EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&state));
  return state.found;
}

// Waits for a message box of the process; null if the process ends first or
// the time runs out.
HWND WaitForBox(HANDLE process, DWORD pid, DWORD timeout_ms, DWORD poll_ms) {
  for (DWORD waited = 0; waited < timeout_ms; waited += poll_ms) {
    HWND box = FindBox(pid);
    if (box != nullptr) return box;
    if (WaitForSingleObject(process, poll_ms) == WAIT_OBJECT_0) {
      return FindBox(pid);
    }
  }
  return nullptr;
}

struct BoxParts {
  HWND text = nullptr;
  HWND icon = nullptr;
  std::vector<HWND> buttons;  // visible ones, in creation order
};

BOOL CALLBACK CollectPartsProc(HWND hwnd, LPARAM param) {
  BoxParts* parts = reinterpret_cast<BoxParts*>(param);
  std::wstring cls = ClassName(hwnd);
  LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  if (_wcsicmp(cls.c_str(), L"Static") == 0) {
    if ((style & SS_TYPEMASK) == SS_ICON) {
      parts->icon = hwnd;
    } else if (parts->text == nullptr && !WindowText(hwnd).empty()) {
      parts->text = hwnd;
    }
  } else if (_wcsicmp(cls.c_str(), L"Button") == 0 && IsWindowVisible(hwnd)) {
    parts->buttons.push_back(hwnd);
  }
  return TRUE;
}

// A bitmap's pixels as 32-bit RGB values, top row first.
std::vector<DWORD> ReadBitmap(HBITMAP bmp, int w, int h) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(static_cast<size_t>(w) * h);
  HDC dc = CreateCompatibleDC(nullptr);
  GetDIBits(dc, bmp, 0, h, pixels.data(), &bi, DIB_RGB_COLORS);
  DeleteDC(dc);
  for (DWORD& p : pixels) p &= 0xFFFFFF;
  return pixels;
}

// Draws into a new w x h bitmap and returns its pixels; draw gets a DC
// with the bitmap selected.
template <typename Draw>
std::vector<DWORD> Pixels(int w, int h, Draw draw) {
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(mem, bmp);
  draw(mem);
  SelectObject(mem, old);
  DeleteDC(mem);
  std::vector<DWORD> pixels = ReadBitmap(bmp, w, h);
  DeleteObject(bmp);
  return pixels;
}

// What the screen shows in the given rectangle.
std::vector<DWORD> CaptureScreen(const RECT& r) {
  int w = r.right - r.left, h = r.bottom - r.top;
  return Pixels(w, h, [&](HDC mem) {
    HDC screen = GetDC(nullptr);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, screen);
  });
}

// A system icon drawn the way the box draws it, over the given background.
std::vector<DWORD> RenderIcon(LPCWSTR id, int w, int h, COLORREF background) {
  return Pixels(w, h, [&](HDC mem) {
    HBRUSH brush = CreateSolidBrush(background);
    RECT r = {0, 0, w, h};
    FillRect(mem, &r, brush);
    DeleteObject(brush);
    DrawIconEx(mem, 0, 0, LoadIconW(nullptr, id), w, h, 0, nullptr, DI_NORMAL);
  });
}

// Names the system icon that the box's icon control shows, by comparing its
// pixels on the screen with each candidate drawn over the same background.
std::string IdentifyIcon(HWND icon) {
  struct Candidate {
    const char* name;
    LPCWSTR id;
  };
  const Candidate kCandidates[] = {{"information", IDI_INFORMATION},
                                   {"warning", IDI_WARNING},
                                   {"question", IDI_QUESTION},
                                   {"error", IDI_ERROR}};
  RECT r;
  GetWindowRect(icon, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return "none";
  // The box may still be painting: look again for a while.
  for (int attempt = 0; attempt < 40; ++attempt) {
    std::vector<DWORD> shown = CaptureScreen(r);
    DWORD bg = shown[0];
    COLORREF bg_ref = RGB((bg >> 16) & 0xFF, (bg >> 8) & 0xFF, bg & 0xFF);
    for (const Candidate& c : kCandidates) {
      if (RenderIcon(c.id, w, h, bg_ref) == shown) return c.name;
    }
    Sleep(kPollMs);
  }
  return "unknown";
}

std::string ExpectedIcon(const std::string& kind) {
  return kind == "info" ? "information" : kind;
}

void CheckButtons(HWND box, const BoxParts& parts, const Step& step) {
  std::vector<int> ids;
  int default_style_id = 0;
  for (HWND b : parts.buttons) {
    ids.push_back(GetDlgCtrlID(b));
    if ((GetWindowLongW(b, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
      default_style_id = GetDlgCtrlID(b);
    }
  }
  std::vector<int> want;
  int want_default;
  if (step.kind == "question") {
    want = {IDYES, IDNO};
    want_default = IDNO;
  } else {
    want = {IDOK};
    want_default = IDOK;
  }
  std::string got;
  for (int id : ids) got += " " + std::to_string(id);
  Check(ids == want, "buttons (ids" + got + ")");
  // The default button is the one drawn as default that holds the focus:
  // Enter and the space bar press it. (Wine's boxes answer DM_GETDEFID with
  // IDOK whatever the style; it is shown, not checked.)
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info);
  int focus_id = info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0;
  DWORD_PTR def = 0;
  SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_BLOCK, 5000, &def);
  Check(default_style_id == want_default && focus_id == want_default,
        "default button " + std::to_string(default_style_id) + " (focus " +
            std::to_string(focus_id) + ", DM_GETDEFID " +
            std::to_string(LOWORD(def)) + ")");
}

void CheckEngineMutexTaken() {
  HANDLE h = CreateMutexW(nullptr, FALSE, kEngineMutexName);
  DWORD error = GetLastError();
  if (h != nullptr) CloseHandle(h);
  Check(error == ERROR_ALREADY_EXISTS,
        "the game would find its mutex taken (error " + std::to_string(error) +
            ")");
}

void RunSecondUpdater(const std::wstring& updater) {
  DWORD start = GetTickCount();
  PROCESS_INFORMATION pi = StartProcess(updater);
  if (pi.hProcess == nullptr) return;
  HWND window = nullptr;
  DWORD waited = 0;
  while (WaitForSingleObject(pi.hProcess, kPollMs) == WAIT_TIMEOUT &&
         waited < kSecondUpdaterTimeoutMs) {
    waited += kPollMs;
    if (window == nullptr) window = FindBox(pi.dwProcessId);
  }
  DWORD elapsed = GetTickCount() - start;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(pi.hProcess, &code);
  if (code == STILL_ACTIVE) TerminateProcess(pi.hProcess, 1);
  Check(code == 0xFFFFFFFCu && elapsed < kSecondUpdaterAtOnceMs,
        "second updater ended with " + Hex(code) + " after " +
            std::to_string(elapsed) + " ms");
  Check(window == nullptr, "second updater showed no window");
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

// Another program at the updater's own file: renamed away, and OTHER copied
// to its name. Says what it could do.
void SwapOwnFile(const Options& options) {
  std::wstring away = options.updater + L".away";
  if (!MoveFileExW(options.updater.c_str(), away.c_str(), 0)) {
    Out("own file: rename refused " + std::to_string(GetLastError()) + "\n");
    return;
  }
  bool copied =
      CopyFileW(options.swap_own.c_str(), options.updater.c_str(), TRUE) != 0;
  Out(std::string("own file: renamed") +
      (copied ? ", another copied\n" : ", nothing copied\n"));
}

// Sends one request to the listening shell and waits for its answer.
void AskShell(const std::string& request) {
  Out(request + "\n");
  char c;
  DWORD done = 0;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(in, &c, 1, &done, nullptr) && done == 1 && c != '\n') {
  }
}

void Screenshot(const Options& options, int index, const Step& step, HWND box) {
  if (options.shots.empty()) return;
  RECT r;
  GetWindowRect(box, &r);
  char line[256];
  snprintf(line, sizeof(line), "SHOT %s-%d-%s %ld %ld %ld %ld",
           options.shots.c_str(), index, step.text.c_str(), r.left, r.top,
           r.right - r.left, r.bottom - r.top);
  AskShell(line);
}

void Press(const Options& options, HWND box, const BoxParts& parts,
           const std::string& press) {
  if (press == "enter") {
    // The user's Enter key: the box itself picks the default button.
    if (!options.shots.empty()) {
      AskShell("KEY Return");
      return;
    }
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info);
    HWND target = info.hwndFocus != nullptr ? info.hwndFocus : box;
    PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(target, WM_KEYUP, VK_RETURN, 0xC01C0001);
    return;
  }
  int id = press == "yes" ? IDYES : press == "no" ? IDNO : IDOK;
  for (HWND b : parts.buttons) {
    if (GetDlgCtrlID(b) == id) {
      DWORD_PTR ignored;
      SendMessageTimeoutW(b, BM_CLICK, 0, 0, SMTO_BLOCK, 5000, &ignored);
      return;
    }
  }
  Check(false, "no button for " + press);
}

bool WaitGone(HWND box) {
  for (DWORD waited = 0; waited < kBoxTimeoutMs; waited += kPollMs) {
    if (!IsWindow(box) || !IsWindowVisible(box)) return true;
    Sleep(kPollMs);
  }
  return false;
}

// *pressed receives the moment the button was pressed.
void HandleBox(const Options& options, int index, const Step& step, HWND box,
               LARGE_INTEGER* pressed) {
  BoxParts parts;
  EnumChildWindows(box, CollectPartsProc, reinterpret_cast<LPARAM>(&parts));
  const ExpectedText* expected = FindText(step.text);
  std::wstring caption = WindowText(box);
  std::wstring text = parts.text ? WindowText(parts.text) : std::wstring();
  std::string label = "box " + std::to_string(index) + " ";
  Check(caption == kCaption, label + "caption " + Shown(caption));
  Check(expected != nullptr && text == Expected(*expected),
        label + "text " + Shown(text) + " is " + step.text);
  std::string icon = parts.icon ? IdentifyIcon(parts.icon) : "none";
  Check(icon == ExpectedIcon(step.kind), label + "icon " + icon);
  CheckButtons(box, parts, step);
  if (step.kind == "question") {
    CheckEngineMutexTaken();
    if (options.second) RunSecondUpdater(options.updater);
    if (!options.swap_own.empty() && !options.swap_at_start) {
      SwapOwnFile(options);
    }
  }
  Screenshot(options, index, step, box);
  QueryPerformanceCounter(pressed);
  Press(options, box, parts, step.press);
  Check(WaitGone(box), label + "closed after " + step.press);
}

// Any box after the expected ones is a failure; it is answered with its
// first button so that the updater can end.
void WaitForExit(const PROCESS_INFORMATION& pi) {
  for (DWORD waited = 0; waited < kBoxTimeoutMs; waited += kPollMs) {
    if (WaitForSingleObject(pi.hProcess, kPollMs) == WAIT_OBJECT_0) return;
    HWND box = FindBox(pi.dwProcessId);
    if (box != nullptr) {
      BoxParts parts;
      EnumChildWindows(box, CollectPartsProc, reinterpret_cast<LPARAM>(&parts));
      std::wstring text = parts.text ? WindowText(parts.text) : L"";
      Check(false, "unexpected box " + Shown(text));
      PostMessageW(box, WM_CLOSE, 0, 0);
      WaitGone(box);
    }
  }
  Check(false, "updater still running; ended by force");
  TerminateProcess(pi.hProcess, 1);
  WaitForSingleObject(pi.hProcess, 5000);
}

// Ends the updater kill_after_ms after the moment pressed, unless it ends by
// itself first: "terminated" or "finished before the kill" tells which. A
// box of its own (the update done) is closed, and counts as finished.
void TerminateAfter(const PROCESS_INFORMATION& pi, LARGE_INTEGER pressed,
                    LARGE_INTEGER frequency, DWORD kill_after_ms) {
  for (int i = 0;; i++) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    LONGLONG elapsed =
        (now.QuadPart - pressed.QuadPart) * 1000 / frequency.QuadPart;
    // Looking for a box walks every window: not at each millisecond.
    HWND done = nullptr;
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 ||
        (i % 20 == 19 && (done = FindBox(pi.dwProcessId)) != nullptr)) {
      Out("finished before the kill\n");
      if (done != nullptr) PostMessageW(done, WM_CLOSE, 0, 0);
      WaitForSingleObject(pi.hProcess, kBoxTimeoutMs);
      return;
    }
    if (elapsed >= kill_after_ms) break;
    Sleep(1);
  }
  TerminateProcess(pi.hProcess, kTerminatedCode);
  WaitForSingleObject(pi.hProcess, 5000);
  Out("terminated\n");
}

// Runs the updater through the expected boxes and checks its exit code.
void RunUpdater(const Options& options) {
  PROCESS_INFORMATION pi = StartProcess(
      options.updater, options.swap_at_start ? CREATE_SUSPENDED : 0);
  if (pi.hProcess == nullptr) return;
  if (options.swap_at_start) {
    SwapOwnFile(options);
    ResumeThread(pi.hThread);
  }
  int index = 0;
  LARGE_INTEGER frequency, pressed, found;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&pressed);
  for (const Step& step : options.steps) {
    ++index;
    HWND box = WaitForBox(pi.hProcess, pi.dwProcessId, kBoxTimeoutMs,
                          options.timed ? 1 : kPollMs);
    if (box == nullptr) {
      Check(false, "box " + std::to_string(index) + " (" + step.text +
                       ") never appeared");
      break;
    }
    QueryPerformanceCounter(&found);
    if (options.timed && index > 1) {
      Out("box " + std::to_string(index) + " after " +
          std::to_string((found.QuadPart - pressed.QuadPart) * 1000 /
                         frequency.QuadPart) +
          " ms\n");
    }
    HandleBox(options, index, step, box, &pressed);
    if (index == 1 && g_holder != nullptr && options.release_after_ms != 0) {
      g_release_after_ms = options.release_after_ms;
      HANDLE thread =
          CreateThread(nullptr, 0, ReleaseLater, nullptr, 0, nullptr);
      if (thread != nullptr) CloseHandle(thread);
    }
  }
  if (options.kill_after_ms != 0) {
    TerminateAfter(pi, pressed, frequency, options.kill_after_ms);
  } else {
    WaitForExit(pi);
  }
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(pi.hProcess, &code);
  Out("exit code " + Hex(code) + " (" +
      std::to_string(static_cast<long>(code)) + ")\n");
  if (options.check_exit) {
    Check(code == options.exit_code, "exit code is " + Hex(options.exit_code));
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

// Read-only as Windows sees it: the attribute is set and a plain open for
// writing is refused. The updater must clear it before replacing the file.
void CheckReadOnly(const std::wstring& path, bool before) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  bool readonly = attributes != INVALID_FILE_ATTRIBUTES &&
                  (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD error = GetLastError();
  bool writable = h != INVALID_HANDLE_VALUE;
  if (writable) CloseHandle(h);
  if (before) {
    Check(readonly && !writable && error == ERROR_ACCESS_DENIED,
          Utf8(path) + " is read-only and refuses writing");
  } else {
    Check(!readonly && writable, Utf8(path) + " is writable afterwards");
  }
}

bool ParseStep(const std::string& arg, Step* step) {
  size_t a = arg.find(':');
  size_t b = arg.find(':', a == std::string::npos ? a : a + 1);
  if (a == std::string::npos || b == std::string::npos) return false;
  step->kind = arg.substr(0, a);
  step->text = arg.substr(a + 1, b - a - 1);
  step->press = arg.substr(b + 1);
  return (step->kind == "info" || step->kind == "warning" ||
          step->kind == "question") &&
         FindText(step->text) != nullptr;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == L"--second") {
      options->second = true;
    } else if ((arg == L"--swap-own" || arg == L"--swap-own-at-start") &&
               has_value) {
      options->swap_own = argv[++i];
      options->swap_at_start = arg == L"--swap-own-at-start";
    } else if (arg == L"--timed") {
      options->timed = true;
    } else if (arg == L"--box" && has_value) {
      Step step;
      if (!ParseStep(Utf8(argv[++i]), &step)) return false;
      options->steps.push_back(step);
    } else if (arg == L"--exit" && has_value) {
      options->check_exit = true;
      options->exit_code = static_cast<DWORD>(wcstoll(argv[++i], nullptr, 0));
    } else if (arg == L"--hold-mutex" && has_value) {
      options->hold_mutex = argv[++i];
    } else if (arg == L"--hold-file" && has_value) {
      options->hold_file = argv[++i];
    } else if (arg == L"--readonly" && has_value) {
      options->readonly = argv[++i];
    } else if (arg == L"--release-after-ms" && has_value) {
      options->release_after_ms =
          static_cast<DWORD>(wcstoul(argv[++i], nullptr, 0));
    } else if (arg == L"--kill-after-ms" && has_value) {
      options->kill_after_ms =
          static_cast<DWORD>(wcstoul(argv[++i], nullptr, 0));
    } else if (arg == L"--shots" && has_value) {
      options->shots = Utf8(argv[++i]);
    } else if (arg[0] != L'-' && options->updater.empty()) {
      options->updater = arg;
    } else {
      return false;
    }
  }
  return !options->updater.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Out("usage: e2e_driver [--box KIND:TEXT:PRESS]... [--exit CODE] "
        "[--hold-mutex NAME] [--hold-file PATH [--release-after-ms N]] "
        "[--readonly PATH] "
        "[--second] [--swap-own[-at-start] OTHER] [--timed] "
        "[--kill-after-ms N] [--shots NAME] UPDATER\n");
    return 2;
  }
  Holder holder;
  bool held = true;
  if (!options.hold_mutex.empty()) {
    held = StartHolder(L"mutex", options.hold_mutex, &holder);
  } else if (!options.hold_file.empty()) {
    held = StartHolder(L"file", options.hold_file, &holder);
    g_holder = &holder;
  }
  if (!options.readonly.empty()) CheckReadOnly(options.readonly, true);
  if (held) RunUpdater(options);
  if (!options.readonly.empty()) CheckReadOnly(options.readonly, false);
  StopHolder(&holder);
  Out(g_failures == 0 ? "PASS\n" : "FAILED\n");
  return g_failures == 0 ? 0 : 1;
}
