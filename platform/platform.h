// The door to the operating system. Everything the updater and mkupdate ask
// of the system goes through a Platform: platform_win32.cpp implements it
// with the Win32 API, platform_posix.cpp with a small POSIX stand-in, and
// the tests put a fake in its place (testing/fake_platform.h). Results
// follow the Win32 calls they stand for, so the logic reads the same on
// every one.
#ifndef PLATFORM_PLATFORM_H_
#define PLATFORM_PLATFORM_H_

#include <stddef.h>
#include <stdint.h>

// A file handle; kInvalidFileHandle (all bits set) marks "not open".
typedef intptr_t FileHandle;
const FileHandle kInvalidFileHandle = -1;

// Returned by SetFilePosition on failure.
const uint32_t kInvalidFileValue = 0xFFFFFFFFu;
// Returned by GetFileLength on failure.
const uint64_t kInvalidFileLength = ~uint64_t{0};

// What stands at a path, as GetPathKind tells it. A link is any symbolic
// link, junction or other reparse point, whatever it leads to.
enum PathKind {
  kPathMissing,
  kPathFile,
  kPathFolder,
  kPathLink,
  kPathOther,  // a device, or anything that cannot be told
};

// Why the last file call failed, as LastFileError tells it.
enum FileError {
  kFileErrorNone,
  kFileErrorBusy,    // another process holds the file (a sharing or lock
                     // violation, or access denied while it is held)
  kFileErrorExists,  // something already stands at the name
  kFileErrorOther,
};

// A named, machine-wide mutex; kNoMutex when none was obtained.
typedef intptr_t MutexHandle;
const MutexHandle kNoMutex = 0;
const uint32_t kErrorAlreadyExists = 183;

// Registry access under HKEY_LOCAL_MACHINE. Statuses are 0 on success.
typedef intptr_t RegistryKey;
const uint32_t kRegistryValueSz = 1;    // REG_SZ
const int32_t kRegistryMoreData = 234;  // ERROR_MORE_DATA

// Message box styles and answers, with the Win32 values.
const uint32_t kBoxInformation = 0x40;  // MB_ICONINFORMATION, OK
const uint32_t kBoxWarning = 0x30;      // MB_ICONWARNING, OK
const uint32_t kBoxQuestion = 0x124;  // MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2
const int kAnswerYes = 6;             // IDYES

// A folder held open by the run, through which the files in it are named;
// kNoFolder instead names a file by its whole path. While held, a folder
// cannot be renamed or removed (on Windows; the POSIX stand-in names
// everything through the descriptor, which follows the folder wherever it
// goes), so a name checked in it stays a name in it.
typedef intptr_t FolderHandle;
const FolderHandle kNoFolder = -1;

// Called by ListFolder for each name in a folder with what stands there
// (links not followed); a nonzero result stops the listing.
typedef int (*FolderEntryFn)(void* context, const char* name, PathKind kind);

class Platform {
 public:
  // Files. A file is named by a folder and a name in it: with a held folder
  // the name is one part, no separator; with kNoFolder it is a path. Names
  // are narrow: code page 932 with backslashes, or the tool's text
  // (UsePathCoding). The system keeps names in its own characters (Windows
  // UTF-16, the POSIX stand-in UTF-8), converted from and, when a folder is
  // listed, back to code page 932. Windows compares names without regard to
  // letter case; the stand-in's disk does not.

  // Opens an existing file for sequential reading, shared with other
  // readers. In a held folder the name is opened as itself: a link there,
  // or a file that has other names (hard links), is never opened, since
  // what it leads to may lie outside. Returns kInvalidFileHandle on failure.
  virtual FileHandle OpenFileForRead(FolderHandle folder, const char* name) = 0;

  // Opens the running program's own file for reading, shared with readers
  // only, by the name the system gives for it in its own characters, so
  // that it opens from any folder. Until it is closed nobody can change,
  // rename or remove it (on Windows; the POSIX stand-in opens the image
  // itself).
  virtual FileHandle OpenOwnExecutable() = 0;

  // Nonzero when the open file is the image the running program was
  // started from, whatever its name is now: a file put at the program's
  // name after it started is never taken for it.
  virtual int IsOwnImage(FileHandle file) = 0;

  // Creates a new file for sequential writing, with no sharing. Fails with
  // kFileErrorExists when anything stands at the name, a link included,
  // which is never followed.
  virtual FileHandle CreateNewFile(FolderHandle folder, const char* name) = 0;

  // One read of up to n bytes; returns the count read, 0 if the call failed.
  virtual uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) = 0;

  // One write of n bytes; returns the count stored, 0 if nothing was.
  virtual uint32_t WriteFileBytes(FileHandle file, const void* buffer,
                                  uint32_t n) = 0;

  // Moves the file pointer to the absolute position; returns the new
  // position or kInvalidFileValue. Positions of 2^31 and beyond cannot be
  // reached.
  virtual uint32_t SetFilePosition(FileHandle file, uint32_t position) = 0;

  // The file's whole length, or kInvalidFileLength.
  virtual uint64_t GetFileLength(FileHandle file) = 0;

  // Releases the handle. The handle must be open.
  virtual void CloseFileHandle(FileHandle file) = 0;

  // Writes all the system still holds of the file's data to the disk, and
  // returns nonzero once it is there. The file's name is the folder's:
  // FlushFolder. On Windows this is FlushFileBuffers: the file's data and
  // its length, and a request to the disk to empty its own cache; a disk
  // that ignores that request (or a volume whose cache flushing the policy
  // turned off) can still lose what was "flushed".
  virtual int FlushFileToDisk(FileHandle file) = 0;

  // Opens and holds the folder at name in folder, never through a link or
  // junction: anything but a real folder there fails. With kNoFolder, name
  // is a path, whose links are followed; what is held is the folder it
  // leads to. Returns kNoFolder on failure.
  virtual FolderHandle OpenFolder(FolderHandle folder, const char* name) = 0;

  // Opens and holds the folder at path only when path names it itself: no
  // part of it is a link or junction, so the folder held is the one at that
  // path and not one a link in a folder above could lead to. Told from the
  // held folder's own final name, compared with path as the system makes
  // it whole (letter case, separators and a trailing one aside). Returns
  // kNoFolder otherwise.
  virtual FolderHandle OpenFolderWithoutLinks(const char* path) = 0;

  // Opens and holds, as OpenFolder with kNoFolder, the folder that holds
  // the file at path (the working folder when path names none).
  virtual FolderHandle OpenFolderOf(const char* path) = 0;

  // Releases a folder from OpenFolder.
  virtual void CloseFolder(FolderHandle folder) = 0;

  // Puts the folder's entries on the disk: every file created, moved in or
  // out, or removed in it so far. Nonzero once they are there. Moves are
  // durable only once their folder is flushed (some systems make them so
  // sooner, in order); moves that must follow each other closely are made
  // first and their folders flushed after. POSIX: fsync of the folder.
  // Windows: FlushFileBuffers on the folder's handle, which Windows
  // documents for files and volumes only; Wine syncs the folder for it, and
  // NTFS keeps a rename in its journal in order with creations and
  // removals, so that a power cut keeps an in-order prefix of them. Where
  // the file system refuses the call there is nothing more one folder's
  // handle can do: the backend goes on as if it had been made. Only
  // FlushFileBuffers on the volume (administrators only, and every file of
  // the volume) is documented to put every rename on the disk.
  virtual int FlushFolder(FolderHandle folder) = 0;

  // Calls fn for every name in the folder but "." and "..", in no set
  // order; nonzero when the whole folder was listed or fn stopped it.
  virtual int ListFolder(FolderHandle folder, FolderEntryFn fn,
                         void* context) = 0;

  // Moves the file from over the file to (which may not exist yet), both
  // in folder (with kNoFolder, two paths of one folder), in one step;
  // nonzero on success. Only a file is moved: a link at from is never
  // moved, nor what it leads to. A link at to is replaced itself, never
  // what it leads to. A read-only file at to is refused, unless
  // replace_read_only: then it is replaced, and no file that stays loses
  // the attribute; one that has other names (hard links) is refused all
  // the same, since Windows lets a read-only file be replaced only once its
  // attribute is cleared, which its other names would see. Fails, leaving
  // both as they were, when to is held open by another process
  // (kFileErrorBusy), read-only, or a folder.
  virtual int MoveFileOver(FolderHandle folder, const char* from,
                           const char* to, bool replace_read_only) = 0;

  // Deletes the file, read-only or not, or the link itself, never what a
  // link leads to; nonzero on success. A read-only file that has other
  // names is refused, for the reason MoveFileOver gives.
  virtual int RemoveFile(FolderHandle folder, const char* name) = 0;

  // What stands at the name, links not followed, told from a handle opened
  // on it as itself.
  virtual PathKind GetPathKind(FolderHandle folder, const char* name) = 0;

  // Nonzero when MoveFileOver with replace_read_only could replace what
  // stands at name now: nothing, a link, or a file no other process holds
  // open that such a move replaces. Fails with kFileErrorBusy while another
  // process holds the file, kFileErrorOther for what the move refuses
  // whoever holds it (a folder, a read-only file it may not replace).
  virtual int CanMoveOver(FolderHandle folder, const char* name,
                          bool replace_read_only) = 0;

  // Why the last file call that failed did.
  virtual FileError LastFileError() = 0;

  // Gives the file the permissions of a new program (everyone may run it,
  // less the umask), for the update mkupdate writes; nonzero on success.
  // Windows files carry no such bit: nothing to do there.
  virtual int MakeExecutable(const char* path) = 0;

  // Waits about the given time.
  virtual void Sleep(uint32_t milliseconds) = 0;

  // Memory for file contents, straight from the system in whole pages, so
  // that it is touched once. Returns nullptr when size is 0 or the memory
  // cannot be had.
  virtual void* AllocatePages(size_t size) = 0;

  // Returns memory from AllocatePages; size as it was asked for.
  virtual void FreePages(void* pages, size_t size) = 0;

  // Creates the named mutex with initial ownership. *last_error is 0 only
  // when this call created it; kErrorAlreadyExists when another process
  // holds it.
  virtual MutexHandle CreateNamedMutex(const char* name,
                                       uint32_t* last_error) = 0;

  // Releases the handle, and with it the ownership CreateNamedMutex took.
  virtual void CloseNamedMutex(MutexHandle mutex) = 0;

  // Opens the key (a "\"-separated path in code page 932) for reading.
  virtual int32_t OpenMachineRegistryKey(const char* path,
                                         RegistryKey* key) = 0;

  // Reads a value: *size holds the buffer size and receives the value's
  // length; *type receives its type. A value longer than the buffer is an
  // error.
  virtual int32_t QueryRegistryValue(RegistryKey key, const char* name,
                                     uint32_t* type, uint8_t* data,
                                     uint32_t* size) = 0;

  virtual void CloseRegistryKey(RegistryKey key) = 0;

  // Shows a modal message box with no owner; text and caption are code
  // page 932. Returns the button pressed.
  virtual int ShowMessageBox(const char* text, const char* caption,
                             uint32_t style) = 0;

  // Keeps the process from loading DLLs out of its own folder, and from
  // following junctions that no administrator made, where the system
  // supports it. Harmless where there is nothing to restrict.
  virtual void HardenProcess() = 0;

 protected:
  ~Platform() = default;
};

// The platform every caller goes through: the system's own, or what a test
// has put in its place.
Platform* Sys();

// Puts platform in the place of the system's for every later call; nullptr
// brings the system's back. For tests; nothing may be open across a swap.
void UsePlatform(Platform* platform);

// The system's own platform: the Win32 backend or the POSIX stand-in,
// whichever this build links.
Platform* SystemPlatform();

// How the system's own platform reads the paths it is given.
enum PathCoding {
  // The updater's: code page 932 (on Windows the system's narrow code page,
  // as the narrow calls take it) with backslashes, which the POSIX stand-in
  // turns into UTF-8 with slashes; a name that is no code page 932 text
  // names nothing there.
  kUpdaterPaths,
  // mkupdate's text (platform/code_page.h): UTF-8 on Windows; on POSIX the
  // bytes as they are, where a backslash is a character of a name.
  kToolPaths,
};

// Makes the system's own platform read every later path as coding says;
// kUpdaterPaths until this is called. Nothing may be open across a change.
void UsePathCoding(PathCoding coding);

#endif  // PLATFORM_PLATFORM_H_
