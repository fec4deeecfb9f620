#include "tools/mkupdate/noting_platform.h"

#include <filesystem>

#include "tools/mkupdate/names.h"

std::string NotingPlatform::Shown(FolderHandle folder, const char* name) const {
  std::string shown = ShownName(name);
  // The run joins with backslashes; the system's own separator is shown.
  const char separator = std::filesystem::path::preferred_separator;
  for (char& c : shown) c = c == '\\' ? separator : c;
  auto held = folders_.find(folder);
  if (held == folders_.end()) return shown;
  return held->second + separator + shown;
}

void NotingPlatform::Note(const std::string& path, const char* what) {
  failure_.error = LastSystemError();
  failure_.path = path;
  failure_.what = what;
  failure_.noted = true;
}

FileHandle NotingPlatform::OpenFileForRead(FolderHandle folder,
                                           const char* name) {
  FileHandle file = inner_->OpenFileForRead(folder, name);
  if (file == kInvalidFileHandle) Note(Shown(folder, name), "cannot open it");
  if (file != kInvalidFileHandle) files_[file] = Shown(folder, name);
  return file;
}

FileHandle NotingPlatform::OpenOwnExecutable() {
  return inner_->OpenOwnExecutable();
}

FileHandle NotingPlatform::CreateNewFile(FolderHandle folder,
                                         const char* name) {
  FileHandle file = inner_->CreateNewFile(folder, name);
  if (file == kInvalidFileHandle) Note(Shown(folder, name), "cannot create it");
  if (file != kInvalidFileHandle) files_[file] = Shown(folder, name);
  return file;
}

uint32_t NotingPlatform::ReadFileBytes(FileHandle file, void* buffer,
                                       uint32_t n) {
  uint32_t done = inner_->ReadFileBytes(file, buffer, n);
  if (done < n) Note(files_[file], "cannot read it in full");
  return done;
}

uint32_t NotingPlatform::WriteFileBytes(FileHandle file, const void* buffer,
                                        uint32_t n) {
  uint32_t done = inner_->WriteFileBytes(file, buffer, n);
  if (done < n) Note(files_[file], "cannot write it");
  return done;
}

uint32_t NotingPlatform::SetFilePosition(FileHandle file, uint32_t position) {
  return inner_->SetFilePosition(file, position);
}

uint64_t NotingPlatform::GetFileLength(FileHandle file) {
  return inner_->GetFileLength(file);
}

void NotingPlatform::CloseFileHandle(FileHandle file) {
  files_.erase(file);
  inner_->CloseFileHandle(file);
}

int NotingPlatform::FlushFileToDisk(FileHandle file) {
  int flushed = inner_->FlushFileToDisk(file);
  if (!flushed) Note(files_[file], "cannot put it on the disk");
  return flushed;
}

FolderHandle NotingPlatform::OpenFolder(FolderHandle folder, const char* name) {
  FolderHandle opened = inner_->OpenFolder(folder, name);
  if (opened == kNoFolder) Note(Shown(folder, name), "cannot open the folder");
  if (opened != kNoFolder) folders_[opened] = Shown(folder, name);
  return opened;
}

FolderHandle NotingPlatform::OpenFolderWithoutLinks(const char* path) {
  FolderHandle opened = inner_->OpenFolderWithoutLinks(path);
  if (opened == kNoFolder)
    Note(Shown(kNoFolder, path), "cannot open the folder");
  if (opened != kNoFolder) folders_[opened] = Shown(kNoFolder, path);
  return opened;
}

FolderHandle NotingPlatform::OpenFolderOf(const char* path) {
  return inner_->OpenFolderOf(path);
}

void NotingPlatform::CloseFolder(FolderHandle folder) {
  folders_.erase(folder);
  inner_->CloseFolder(folder);
}

int NotingPlatform::FlushFolder(FolderHandle folder) {
  int flushed = inner_->FlushFolder(folder);
  if (!flushed) Note(folders_[folder], "cannot put the folder on the disk");
  return flushed;
}

int NotingPlatform::ListFolder(FolderHandle folder, FolderEntryFn fn,
                               void* context) {
  return inner_->ListFolder(folder, fn, context);
}

int NotingPlatform::MoveFileOver(FolderHandle folder, const char* from,
                                 const char* to, bool replace_read_only) {
  int moved = inner_->MoveFileOver(folder, from, to, replace_read_only);
  if (!moved) Note(Shown(folder, to), "cannot replace it");
  return moved;
}

// Removals are the run's tidying up, whose failures it expects: what
// failed before them is what ended the run.
int NotingPlatform::RemoveFile(FolderHandle folder, const char* name) {
  return inner_->RemoveFile(folder, name);
}

PathKind NotingPlatform::GetPathKind(FolderHandle folder, const char* name) {
  PathKind kind = inner_->GetPathKind(folder, name);
  NoteWhatStands(folder, name, kind);
  return kind;
}

// The run asks only where a file goes: anything else there stops it.
void NotingPlatform::NoteWhatStands(FolderHandle folder, const char* name,
                                    PathKind kind) {
  if (kind != kPathFolder && kind != kPathOther) return;
  Note(Shown(folder, name), kind == kPathFolder
                                ? "a folder stands where a file goes"
                                : "something that is no file stands there");
  failure_.error = SystemError();
}

int NotingPlatform::CanMoveOver(FolderHandle folder, const char* name,
                                bool replace_read_only) {
  int can = inner_->CanMoveOver(folder, name, replace_read_only);
  if (can) return can;
  if (inner_->LastFileError() == kFileErrorBusy) {
    Note(Shown(folder, name), "another program holds it open");
    return can;
  }
  Note(Shown(folder, name), "it cannot be replaced");
  NoteWhatStands(folder, name, inner_->GetPathKind(folder, name));
  return can;
}

int NotingPlatform::MakeExecutable(const char* path) {
  return inner_->MakeExecutable(path);
}

void NotingPlatform::Sleep(uint32_t milliseconds) {
  inner_->Sleep(milliseconds);
}

void* NotingPlatform::AllocatePages(size_t size) {
  return inner_->AllocatePages(size);
}

void NotingPlatform::FreePages(void* pages, size_t size) {
  inner_->FreePages(pages, size);
}

MutexHandle NotingPlatform::CreateNamedMutex(const char* name,
                                             uint32_t* last_error) {
  return inner_->CreateNamedMutex(name, last_error);
}

void NotingPlatform::CloseNamedMutex(MutexHandle mutex) {
  inner_->CloseNamedMutex(mutex);
}

int32_t NotingPlatform::OpenMachineRegistryKey(const char* path,
                                               RegistryKey* key) {
  return inner_->OpenMachineRegistryKey(path, key);
}

int32_t NotingPlatform::QueryRegistryValue(RegistryKey key, const char* name,
                                           uint32_t* type, uint8_t* data,
                                           uint32_t* size) {
  return inner_->QueryRegistryValue(key, name, type, data, size);
}

void NotingPlatform::CloseRegistryKey(RegistryKey key) {
  inner_->CloseRegistryKey(key);
}

int NotingPlatform::ShowMessageBox(const char* text, const char* caption,
                                   uint32_t style) {
  return inner_->ShowMessageBox(text, caption, style);
}

void NotingPlatform::HardenProcess() { inner_->HardenProcess(); }
