// The Win32 backend of the platform layer: each call is one call, or a few,
// of the Win32 API. Paths come narrow and go to the wide calls, converted
// with the system's narrow code page as the narrow calls themselves would
// convert them, or as UTF-8 for the tool (UsePathCoding).
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include <new>

#include "platform/platform.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

class Win32Platform final : public Platform {
 public:
  FileHandle OpenFileForRead(const char* path) override;
  FileHandle OpenOwnExecutable() override;
  FileHandle CreateNewFile(const char* path) override;
  uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) override;
  uint32_t WriteFileBytes(FileHandle file, const void* buffer,
                          uint32_t n) override;
  uint32_t SetFilePosition(FileHandle file, uint32_t position) override;
  uint64_t GetFileLength(FileHandle file) override;
  void CloseFileHandle(FileHandle file) override;
  int FlushFileToDisk(FileHandle file) override;
  int MoveFileOver(const char* from, const char* to) override;
  int FlushMoves() override { return 1; }
  int RemoveFile(const char* path) override;
  PathKind GetPathKind(const char* path) override;
  int FileIsFree(const char* path) override;
  FileError LastFileError() override { return last_error_; }
  uint32_t ClearFileAttributes(const char* path) override;
  void RestoreFileAttributes(const char* path, uint32_t attributes) override;
  int MakeExecutable(const char*) override { return 1; }
  void Sleep(uint32_t milliseconds) override;
  void* AllocatePages(size_t size) override;
  void FreePages(void* pages, size_t size) override;
  MutexHandle CreateNamedMutex(const char* name, uint32_t* last_error) override;
  void CloseNamedMutex(MutexHandle mutex) override;
  int32_t OpenMachineRegistryKey(const char* path, RegistryKey* key) override;
  int32_t QueryRegistryValue(RegistryKey key, const char* name, uint32_t* type,
                             uint8_t* data, uint32_t* size) override;
  void CloseRegistryKey(RegistryKey key) override;
  int ShowMessageBox(const char* text, const char* caption,
                     uint32_t style) override;
  void RestrictDllSearchPath() override;

 private:
  // Notes why the call that just failed did; returns failure.
  int Failed();
  FileHandle Opened(HANDLE h);

  FileError last_error_ = kFileErrorNone;
};

Win32Platform g_win32;

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

const DWORD kSequentialArchive =
    FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_SEQUENTIAL_SCAN;

// The longest path the wide calls take, in characters.
const DWORD kLongestPath = 32768;

// The code page of the paths the calls are given: CP_ACP, the updater's, or
// CP_UTF8, the tool's.
UINT g_path_code_page = CP_ACP;

// A narrow path in the UTF-16 of the wide calls. get() is nullptr, with
// ERROR_INVALID_NAME as the last error, when the path does not convert (a
// tool's path that is no UTF-8) or no memory is left.
class WidePath {
 public:
  explicit WidePath(const char* path);
  ~WidePath() { delete[] wide_; }
  WidePath(const WidePath&) = delete;
  WidePath& operator=(const WidePath&) = delete;
  const wchar_t* get() const { return wide_; }

 private:
  wchar_t* wide_ = nullptr;
};

WidePath::WidePath(const char* path) {
  // The narrow calls turn a byte that is no character into a stand-in and
  // go on; so does CP_ACP here. UTF-8 is checked.
  DWORD flags = g_path_code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  int n = MultiByteToWideChar(g_path_code_page, flags, path, -1, nullptr, 0);
  if (n > 0) wide_ = new (std::nothrow) wchar_t[n];
  if (wide_ != nullptr &&
      MultiByteToWideChar(g_path_code_page, flags, path, -1, wide_, n) != n) {
    delete[] wide_;
    wide_ = nullptr;
  }
  if (wide_ == nullptr) SetLastError(ERROR_INVALID_NAME);
}

// The name the system resolves path to, links followed, into out
// (kLongestPath characters). Returns its length, 0 when it cannot be had.
DWORD FinalName(const wchar_t* path, wchar_t* out) {
  HANDLE h =
      CreateFileW(path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD n = GetFinalPathNameByHandleW(h, out, kLongestPath, 0);
  CloseHandle(h);
  return n < kLongestPath ? n : 0;
}

// True when the file at path is a link whose attributes do not show it:
// Wine shows a link to a file as the file itself, and deletes or moves
// what it leads to. Such a file resolves to another name than its folder's
// with its own name after it. A name that cannot be resolved counts as a
// link, so that nothing is done through it.
bool HiddenLink(const wchar_t* path) {
  size_t n = wcslen(path);
  wchar_t* buffer =
      n < kLongestPath ? new (std::nothrow) wchar_t[3 * kLongestPath] : nullptr;
  if (buffer == nullptr) return true;
  wchar_t* wide = buffer;
  wchar_t* file_name = buffer + kLongestPath;
  wchar_t* folder_name = buffer + 2 * kLongestPath;
  bool hidden = true;
  wmemcpy(wide, path, n + 1);
  wchar_t* slash = wcsrchr(wide, L'\\');
  wchar_t* other = wcsrchr(wide, L'/');
  if (other > slash) slash = other;
  DWORD file_length = FinalName(wide, file_name);
  if (slash != nullptr && file_length != 0) {
    *slash = L'\0';
    DWORD folder_length = FinalName(wide, folder_name);
    const wchar_t* own = slash + 1;
    size_t own_length = wcslen(own);
    hidden = folder_length == 0 ||
             folder_length + 1 + own_length != file_length ||
             CompareStringOrdinal(file_name, folder_length, folder_name,
                                  folder_length, TRUE) != CSTR_EQUAL ||
             file_name[folder_length] != L'\\' ||
             CompareStringOrdinal(file_name + folder_length + 1, own_length,
                                  own, own_length, TRUE) != CSTR_EQUAL;
  }
  delete[] buffer;
  return hidden;
}

// What stands at path, and its attributes (INVALID_FILE_ATTRIBUTES when
// nothing does).
PathKind KindOf(const wchar_t* path, DWORD* attributes) {
  *attributes = GetFileAttributesW(path);
  if (*attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? kPathMissing
               : kPathOther;
  }
  if (*attributes & FILE_ATTRIBUTE_REPARSE_POINT) return kPathLink;
  if (*attributes & FILE_ATTRIBUTE_DIRECTORY) return kPathFolder;
  if (*attributes & FILE_ATTRIBUTE_DEVICE) return kPathOther;
  return HiddenLink(path) ? kPathLink : kPathFile;
}

}  // namespace

int Win32Platform::Failed() {
  DWORD error = GetLastError();
  last_error_ = error == ERROR_SHARING_VIOLATION ||
                        error == ERROR_LOCK_VIOLATION ||
                        error == ERROR_ACCESS_DENIED
                    ? kFileErrorBusy
                : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                    ? kFileErrorExists
                    : kFileErrorOther;
  return 0;
}

FileHandle Win32Platform::Opened(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) Failed();
  return reinterpret_cast<FileHandle>(h);
}

FileHandle Win32Platform::OpenFileForRead(const char* path) {
  WidePath wide(path);
  if (wide.get() == nullptr) return Opened(INVALID_HANDLE_VALUE);
  return Opened(CreateFileW(wide.get(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, kSequentialArchive, nullptr));
}

FileHandle Win32Platform::OpenOwnExecutable() {
  // The narrow name fails for a folder whose name the system's code page
  // cannot hold ("Zoë"), so the wide one, up to the longest path there is.
  wchar_t* path = new (std::nothrow) wchar_t[kLongestPath];
  if (path == nullptr) return kInvalidFileHandle;
  DWORD n = GetModuleFileNameW(nullptr, path, kLongestPath);
  HANDLE h = INVALID_HANDLE_VALUE;
  // A path that did not fit comes back cut short; opening it would be wrong.
  if (n != 0 && n < kLongestPath) {
    h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    kSequentialArchive, nullptr);
  }
  delete[] path;
  return Opened(h);
}

FileHandle Win32Platform::CreateNewFile(const char* path) {
  // CREATE_NEW fails on anything at the name; a link there is never
  // followed, so nothing outside the folder can be written through it.
  WidePath wide(path);
  if (wide.get() == nullptr) return Opened(INVALID_HANDLE_VALUE);
  return Opened(CreateFileW(wide.get(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            kSequentialArchive | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr));
}

uint32_t Win32Platform::ReadFileBytes(FileHandle file, void* buffer,
                                      uint32_t n) {
  DWORD done = 0;
  if (!ReadFile(ToHandle(file), buffer, n, &done, nullptr)) return Failed();
  return done;
}

uint32_t Win32Platform::WriteFileBytes(FileHandle file, const void* buffer,
                                       uint32_t n) {
  DWORD done = 0;
  if (!WriteFile(ToHandle(file), buffer, n, &done, nullptr)) return Failed();
  return done;
}

uint32_t Win32Platform::SetFilePosition(FileHandle file, uint32_t position) {
  // No high part: a position of 2^31 or more is a negative distance and the
  // call fails.
  return SetFilePointer(ToHandle(file), static_cast<LONG>(position), nullptr,
                        FILE_BEGIN);
}

uint64_t Win32Platform::GetFileLength(FileHandle file) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(ToHandle(file), &size)) return kInvalidFileLength;
  return static_cast<uint64_t>(size.QuadPart);
}

void Win32Platform::CloseFileHandle(FileHandle file) {
  CloseHandle(ToHandle(file));
}

int Win32Platform::FlushFileToDisk(FileHandle file) {
  return FlushFileBuffers(ToHandle(file)) ? 1 : Failed();
}

int Win32Platform::MoveFileOver(const char* from, const char* to) {
  // MOVEFILE_WRITE_THROUGH: each move is on the disk when it returns, so
  // FlushMoves has nothing left to do.
  WidePath wide_from(from);
  WidePath wide_to(to);
  if (wide_from.get() == nullptr || wide_to.get() == nullptr) return Failed();
  return MoveFileExW(wide_from.get(), wide_to.get(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 1
             : Failed();
}

int Win32Platform::RemoveFile(const char* path) {
  // Windows deletes a link itself, which its attributes show; a link they
  // hide would have what it leads to deleted instead, and is left alone.
  WidePath wide(path);
  if (wide.get() == nullptr) return Failed();
  DWORD attributes;
  if (KindOf(wide.get(), &attributes) == kPathLink &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return Failed();
  }
  return DeleteFileW(wide.get()) ? 1 : Failed();
}

PathKind Win32Platform::GetPathKind(const char* path) {
  WidePath wide(path);
  DWORD attributes;
  return wide.get() == nullptr ? kPathOther : KindOf(wide.get(), &attributes);
}

int Win32Platform::FileIsFree(const char* path) {
  // The move opens the target for deleting; a handle of another process
  // that does not share deleting makes that fail, and so this open too.
  WidePath wide(path);
  if (wide.get() == nullptr) return 1;  // the move itself reports it
  HANDLE h = CreateFileW(wide.get(), DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return 1;
  }
  DWORD error = GetLastError();
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
    return 1;  // nothing there, or a refusal that the move itself reports
  }
  return Failed();
}

uint32_t Win32Platform::ClearFileAttributes(const char* path) {
  // A link is replaced as it is: its attributes might be those of what it
  // leads to.
  WidePath wide(path);
  DWORD attributes;
  if (wide.get() == nullptr || KindOf(wide.get(), &attributes) != kPathFile) {
    return kNoFileAttributes;
  }
  SetFileAttributesW(wide.get(), FILE_ATTRIBUTE_NORMAL);
  return attributes;
}

void Win32Platform::RestoreFileAttributes(const char* path,
                                          uint32_t attributes) {
  if (attributes == kNoFileAttributes) return;
  WidePath wide(path);
  DWORD now;
  if (wide.get() != nullptr && KindOf(wide.get(), &now) == kPathFile) {
    SetFileAttributesW(wide.get(), attributes);
  }
}

void Win32Platform::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

void* Win32Platform::AllocatePages(size_t size) {
  if (size == 0) return nullptr;
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void Win32Platform::FreePages(void* pages, size_t) {
  if (pages != nullptr) VirtualFree(pages, 0, MEM_RELEASE);
}

MutexHandle Win32Platform::CreateNamedMutex(const char* name,
                                            uint32_t* last_error) {
  HANDLE h = CreateMutexA(nullptr, TRUE, name);
  *last_error = GetLastError();
  return reinterpret_cast<MutexHandle>(h);
}

void Win32Platform::CloseNamedMutex(MutexHandle mutex) {
  if (mutex != kNoMutex) CloseHandle(reinterpret_cast<HANDLE>(mutex));
}

int32_t Win32Platform::OpenMachineRegistryKey(const char* path,
                                              RegistryKey* key) {
  HKEY h = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &h);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(h);
  return status;
}

int32_t Win32Platform::QueryRegistryValue(RegistryKey key, const char* name,
                                          uint32_t* type, uint8_t* data,
                                          uint32_t* size) {
  DWORD t = 0;
  DWORD n = *size;
  LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &t,
                                 data, &n);
  *type = t;
  *size = n;
  return status;
}

void Win32Platform::CloseRegistryKey(RegistryKey key) {
  RegCloseKey(reinterpret_cast<HKEY>(key));
}

int Win32Platform::ShowMessageBox(const char* text, const char* caption,
                                  uint32_t style) {
  return MessageBoxA(nullptr, text, caption, style);
}

void Win32Platform::RestrictDllSearchPath() {
  // Looked up at run time: systems without the call still start. The
  // updater runs elevated from folders anyone can write to, so a DLL planted
  // beside it must never be loaded.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return;
  FARPROC proc = GetProcAddress(kernel32, "SetDefaultDllDirectories");
  if (proc == nullptr) return;
  SetDefaultDllDirectoriesFn set_dirs;
  memcpy(&set_dirs, &proc, sizeof(set_dirs));
  set_dirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

Platform* SystemPlatform() { return &g_win32; }

void UsePathCoding(PathCoding coding) {
  g_path_code_page = coding == kToolPaths ? CP_UTF8 : CP_ACP;
}
