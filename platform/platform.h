// The thin layer over the operating system. Everything the updater asks of
// the system goes through these functions; platform_win32.cpp implements
// them with the Win32 API, platform_posix.cpp with a small POSIX stand-in.
// Results follow the Win32 calls they stand for, so the logic above reads
// the same on both.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>

// A file handle; kInvalidFileHandle (all bits set) marks "not open".
typedef intptr_t FileHandle;
const FileHandle kInvalidFileHandle = -1;

// Returned by GetFileSizeLow and SetFilePosition on failure.
const uint32_t kInvalidFileValue = 0xFFFFFFFFu;

// Opens an existing file for sequential reading, shared with other readers.
// Returns kInvalidFileHandle on failure.
FileHandle OpenFileForRead(const char* path);

// Creates a file, or truncates an existing one, for sequential writing with
// no sharing: fails (without truncating) while another handle holds it.
FileHandle CreateFileForWrite(const char* path);

// One read of up to n bytes; returns the count read, 0 if the call failed.
uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n);

// One write of n bytes; returns the count stored, 0 if nothing was.
uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t n);

// Moves the file pointer to the absolute position; returns the new position
// or kInvalidFileValue. Positions of 2^31 and beyond cannot be reached.
uint32_t SetFilePosition(FileHandle file, uint32_t position);

// The low 32 bits of the file's length, or kInvalidFileValue.
uint32_t GetFileSizeLow(FileHandle file);

// Releases the handle. The handle must be open.
void CloseFileHandle(FileHandle file);

// Writes all the system still holds of the file's data to the disk, and
// returns nonzero once it is there.
int FlushFileToDisk(FileHandle file);

// Moves the file at from over the file at to (which may not exist yet) in
// one step, and returns nonzero once the move is on the disk. Fails,
// leaving both as they were, when to is read-only, held open by another
// process, or a folder.
int MoveFileOver(const char* from, const char* to);

// Deletes the file; nonzero on success.
int RemoveFile(const char* path);

// Memory for file contents, straight from the system in whole pages rather
// than from the heap, so that it can be kept from one file to the next and
// its pages are touched once. Huge pages where the system offers them.
// Returns nullptr when size is 0 or the memory cannot be had.
void* AllocatePages(size_t size);

// Returns memory from AllocatePages; size as it was asked for.
void FreePages(void* pages, size_t size);

// What ClearFileAttributes returns when there is no file or it could not
// read its attributes.
const uint32_t kNoFileAttributes = 0xFFFFFFFFu;

// Clears the read-only (and on Windows hidden and system) attributes of an
// existing file, and returns the attributes it had, for
// RestoreFileAttributes; failure is harmless.
uint32_t ClearFileAttributes(const char* path);

// Gives the file back attributes that ClearFileAttributes returned; does
// nothing for kNoFileAttributes.
void RestoreFileAttributes(const char* path, uint32_t attributes);

// Writes the running program's full path into buffer (size bytes). Returns
// its length, or 0 if it could not be had whole (the buffer may then hold a
// path cut short).
uint32_t GetOwnExecutablePath(char* buffer, uint32_t size);

// A named, machine-wide mutex; kNoMutex when none was obtained.
typedef intptr_t MutexHandle;
const MutexHandle kNoMutex = 0;
const uint32_t kErrorAlreadyExists = 183;

// Creates the named mutex with initial ownership. *last_error is 0 only when
// this call created it; kErrorAlreadyExists when another process holds it.
MutexHandle CreateNamedMutex(const char* name, uint32_t* last_error);

// Releases the handle, and with it the ownership taken by CreateNamedMutex.
void CloseNamedMutex(MutexHandle mutex);

// Registry access under HKEY_LOCAL_MACHINE. Statuses are 0 on success.
typedef intptr_t RegistryKey;
const uint32_t kRegistryValueSz = 1;    // REG_SZ
const int32_t kRegistryMoreData = 234;  // ERROR_MORE_DATA

// Opens the key (a "\"-separated path in code page 932) for reading.
int32_t OpenMachineRegistryKey(const char* path, RegistryKey* key);

// Reads a value: *size holds the buffer size and receives the value's length;
// *type receives its type. A value longer than the buffer is an error.
int32_t QueryRegistryValue(RegistryKey key, const char* name, uint32_t* type,
                           uint8_t* data, uint32_t* size);

void CloseRegistryKey(RegistryKey key);

// Message box styles and answers, with the Win32 values.
const uint32_t kBoxInformation = 0x40;  // MB_ICONINFORMATION, OK
const uint32_t kBoxWarning = 0x30;      // MB_ICONWARNING, OK
const uint32_t kBoxQuestion = 0x124;  // MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2
const int kAnswerYes = 6;             // IDYES

// Shows a modal message box with no owner; text and caption are code page
// 932. Returns the button pressed.
int ShowMessageBox(const char* text, const char* caption, uint32_t style);

// Keeps the process from loading DLLs out of its own folder, where the
// system supports it. Harmless where there is nothing to restrict.
void RestrictDllSearchPath();

#endif  // PLATFORM_PLATFORM_H_
