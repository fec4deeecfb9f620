// The system's own platform as mkupdate apply hands it to the updater's
// run: every call passes through unchanged, and the last one that failed
// for a reason the run cannot give (a file it could not create, write,
// flush or move, a folder it could not open, a file another program held)
// is noted, with the name it acted on and the system's reason, so that
// apply can say what failed where the updater only has its result code.
#ifndef TOOLS_MKUPDATE_NOTING_PLATFORM_H_
#define TOOLS_MKUPDATE_NOTING_PLATFORM_H_

#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/tool_system.h"

// What failed: "<path>: cannot create it", the system's reason, and
// whether it is the machine's (no room left, ...).
struct NotedFailure {
  std::string path;  // in the tool's text, folders joined as the system does
  std::string what;  // "cannot create it", "held by another program", ...
  SystemError error;
  bool noted = false;
};

class NotingPlatform final : public Platform {
 public:
  // Passes every call to inner, which takes the updater's paths.
  explicit NotingPlatform(Platform* inner) : inner_(inner) {}

  const NotedFailure& failure() const { return failure_; }

  FileHandle OpenFileForRead(FolderHandle folder, const char* name) override;
  FileHandle OpenOwnExecutable() override;
  int IsOwnImage(FileHandle file) override { return inner_->IsOwnImage(file); }
  FileHandle CreateNewFile(FolderHandle folder, const char* name) override;
  uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) override;
  uint32_t WriteFileBytes(FileHandle file, const void* buffer,
                          uint32_t n) override;
  uint32_t SetFilePosition(FileHandle file, uint32_t position) override;
  uint64_t GetFileLength(FileHandle file) override;
  void CloseFileHandle(FileHandle file) override;
  int FlushFileToDisk(FileHandle file) override;
  FolderHandle OpenFolder(FolderHandle folder, const char* name) override;
  FolderHandle OpenFolderWithoutLinks(const char* path) override;
  FolderHandle OpenFolderOf(const char* path) override;
  void CloseFolder(FolderHandle folder) override;
  int FlushFolder(FolderHandle folder) override;
  int ListFolder(FolderHandle folder, FolderEntryFn fn, void* context) override;
  int MoveFileOver(FolderHandle folder, const char* from, const char* to,
                   bool replace_read_only) override;
  int RemoveFile(FolderHandle folder, const char* name) override;
  PathKind GetPathKind(FolderHandle folder, const char* name) override;
  int CanMoveOver(FolderHandle folder, const char* name,
                  bool replace_read_only) override;
  FileError LastFileError() override { return inner_->LastFileError(); }
  int MakeExecutable(const char* path) override;
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
  // The name in folder as the tool shows it.
  std::string Shown(FolderHandle folder, const char* name) const;
  // Notes a folder or something else that is no file where a file goes.
  void NoteWhatStands(FolderHandle folder, const char* name, PathKind kind);
  // Notes a failure of the call just made, with the system's reason.
  void Note(const std::string& path, const char* what);

  Platform* inner_;
  NotedFailure failure_;
  std::map<FolderHandle, std::string> folders_;
  std::map<FileHandle, std::string> files_;
};

#endif  // TOOLS_MKUPDATE_NOTING_PLATFORM_H_
