#include "platform/seq_file.h"

int SeqFile::OpenRead(const char* path) { return OpenRead(kNoFolder, path); }

int SeqFile::OpenRead(FolderHandle folder, const char* name) {
  if (IsOpen()) return 0;
  return Open(Sys()->OpenFileForRead(folder, name));
}

int SeqFile::OpenOwnExecutable() {
  if (IsOpen()) return 0;
  // What was put at the program's name after it started is somebody else's
  // update, however alike.
  if (Open(Sys()->OpenOwnExecutable()) && !Sys()->IsOwnImage(handle_)) {
    Close();
  }
  return IsOpen();
}

int SeqFile::CreateNew(FolderHandle folder, const char* name) {
  if (IsOpen()) return 0;
  return Open(Sys()->CreateNewFile(folder, name));
}

int SeqFile::Open(FileHandle handle) {
  handle_ = handle;
  return IsOpen();
}

void SeqFile::Close() {
  if (!IsOpen()) return;
  Sys()->CloseFileHandle(handle_);
  handle_ = kInvalidFileHandle;
}

uint32_t SeqFile::Read(void* buffer, uint32_t n) {
  if (!IsOpen()) return 0;
  return Sys()->ReadFileBytes(handle_, buffer, n);
}

uint32_t SeqFile::Write(const void* buffer, uint32_t n) {
  if (!IsOpen()) return 0;
  return Sys()->WriteFileBytes(handle_, buffer, n);
}

int SeqFile::Flush() { return IsOpen() && Sys()->FlushFileToDisk(handle_); }

int SeqFile::Seek(uint32_t position) {
  // The failure value 0xFFFFFFFF must not pass for reaching 0xFFFFFFFF; no
  // position from 2^31 on can be reached anyway.
  if (!IsOpen() || position >= 0x80000000u) return 0;
  return Sys()->SetFilePosition(handle_, position) == position;
}

uint64_t SeqFile::Size() {
  if (!IsOpen()) return kInvalidFileLength;
  return Sys()->GetFileLength(handle_);
}
