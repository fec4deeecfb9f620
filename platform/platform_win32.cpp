// The Win32 backend of the platform layer: each function is one call, or a
// few, of the narrow-character Win32 API.
#include <string.h>
#include <windows.h>

#include "platform/platform.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

const DWORD kSequentialArchive =
    FILE_ATTRIBUTE_ARCHIVE | FILE_FLAG_SEQUENTIAL_SCAN;

}  // namespace

FileHandle OpenFileForRead(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, kSequentialArchive, nullptr);
  return reinterpret_cast<FileHandle>(h);
}

FileHandle CreateFileForWrite(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         kSequentialArchive, nullptr);
  return reinterpret_cast<FileHandle>(h);
}

uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) {
  DWORD done = 0;
  if (!ReadFile(ToHandle(file), buffer, n, &done, nullptr)) return 0;
  return done;
}

uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t n) {
  DWORD done = 0;
  if (!WriteFile(ToHandle(file), buffer, n, &done, nullptr)) return 0;
  return done;
}

uint32_t SetFilePosition(FileHandle file, uint32_t position) {
  // No high part: a position of 2^31 or more is a negative distance and the
  // call fails.
  return SetFilePointer(ToHandle(file), static_cast<LONG>(position), nullptr,
                        FILE_BEGIN);
}

uint32_t GetFileSizeLow(FileHandle file) {
  return GetFileSize(ToHandle(file), nullptr);
}

void CloseFileHandle(FileHandle file) { CloseHandle(ToHandle(file)); }

int FlushFileToDisk(FileHandle file) {
  return FlushFileBuffers(ToHandle(file)) != 0;
}

int MoveFileOver(const char* from, const char* to) {
  return MoveFileExA(from, to,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

void* AllocatePages(size_t size) {
  if (size == 0) return nullptr;
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreePages(void* pages, size_t) { VirtualFree(pages, 0, MEM_RELEASE); }

uint32_t ClearFileAttributes(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return kNoFileAttributes;
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  return attributes;
}

void RestoreFileAttributes(const char* path, uint32_t attributes) {
  if (attributes != kNoFileAttributes) SetFileAttributesA(path, attributes);
}

uint32_t GetOwnExecutablePath(char* buffer, uint32_t size) {
  DWORD n = GetModuleFileNameA(nullptr, buffer, size);
  // A path that did not fit comes back cut short; opening it would be wrong.
  if (n == 0 || n >= size) return 0;
  return n;
}

MutexHandle CreateNamedMutex(const char* name, uint32_t* last_error) {
  HANDLE h = CreateMutexA(nullptr, TRUE, name);
  *last_error = GetLastError();
  return reinterpret_cast<MutexHandle>(h);
}

void CloseNamedMutex(MutexHandle mutex) {
  if (mutex != kNoMutex) CloseHandle(reinterpret_cast<HANDLE>(mutex));
}

int32_t OpenMachineRegistryKey(const char* path, RegistryKey* key) {
  HKEY h = nullptr;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &h);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<RegistryKey>(h);
  return status;
}

int32_t QueryRegistryValue(RegistryKey key, const char* name, uint32_t* type,
                           uint8_t* data, uint32_t* size) {
  DWORD t = 0;
  DWORD n = *size;
  LONG status = RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &t,
                                 data, &n);
  *type = t;
  *size = n;
  return status;
}

void CloseRegistryKey(RegistryKey key) {
  RegCloseKey(reinterpret_cast<HKEY>(key));
}

int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
  return MessageBoxA(nullptr, text, caption, style);
}

void RestrictDllSearchPath() {
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
