#include "platform/seq_file.h"

int SeqFile::OpenRead(const char* path) {
  if (IsOpen()) return 0;
  return Open(OpenFileForRead(path));
}

int SeqFile::OpenWrite(const char* path) {
  if (IsOpen()) return 0;
  return Open(CreateFileForWrite(path));
}

int SeqFile::Open(FileHandle handle) {
  handle_ = handle;
  return IsOpen();
}

void SeqFile::Close() {
  if (!IsOpen()) return;
  CloseFileHandle(handle_);
  handle_ = kInvalidFileHandle;
}

uint32_t SeqFile::Read(void* buffer, uint32_t n) {
  if (!IsOpen()) return 0;
  return ReadFileBytes(handle_, buffer, n);
}

uint32_t SeqFile::Write(const void* buffer, uint32_t n) {
  if (!IsOpen()) return 0;
  return WriteFileBytes(handle_, buffer, n);
}

int SeqFile::Flush() { return IsOpen() && FlushFileToDisk(handle_); }

int SeqFile::Seek(uint32_t position) {
  // The failure value 0xFFFFFFFF must not pass for reaching 0xFFFFFFFF; no
  // position from 2^31 on can be reached anyway.
  if (!IsOpen() || position >= 0x80000000u) return 0;
  return SetFilePosition(handle_, position) == position;
}

uint32_t SeqFile::Size() {
  if (!IsOpen()) return kInvalidFileValue;
  return GetFileSizeLow(handle_);
}
