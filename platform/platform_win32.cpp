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
  int IsOwnImage(FileHandle file) override;
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
  FolderHandle OpenFolderWithoutLinks(const char* path) override;
  void CloseFolder(FolderHandle folder) override;
  int FlushFolder(FolderHandle folder) override;
  int ListFolder(FolderHandle folder, FolderEntryFn fn, void* context) override;
  int MoveFileOver(FolderHandle folder, const char* from, const char* to,
                   bool replace_read_only) override;
  int RemoveFile(FolderHandle folder, const char* name) override;
  PathKind GetPathKind(FolderHandle folder, const char* name) override;
  int CanMoveOver(FolderHandle folder, const char* name,
                  bool replace_read_only) override;
  FileError LastFileError() override { return last_error_; }
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

// A file's place, named as the wide calls take it: a path, or one name in
// a held folder (part()), which the calls open relative to the folder's
// handle. by_name is for a call that Wine carries out by the held folder's
// resolved name however it is asked (a rename, a removal, the listing):
// that name must still lead to the folder held, and get() is the name
// joined to it. get() is nullptr, with the reason as the last error, when
// the name does not convert, is no single part of a held folder, or the
// held folder's name no longer leads to it.
class WidePlace {
 public:
  WidePlace(FolderHandle folder, const char* name, bool by_name = false);
  ~WidePlace() { delete[] joined_; }
  WidePlace(const WidePlace&) = delete;
  WidePlace& operator=(const WidePlace&) = delete;
  const wchar_t* get() const {
    return !valid_ ? nullptr : joined_ != nullptr ? joined_ : name_.get();
  }
  const wchar_t* part() const { return valid_ ? name_.get() : nullptr; }

 private:
  WidePath name_;
  bool valid_ = false;
  wchar_t* joined_ = nullptr;
};

WidePlace::WidePlace(FolderHandle folder, const char* name, bool by_name)
    : name_(name) {
  const wchar_t* part = name_.get();
  if (part == nullptr) return;
  if (folder == kNoFolder) {
    valid_ = true;
    return;
  }
  size_t n = wcslen(part);
  if (n == 0 || wcspbrk(part, L"\\/") != nullptr || wcscmp(part, L".") == 0 ||
      wcscmp(part, L"..") == 0) {
    SetLastError(ERROR_INVALID_NAME);
    return;
  }
  if (!by_name) {
    valid_ = true;
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
  valid_ = true;
}

// The name the system resolves the handle's file to ("\\?\C:\..."), links
// followed, into out (kLongestPath characters). Returns its length, 0 when
// it cannot be had.
DWORD FinalNameOf(HANDLE h, wchar_t* out) {
  DWORD n = GetFinalPathNameByHandleW(h, out, kLongestPath, 0);
  return n < kLongestPath ? n : 0;
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

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the name in folder: by its part relative to the held folder's
// handle, or by the path with kNoFolder, whose links are followed but the
// last one's where kOpenReparsePoint asks. options are NtCreateFile's.
HANDLE OpenPlace(FolderHandle folder, const WidePlace& place,
                 ACCESS_MASK access, ULONG options) {
  if (folder != kNoFolder) {
    return OpenRelative(Held(folder)->handle, place.part(), access, kShareAll,
                        kFileOpen, options, 0);
  }
  DWORD flags =
      ((options & kOpenReparsePoint) != 0 ? FILE_FLAG_OPEN_REPARSE_POINT : 0) |
      ((options & kNonDirectoryFile) != 0 ? 0 : FILE_FLAG_BACKUP_SEMANTICS);
  return CreateFileW(place.get(), access, kShareAll, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

// True when the handle's file resolves to the held folder's name with part
// after it. Wine shows a link as what it leads to, attributes and all, and
// renames or deletes that when asked to rename or delete the link; such a
// file resolves elsewhere.
bool ResolvesTo(HANDLE h, const HeldFolder* held, const wchar_t* part) {
  wchar_t* resolved = new (std::nothrow) wchar_t[kLongestPath];
  size_t n = resolved != nullptr ? FinalNameOf(h, resolved) : 0;
  size_t base = wcslen(held->path);
  size_t own = wcslen(part);
  // A drive's root resolves with its separator: "\\?\C:\".
  size_t start = base > 0 && held->path[base - 1] == L'\\' ? base : base + 1;
  bool same =
      n == start + own &&
      CompareStringOrdinal(resolved, static_cast<int>(base), held->path,
                           static_cast<int>(base), TRUE) == CSTR_EQUAL &&
      resolved[start - 1] == L'\\' &&
      CompareStringOrdinal(resolved + start, static_cast<int>(own), part,
                           static_cast<int>(own), TRUE) == CSTR_EQUAL;
  delete[] resolved;
  return same;
}

// What the handle, opened on place's name in folder without following a
// link, is: told from the handle alone. *info receives what the system
// tells of the file.
PathKind KindOfOpened(HANDLE h, FolderHandle folder, const WidePlace& place,
                      BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(h, info)) return kPathOther;
  DWORD a = info->dwFileAttributes;
  if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (folder != kNoFolder && !ResolvesTo(h, Held(folder), place.part()))) {
    return kPathLink;
  }
  if ((a & FILE_ATTRIBUTE_DIRECTORY) != 0) return kPathFolder;
  return (a & FILE_ATTRIBUTE_DEVICE) != 0 ? kPathOther : kPathFile;
}

bool IsReadOnlyFile(PathKind kind, const BY_HANDLE_FILE_INFORMATION& info) {
  return kind == kPathFile &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Sets the file's attributes through the handle: the file it is open on,
// whatever its name is by then.
bool SetAttributes(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO basic = {};  // times of zero are left as they are
  basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic));
}

// Opens the name as itself with access, and with the right to change its
// attributes where that can be had: Wine grants no such right on a
// read-only file, and changes attributes through any handle (its own
// SetFileAttributesW does so).
HANDLE OpenForAttributes(FolderHandle folder, const WidePlace& place,
                         ACCESS_MASK access, ULONG options) {
  access |= FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  HANDLE h = OpenPlace(folder, place, access | FILE_WRITE_ATTRIBUTES,
                       options | kOpenReparsePoint);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    h = OpenPlace(folder, place, access, options | kOpenReparsePoint);
  }
  return h;
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
    // As itself: a link, or a file with other names, is never read.
    HANDLE h = OpenRelative(
        Held(folder)->handle, wide.part(), GENERIC_READ, FILE_SHARE_READ,
        kFileOpen, kNonDirectoryFile | kSequentialOnly | kOpenReparsePoint,
        FILE_ATTRIBUTE_NORMAL);
    BY_HANDLE_FILE_INFORMATION info;
    if (h != INVALID_HANDLE_VALUE &&
        (KindOfOpened(h, folder, wide, &info) != kPathFile ||
         info.nNumberOfLinks != 1)) {
      CloseHandle(h);
      h = INVALID_HANDLE_VALUE;
      SetLastError(ERROR_CANT_ACCESS_FILE);
    }
    return Opened(h);
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

int Win32Platform::IsOwnImage(FileHandle file) {
  // The image is mapped from the file the program was started from, and
  // stays so whatever names change. A view of the open file is of the same
  // file only if it is that one. Names could not tell: Wine gives a mapped
  // image the name it was opened by, even once that name is another
  // file's.
  typedef LONG(WINAPI * SameFilesFn)(PVOID, PVOID);
  FARPROC proc = NtdllFunction("NtAreMappedFilesTheSame");
  HANDLE mapping =
      CreateFileMappingW(ToHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr);
  void* view = mapping != nullptr
                   ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 1)
                   : nullptr;
  int same = 0;
  if (proc != nullptr && view != nullptr) {
    SameFilesFn same_files;
    memcpy(&same_files, &proc, sizeof(same_files));
    same = same_files(GetModuleHandleW(nullptr), view) >= 0;
  }
  if (view != nullptr) UnmapViewOfFile(view);
  if (mapping != nullptr) CloseHandle(mapping);
  return same;
}

FileHandle Win32Platform::CreateNewFile(FolderHandle folder, const char* name) {
  // CREATE_NEW fails on anything at the name, a link included, so nothing
  // outside the folder can be written through one. FILE_OPEN_REPARSE_POINT
  // is a second guard, for a system that would follow a link before it
  // looks at the disposition; no test here can tell it apart, since Wine's
  // create, like Windows', refuses a link by the disposition alone. Not
  // made where Wine could not move or remove it after: a held folder whose
  // name leads elsewhere.
  WidePlace wide(folder, name, true);
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
// in it, read what it is and flush the names made in it, and no more.
const DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE |
                            FILE_ADD_FILE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

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
  BY_HANDLE_FILE_INFORMATION info;
  if (held == nullptr || KindOfOpened(h, folder, wide, &info) != kPathFolder) {
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

namespace {

// A Windows path as the system makes it whole and names it back: without
// the "\\?\" prefix ("\\?\UNC\" is "\\"), or a separator at its end.
// Returns its length in out (kLongestPath characters), 0 when it has none.
size_t PlainPath(const wchar_t* path, wchar_t* out) {
  size_t n = GetFullPathNameW(path, kLongestPath, out, nullptr);
  if (n == 0 || n >= kLongestPath) return 0;
  size_t skip = 0;
  if (wcsncmp(out, L"\\\\?\\UNC\\", 8) == 0) {
    skip = 6;
    out[skip] = L'\\';
  } else if (wcsncmp(out, L"\\\\?\\", 4) == 0) {
    skip = 4;
  }
  wmemmove(out, out + skip, n - skip + 1);
  n -= skip;
  while (n > 0 && out[n - 1] == L'\\') out[--n] = L'\0';
  return n;
}

// True when the held folder's own final name is path's: no link or
// junction in any part of path led elsewhere.
bool IsNamedBy(const HeldFolder* held, const wchar_t* path) {
  wchar_t* buffer = new (std::nothrow) wchar_t[2 * kLongestPath];
  if (buffer == nullptr) return false;
  size_t a = PlainPath(held->path, buffer);
  size_t b = PlainPath(path, buffer + kLongestPath);
  bool same =
      a != 0 && a == b &&
      CompareStringOrdinal(buffer, static_cast<int>(a), buffer + kLongestPath,
                           static_cast<int>(b), TRUE) == CSTR_EQUAL;
  delete[] buffer;
  return same;
}

}  // namespace

FolderHandle Win32Platform::OpenFolderWithoutLinks(const char* path) {
  WidePath wide(path);
  if (wide.get() == nullptr) return Failed(), kNoFolder;
  FolderHandle folder = HoldFolderAt(wide.get());
  if (folder != kNoFolder && !IsNamedBy(Held(folder), wide.get())) {
    CloseFolder(folder);
    folder = kNoFolder;
    SetLastError(ERROR_CANT_ACCESS_FILE);
  }
  if (folder == kNoFolder) Failed();
  return folder;
}

void Win32Platform::CloseFolder(FolderHandle folder) {
  if (folder == kNoFolder) return;
  CloseHandle(Held(folder)->handle);
  delete[] Held(folder)->path;
  delete Held(folder);
}

int Win32Platform::FlushFolder(FolderHandle folder) {
  if (folder == kNoFolder) {
    SetLastError(ERROR_INVALID_HANDLE);
    return Failed();
  }
  // The folder's handle is opened for adding files, which the call needs.
  // A file system that refuses it leaves nothing more to do for one folder:
  // not a failure of the update.
  FlushFileBuffers(Held(folder)->handle);
  return 1;
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
  WidePlace pattern(folder, "*", true);
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

namespace {

// A read-only attribute a move cleared on its target, to give back to that
// same file if the move fails.
struct ClearedTarget {
  bool cleared = false;
  DWORD attributes = 0;
  BY_HANDLE_FILE_INFORMATION file;
};

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a,
              const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

// Makes what stands at to ready to be replaced by a move. Nothing, a link
// or a file that may be written needs nothing. A read-only file, where the
// move may replace one and it has no other name, has the attribute cleared
// through a handle on it: Windows replaces no read-only file, and then no
// other file than this one loses its attribute. False, with the reason as
// the last error, when the move must not be made.
bool ClearTarget(FolderHandle folder, const WidePlace& to,
                 bool replace_read_only, ClearedTarget* target) {
  HANDLE h = OpenForAttributes(folder, to, 0, kOpenForBackup);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  BY_HANDLE_FILE_INFORMATION info;
  PathKind kind = KindOfOpened(h, folder, to, &info);
  DWORD refusal = 0;
  if (kind == kPathFolder || kind == kPathOther) {
    refusal = ERROR_CANT_ACCESS_FILE;
  } else if (IsReadOnlyFile(kind, info)) {
    if (!replace_read_only || info.nNumberOfLinks != 1) {
      refusal = ERROR_CANT_ACCESS_FILE;
    } else if (!SetAttributes(
                   h, info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY)) {
      refusal = GetLastError();
    } else {
      target->cleared = true;
      target->attributes = info.dwFileAttributes;
      target->file = info;
    }
  }
  CloseHandle(h);
  SetLastError(refusal);
  return refusal == 0;
}

// Gives the attribute ClearTarget cleared back to the file it cleared it
// on, if that file is still the one at to.
void RestoreTarget(FolderHandle folder, const WidePlace& to,
                   const ClearedTarget& target) {
  if (!target.cleared) return;
  DWORD error = GetLastError();
  HANDLE h = OpenForAttributes(folder, to, 0, kNonDirectoryFile);
  BY_HANDLE_FILE_INFORMATION info;
  if (h != INVALID_HANDLE_VALUE) {
    if (KindOfOpened(h, folder, to, &info) == kPathFile &&
        SameFile(info, target.file)) {
      SetAttributes(h, target.attributes);
    }
    CloseHandle(h);
  }
  SetLastError(error);
}

// to as a rename through a handle names it: a part of the held folder, or
// the whole path as the system's own ("\??\C:\..."). nullptr when it has
// none; the caller frees it.
wchar_t* RenameTarget(FolderHandle folder, const WidePlace& to) {
  wchar_t* full = new (std::nothrow) wchar_t[kLongestPath + 8];
  if (full == nullptr) return nullptr;
  if (folder != kNoFolder) {
    wcscpy(full, to.part());
    return full;
  }
  size_t n = GetFullPathNameW(to.get(), kLongestPath, full + 8, nullptr);
  const wchar_t* rest = full + 8;
  const wchar_t* prefix = L"\\??\\";
  if (wcsncmp(rest, L"\\\\?\\", 4) == 0) {
    rest += 4;
  } else if (wcsncmp(rest, L"\\\\", 2) == 0) {
    rest += 2;
    prefix = L"\\??\\UNC\\";
  }
  if (n == 0 || n >= kLongestPath) {
    delete[] full;
    return nullptr;
  }
  size_t p = wcslen(prefix);
  wmemmove(full + p, rest, wcslen(rest) + 1);
  wmemcpy(full, prefix, p);
  return full;
}

// Renames the file open as source (with DELETE access) over to in one step,
// by NtSetInformationFile itself: Wine's SetFileInformationByHandle makes
// the new name a path of the working folder, whatever folder it is given.
bool RenameOver(HANDLE source, FolderHandle folder, const WidePlace& to) {
  typedef LONG(WINAPI * SetInformationFn)(HANDLE, IoStatus*, void*, ULONG,
                                          ULONG);
  typedef ULONG(WINAPI * StatusToErrorFn)(LONG);
  const ULONG kFileRenameInformation = 10;
  FARPROC set_proc = NtdllFunction("NtSetInformationFile");
  FARPROC error_proc = NtdllFunction("RtlNtStatusToDosError");
  wchar_t* name = RenameTarget(folder, to);
  size_t n = name != nullptr ? wcslen(name) : 0;
  size_t size = sizeof(FILE_RENAME_INFO) + n * sizeof(wchar_t);
  char* buffer = name != nullptr ? new (std::nothrow) char[size] : nullptr;
  bool renamed = false;
  if (buffer == nullptr || set_proc == nullptr || error_proc == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  } else {
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    memset(buffer, 0, size);
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = folder != kNoFolder ? Held(folder)->handle : nullptr;
    info->FileNameLength = static_cast<DWORD>(n * sizeof(wchar_t));
    wmemcpy(info->FileName, name, n + 1);
    SetInformationFn set_information;
    StatusToErrorFn to_error;
    memcpy(&set_information, &set_proc, sizeof(set_information));
    memcpy(&to_error, &error_proc, sizeof(to_error));
    IoStatus io = {0, 0};
    LONG status = set_information(source, &io, info, static_cast<ULONG>(size),
                                  kFileRenameInformation);
    renamed = status >= 0;
    if (!renamed) SetLastError(to_error(status));
  }
  delete[] buffer;
  delete[] name;
  return renamed;
}

}  // namespace

int Win32Platform::MoveFileOver(FolderHandle folder, const char* from,
                                const char* to, bool replace_read_only) {
  // Wine renames by the names of the file and the folder, held or not.
  WidePlace wide_from(folder, from, true);
  WidePlace wide_to(folder, to);
  if (wide_from.get() == nullptr || wide_to.get() == nullptr) return Failed();
  // Moved through a handle on it, opened as itself and told a file from
  // that handle: Wine, asked to move a link, would move what it leads to,
  // from wherever that lies, into the folder.
  HANDLE source =
      OpenPlace(folder, wide_from, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                kNonDirectoryFile | kOpenReparsePoint);
  if (source == INVALID_HANDLE_VALUE) return Failed();
  BY_HANDLE_FILE_INFORMATION info;
  ClearedTarget target;
  bool moved = false;
  if (KindOfOpened(source, folder, wide_from, &info) != kPathFile) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
  } else if (ClearTarget(folder, wide_to, replace_read_only, &target)) {
    // A rename within the volume: it has no write-through of its own; the
    // folder's flush after the moves is what asks for it.
    moved = RenameOver(source, folder, wide_to);
    if (!moved) RestoreTarget(folder, wide_to, target);
  }
  DWORD error = GetLastError();
  CloseHandle(source);
  SetLastError(error);
  return moved ? 1 : Failed();
}

int Win32Platform::RemoveFile(FolderHandle folder, const char* name) {
  // Wine deletes by the names of the file and the folder, held or not.
  WidePlace wide(folder, name, true);
  if (wide.get() == nullptr) return Failed();
  // Deleted through a handle on it, opened as itself: Windows deletes a
  // link itself, which its attributes show; a link they hide (Wine's) would
  // have what it leads to deleted, and is left alone. A read-only file goes
  // too, its attribute cleared through that handle, unless it has other
  // names, which would see the attribute go.
  HANDLE h = OpenForAttributes(folder, wide, DELETE, kNonDirectoryFile);
  if (h == INVALID_HANDLE_VALUE) return Failed();
  BY_HANDLE_FILE_INFORMATION info;
  PathKind kind = KindOfOpened(h, folder, wide, &info);
  bool read_only = IsReadOnlyFile(kind, info);
  bool itself = kind == kPathFile ||
                (kind == kPathLink &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
  FILE_DISPOSITION_INFO dispose = {TRUE};
  bool removed = false;
  if (!itself || (read_only && info.nNumberOfLinks != 1)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
  } else if (!read_only || SetAttributes(h, info.dwFileAttributes &
                                                ~FILE_ATTRIBUTE_READONLY)) {
    removed = SetFileInformationByHandle(h, FileDispositionInfo, &dispose,
                                         sizeof(dispose)) != 0;
    DWORD error = GetLastError();
    if (!removed && read_only) SetAttributes(h, info.dwFileAttributes);
    SetLastError(error);
  }
  DWORD error = GetLastError();
  CloseHandle(h);
  SetLastError(error);
  return removed ? 1 : Failed();
}

PathKind Win32Platform::GetPathKind(FolderHandle folder, const char* name) {
  WidePlace wide(folder, name);
  if (wide.get() == nullptr) return kPathOther;
  HANDLE h = OpenPlace(folder, wide, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       kOpenReparsePoint | kOpenForBackup);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? kPathMissing
               : kPathOther;
  }
  BY_HANDLE_FILE_INFORMATION info;
  PathKind kind = KindOfOpened(h, folder, wide, &info);
  CloseHandle(h);
  return kind;
}

int Win32Platform::CanMoveOver(FolderHandle folder, const char* name,
                               bool replace_read_only) {
  // As the move will be: by the held folder's name, which must lead to it.
  WidePlace wide(folder, name, true);
  if (wide.get() == nullptr) return Failed();
  HANDLE h = OpenPlace(folder, wide, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       kOpenReparsePoint | kOpenForBackup);
  if (h == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? 1 : Failed();
  }
  BY_HANDLE_FILE_INFORMATION info;
  PathKind kind = KindOfOpened(h, folder, wide, &info);
  CloseHandle(h);
  if (kind == kPathFolder || kind == kPathOther ||
      (IsReadOnlyFile(kind, info) &&
       (!replace_read_only || info.nNumberOfLinks != 1))) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return Failed();
  }
  if (kind != kPathFile) return 1;
  // The move opens its target for deleting; a handle of another process
  // that does not share deleting makes that fail, and so this open too.
  h = OpenPlace(folder, wide, DELETE | SYNCHRONIZE,
                kNonDirectoryFile | kOpenReparsePoint);
  if (h == INVALID_HANDLE_VALUE) return Failed();
  CloseHandle(h);
  return 1;
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
