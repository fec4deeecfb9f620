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
  FileHandle OpenFileForRead(FolderHandle folder, const char* name) override;
  FileHandle OpenOwnExecutable() override;
  FileHandle CreateNewFile(FolderHandle folder, const char* name) override;
  uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) override;
  uint32_t WriteFileBytes(FileHandle file, const void* buffer,
                          uint32_t n) override;
  uint32_t SetFilePosition(FileHandle file, uint32_t position) override;
  uint64_t GetFileLength(FileHandle file) override;
  void CloseFileHandle(FileHandle file) override;
  int FlushFileToDisk(FileHandle file) override;
  FolderHandle OpenFolder(FolderHandle folder, const char* name) override;
  FolderHandle OpenFolderOf(const char* path) override;
  void CloseFolder(FolderHandle folder) override;
  int FlushFolder(FolderHandle folder) override;
  int ListFolder(FolderHandle folder, FolderEntryFn fn, void* context) override;
  int MoveFileOver(FolderHandle folder, const char* from,
                   const char* to) override;
  int RemoveFile(FolderHandle folder, const char* name) override;
  PathKind GetPathKind(FolderHandle folder, const char* name) override;
  int FileIsFree(FolderHandle folder, const char* name) override;
  FileError LastFileError() override { return last_error_; }
  uint32_t ClearFileAttributes(FolderHandle folder, const char* name) override;
  void RestoreFileAttributes(FolderHandle folder, const char* name,
                             uint32_t attributes) override;
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
  void HardenProcess() override;

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

// A folder the run holds: the handle, opened without FILE_SHARE_DELETE so
// that nobody can rename or remove the folder while it is held, and the
// name the system resolved it to ("\\?\C:\..."), to which the names in
// it are joined.
struct HeldFolder {
  HANDLE handle;
  wchar_t* path;
};

HeldFolder* Held(FolderHandle folder) {
  return reinterpret_cast<HeldFolder*>(folder);
}

// True when the held folder's resolved name still leads to the folder
// held: the same file of the same volume. Windows lets nobody rename a held
// folder, so this always holds there; Wine lets another process rename it
// and put a link in its place, and then a call by that name must not be
// made.
bool StillNamesHeld(const HeldFolder* held) {
  HANDLE h =
      CreateFileW(held->path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION now, then;
  bool same = GetFileInformationByHandle(h, &now) &&
              GetFileInformationByHandle(held->handle, &then) &&
              now.dwVolumeSerialNumber == then.dwVolumeSerialNumber &&
              now.nFileIndexHigh == then.nFileIndexHigh &&
              now.nFileIndexLow == then.nFileIndexLow;
  CloseHandle(h);
  return same;
}

// A file's place, named as the wide calls take it: a path, or a name in a
// held folder, alone (part()) and joined to the folder's resolved name.
// get() is nullptr, with the reason as the last error, when the name does
// not convert, is no single part of a held folder, or the held folder's
// name no longer leads to it.
class WidePlace {
 public:
  WidePlace(FolderHandle folder, const char* name);
  ~WidePlace() { delete[] joined_; }
  WidePlace(const WidePlace&) = delete;
  WidePlace& operator=(const WidePlace&) = delete;
  const wchar_t* get() const {
    return joined_ != nullptr ? joined_ : held_ ? nullptr : name_.get();
  }
  const wchar_t* part() const {
    return get() != nullptr ? name_.get() : nullptr;
  }

 private:
  WidePath name_;
  bool held_;
  wchar_t* joined_ = nullptr;
};

WidePlace::WidePlace(FolderHandle folder, const char* name)
    : name_(name), held_(folder != kNoFolder) {
  const wchar_t* part = name_.get();
  if (!held_ || part == nullptr) return;
  size_t n = wcslen(part);
  if (n == 0 || wcspbrk(part, L"\\/") != nullptr || wcscmp(part, L".") == 0 ||
      wcscmp(part, L"..") == 0) {
    SetLastError(ERROR_INVALID_NAME);
    return;
  }
  if (!StillNamesHeld(Held(folder))) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return;
  }
  const wchar_t* base = Held(folder)->path;
  size_t base_length = wcslen(base);
  joined_ = new (std::nothrow) wchar_t[base_length + n + 2];
  if (joined_ == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return;
  }
  wmemcpy(joined_, base, base_length);
  joined_[base_length] = L'\\';
  wmemcpy(joined_ + base_length + 1, part, n + 1);
}

// The name the system resolves path to, links followed, into out
// (kLongestPath characters). Returns its length, 0 when it cannot be had.
DWORD FinalNameOf(HANDLE h, wchar_t* out) {
  DWORD n = GetFinalPathNameByHandleW(h, out, kLongestPath, 0);
  return n < kLongestPath ? n : 0;
}

DWORD FinalName(const wchar_t* path, wchar_t* out) {
  HANDLE h =
      CreateFileW(path, FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD n = FinalNameOf(h, out);
  CloseHandle(h);
  return n;
}

// NtCreateFile's options and dispositions, which the user-mode headers
// leave out.
const ULONG kFileOpen = 1;
const ULONG kFileCreate = 2;
const ULONG kDirectoryFile = 0x00000001;
const ULONG kSequentialOnly = 0x00000004;
const ULONG kSynchronousIo = 0x00000020;
const ULONG kNonDirectoryFile = 0x00000040;
const ULONG kOpenForBackup = 0x00004000;
const ULONG kOpenReparsePoint = 0x00200000;
const ULONG kCaseInsensitive = 0x40;

// What NtCreateFile takes to open a name relative to a folder's handle.
struct CountedName {
  USHORT length;
  USHORT capacity;
  const wchar_t* buffer;
};
struct ObjectAttributes {
  ULONG size;
  HANDLE root;
  const CountedName* name;
  ULONG attributes;
  void* security;
  void* quality;
};
struct IoStatus {
  ULONG_PTR status;
  ULONG_PTR information;
};

// ntdll's function, looked up by name: ntdll is in every process before
// its first instruction, so nothing is imported for it.
FARPROC NtdllFunction(const char* name) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr ? GetProcAddress(ntdll, name) : nullptr;
}

// Opens part, one name, inside the folder held by root, by the handle and
// never by a path: whatever was renamed or put in the folder's place since
// it was opened, the name is looked up in the folder itself. The last
// error tells why on failure.
HANDLE OpenRelative(HANDLE root, const wchar_t* part, ACCESS_MASK access,
                    ULONG share, ULONG disposition, ULONG options,
                    ULONG attributes) {
  typedef LONG(WINAPI * NtCreateFileFn)(HANDLE*, ACCESS_MASK, ObjectAttributes*,
                                        IoStatus*, LARGE_INTEGER*, ULONG, ULONG,
                                        ULONG, ULONG, void*, ULONG);
  typedef ULONG(WINAPI * StatusToErrorFn)(LONG);
  // Looked up at each call: a static would bring the C++ runtime's guard
  // for it, and its terminate handler, into the program.
  FARPROC create_proc = NtdllFunction("NtCreateFile");
  FARPROC error_proc = NtdllFunction("RtlNtStatusToDosError");
  size_t n = wcslen(part);
  if (create_proc == nullptr || error_proc == nullptr || n > 0x7FFF) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return INVALID_HANDLE_VALUE;
  }
  NtCreateFileFn create;
  StatusToErrorFn to_error;
  memcpy(&create, &create_proc, sizeof(create));
  memcpy(&to_error, &error_proc, sizeof(to_error));
  CountedName name = {static_cast<USHORT>(n * 2), static_cast<USHORT>(n * 2),
                      part};
  ObjectAttributes object = {sizeof(object),   root,    &name,
                             kCaseInsensitive, nullptr, nullptr};
  IoStatus io = {0, 0};
  HANDLE h = INVALID_HANDLE_VALUE;
  LONG status =
      create(&h, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share,
             disposition, options | kSynchronousIo, nullptr, 0);
  if (status >= 0) return h;
  SetLastError(to_error(status));
  return INVALID_HANDLE_VALUE;
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

FileHandle Win32Platform::OpenFileForRead(FolderHandle folder,
                                          const char* name) {
  WidePlace wide(folder, name);
  if (wide.get() == nullptr) return Opened(INVALID_HANDLE_VALUE);
  if (folder != kNoFolder) {
    return Opened(OpenRelative(
        Held(folder)->handle, wide.part(), GENERIC_READ, FILE_SHARE_READ,
        kFileOpen, kNonDirectoryFile | kSequentialOnly, FILE_ATTRIBUTE_NORMAL));
  }
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

FileHandle Win32Platform::CreateNewFile(FolderHandle folder, const char* name) {
  // CREATE_NEW fails on anything at the name; a link there is never
  // followed, so nothing outside the folder can be written through it.
  WidePlace wide(folder, name);
  if (wide.get() == nullptr) return Opened(INVALID_HANDLE_VALUE);
  if (folder != kNoFolder) {
    return Opened(OpenRelative(
        Held(folder)->handle, wide.part(), GENERIC_WRITE, 0, kFileCreate,
        kNonDirectoryFile | kSequentialOnly | kOpenReparsePoint,
        FILE_ATTRIBUTE_ARCHIVE));
  }
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

namespace {

// The rights a held folder is opened with: enough to list it, open what is
// in it and read what it is, and no more.
const DWORD kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// True when the folder handle h, which the system resolved to resolved, is
// the real folder named path: not a link or junction, which its attributes
// show on Windows, nor one that they hide, as Wine's do, which resolves
// elsewhere than the name it was opened by.
bool IsPlainFolder(HANDLE h, const wchar_t* resolved, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return false;
  }
  int n = static_cast<int>(wcslen(resolved));
  int length = static_cast<int>(wcslen(path));
  return n == length &&
         CompareStringOrdinal(resolved, n, path, length, TRUE) == CSTR_EQUAL;
}

// The folder h resolves to, as a new HeldFolder that owns h; nullptr when
// it cannot be had.
HeldFolder* NewHeldFolder(HANDLE h) {
  wchar_t* resolved = new (std::nothrow) wchar_t[kLongestPath];
  DWORD n = resolved != nullptr ? FinalNameOf(h, resolved) : 0;
  HeldFolder* held = nullptr;
  wchar_t* path = n != 0 ? new (std::nothrow) wchar_t[n + 1] : nullptr;
  if (path != nullptr) {
    wmemcpy(path, resolved, n + 1);
    held = new (std::nothrow) HeldFolder{h, path};
    if (held == nullptr) delete[] path;
  }
  delete[] resolved;
  return held;
}

}  // namespace

namespace {

// Opens and holds the folder at a wide path, its links followed.
FolderHandle HoldFolderAt(const wchar_t* path) {
  HANDLE h =
      CreateFileW(path, kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return kNoFolder;
  HeldFolder* held = NewHeldFolder(h);
  if (held != nullptr) return reinterpret_cast<FolderHandle>(held);
  CloseHandle(h);
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return kNoFolder;
}

}  // namespace

FolderHandle Win32Platform::OpenFolder(FolderHandle folder, const char* name) {
  WidePlace wide(folder, name);
  if (wide.get() == nullptr) return Failed(), kNoFolder;
  // Without FILE_SHARE_DELETE: while held, the folder can be neither
  // renamed nor removed, so every name checked in it stays in it.
  if (folder == kNoFolder) {
    FolderHandle held = HoldFolderAt(wide.get());
    if (held == kNoFolder) Failed();
    return held;
  }
  // Below a held folder, a link or junction is opened as itself and
  // refused.
  HANDLE h =
      OpenRelative(Held(folder)->handle, wide.part(), kFolderAccess,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, kFileOpen,
                   kDirectoryFile | kOpenForBackup | kOpenReparsePoint, 0);
  if (h == INVALID_HANDLE_VALUE) return Failed(), kNoFolder;
  HeldFolder* held = NewHeldFolder(h);
  if (held == nullptr || !IsPlainFolder(h, held->path, wide.get())) {
    if (held != nullptr) delete[] held->path;
    delete held;
    CloseHandle(h);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return Failed(), kNoFolder;
  }
  return reinterpret_cast<FolderHandle>(held);
}

FolderHandle Win32Platform::OpenFolderOf(const char* path) {
  WidePath wide(path);
  if (wide.get() == nullptr) return Failed(), kNoFolder;
  // The system takes the wide path apart: its folder is its name's parent.
  wchar_t* full = new (std::nothrow) wchar_t[kLongestPath];
  wchar_t* file_part = nullptr;
  DWORD n = full != nullptr
                ? GetFullPathNameW(wide.get(), kLongestPath, full, &file_part)
                : 0;
  FolderHandle folder = kNoFolder;
  if (n != 0 && n < kLongestPath && file_part != nullptr) {
    *file_part = L'\0';
    folder = HoldFolderAt(full);
  }
  if (folder == kNoFolder) Failed();
  delete[] full;
  return folder;
}

void Win32Platform::CloseFolder(FolderHandle folder) {
  if (folder == kNoFolder) return;
  CloseHandle(Held(folder)->handle);
  delete[] Held(folder)->path;
  delete Held(folder);
}

int Win32Platform::FlushFolder(FolderHandle folder) {
  // Every move is made with MOVEFILE_WRITE_THROUGH and is on the disk when
  // it returns; NTFS logs a file's creation and removal in its journal,
  // which no call short of flushing the whole volume forces out. So there
  // is nothing left here to flush.
  return folder != kNoFolder ? 1
                             : (SetLastError(ERROR_INVALID_HANDLE), Failed());
}

namespace {

// A wide name in the code page the calls are given, or false when it has
// no exact form there (so it cannot be one the updater made).
bool NarrowName(const wchar_t* wide, char* out, int out_size) {
  BOOL lossy = FALSE;
  BOOL* check = g_path_code_page == CP_UTF8 ? nullptr : &lossy;
  DWORD flags = g_path_code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(g_path_code_page, flags, wide, -1, out, out_size,
                              nullptr, check);
  return n > 0 && !lossy;
}

}  // namespace

int Win32Platform::ListFolder(FolderHandle folder, FolderEntryFn fn,
                              void* context) {
  WidePlace pattern(folder, "*");
  if (pattern.get() == nullptr) return Failed();
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(pattern.get(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : Failed();
  }
  char name[MAX_PATH * 3];
  int listed = 1;
  do {
    if (wcscmp(found.cFileName, L".") == 0 ||
        wcscmp(found.cFileName, L"..") == 0 ||
        !NarrowName(found.cFileName, name, sizeof(name))) {
      continue;
    }
    DWORD a = found.dwFileAttributes;
    PathKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) ? kPathLink
                    : (a & FILE_ATTRIBUTE_DIRECTORY)   ? kPathFolder
                    : (a & FILE_ATTRIBUTE_DEVICE)      ? kPathOther
                                                       : kPathFile;
    if (fn(context, name, kind) != 0) break;
  } while (FindNextFileW(find, &found) ||
           (GetLastError() != ERROR_NO_MORE_FILES && (listed = Failed(), 0)));
  FindClose(find);
  return listed;
}

int Win32Platform::MoveFileOver(FolderHandle folder, const char* from,
                                const char* to) {
  // MOVEFILE_WRITE_THROUGH: each move is on the disk when it returns.
  WidePlace wide_from(folder, from);
  WidePlace wide_to(folder, to);
  if (wide_from.get() == nullptr || wide_to.get() == nullptr) return Failed();
  // Windows refuses to replace a read-only file; Wine does not, so the
  // backend refuses it itself, the same on both.
  DWORD attributes;
  if (KindOf(wide_to.get(), &attributes) == kPathFile &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return Failed();
  }
  return MoveFileExW(wide_from.get(), wide_to.get(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 1
             : Failed();
}

int Win32Platform::RemoveFile(FolderHandle folder, const char* name) {
  // Windows deletes a link itself, which its attributes show; a link they
  // hide would have what it leads to deleted instead, and is left alone.
  WidePlace wide(folder, name);
  if (wide.get() == nullptr) return Failed();
  DWORD attributes;
  if (KindOf(wide.get(), &attributes) == kPathLink &&
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return Failed();
  }
  return DeleteFileW(wide.get()) ? 1 : Failed();
}

PathKind Win32Platform::GetPathKind(FolderHandle folder, const char* name) {
  WidePlace wide(folder, name);
  DWORD attributes;
  return wide.get() == nullptr ? kPathOther : KindOf(wide.get(), &attributes);
}

int Win32Platform::FileIsFree(FolderHandle folder, const char* name) {
  // The move opens the target for deleting; a handle of another process
  // that does not share deleting makes that fail, and so this open too.
  WidePlace wide(folder, name);
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

uint32_t Win32Platform::ClearFileAttributes(FolderHandle folder,
                                            const char* name) {
  // A link is replaced as it is: its attributes might be those of what it
  // leads to.
  WidePlace wide(folder, name);
  DWORD attributes;
  if (wide.get() == nullptr || KindOf(wide.get(), &attributes) != kPathFile) {
    return kNoFileAttributes;
  }
  SetFileAttributesW(wide.get(), FILE_ATTRIBUTE_NORMAL);
  return attributes;
}

void Win32Platform::RestoreFileAttributes(FolderHandle folder, const char* name,
                                          uint32_t attributes) {
  if (attributes == kNoFileAttributes) return;
  WidePlace wide(folder, name);
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

namespace {

// kernel32's function name, or nullptr on systems that lack it: looked up
// at run time, so that they still start.
FARPROC Kernel32Function(const char* name) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  return kernel32 != nullptr ? GetProcAddress(kernel32, name) : nullptr;
}

// PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY and its place in
// PROCESS_MITIGATION_POLICY, which older headers lack.
const int kProcessRedirectionTrustPolicy = 16;
const DWORD kEnforceRedirectionTrust = 1;

}  // namespace

void Win32Platform::HardenProcess() {
  // The updater runs elevated from folders anyone can write to, so a DLL
  // planted beside it must never be loaded.
  typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
  typedef BOOL(WINAPI * SetProcessMitigationPolicyFn)(int, PVOID, SIZE_T);
  FARPROC proc = Kernel32Function("SetDefaultDllDirectories");
  if (proc != nullptr) {
    SetDefaultDllDirectoriesFn set_dirs;
    memcpy(&set_dirs, &proc, sizeof(set_dirs));
    set_dirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  // Nor may a junction that an ordinary user made lead it anywhere: the
  // system refuses to follow one (Windows 10 2004 and later). Where the
  // policy is unknown the call fails, and the held folders still protect.
  proc = Kernel32Function("SetProcessMitigationPolicy");
  if (proc != nullptr) {
    SetProcessMitigationPolicyFn set_policy;
    memcpy(&set_policy, &proc, sizeof(set_policy));
    DWORD flags = kEnforceRedirectionTrust;
    set_policy(kProcessRedirectionTrustPolicy, &flags, sizeof(flags));
  }
}

Platform* SystemPlatform() { return &g_win32; }

void UsePathCoding(PathCoding coding) {
  g_path_code_page = coding == kToolPaths ? CP_UTF8 : CP_ACP;
}
