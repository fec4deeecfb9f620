// SeqFile: the scoped handle through which every file is read or written
// whole. Results are plain integers; the handle is closed on destruction.
#ifndef PLATFORM_SEQ_FILE_H_
#define PLATFORM_SEQ_FILE_H_

#include <stdint.h>

#include "platform/platform.h"

class SeqFile {
 public:
  SeqFile() : handle_(kInvalidFileHandle) {}
  ~SeqFile() { Close(); }
  SeqFile(const SeqFile&) = delete;
  SeqFile& operator=(const SeqFile&) = delete;

  // Opens an existing file for reading, shared with readers only. Returns 0,
  // changing nothing, if this object is already open.
  int OpenRead(const char* path);

  // Opens the file at name in a held folder (Platform::OpenFolder), as
  // OpenRead.
  int OpenRead(FolderHandle folder, const char* name);

  // Opens the running program's own file for reading, shared with readers
  // only (Platform::OpenOwnExecutable), and only if it is the image the
  // program was started from.
  int OpenOwnExecutable();

  // Creates a new file for writing, unshared, at name in folder (or at the
  // path name with kNoFolder); fails if anything, a link included, stands
  // there. Returns 0, changing nothing, if this object is already open.
  int CreateNew(FolderHandle folder, const char* name);

  // Closes the handle if open; may be called any number of times.
  void Close();

  // One read of n bytes; the count read, 0 on failure.
  uint32_t Read(void* buffer, uint32_t n);

  // One write of n bytes; the count written, 0 on failure.
  uint32_t Write(const void* buffer, uint32_t n);

  // Nonzero once everything written is on the disk.
  int Flush();

  // Nonzero only if the file pointer is now at position (below 2^31).
  int Seek(uint32_t position);

  // The file's whole length; kInvalidFileLength when not open.
  uint64_t Size();

  bool IsOpen() const { return handle_ != kInvalidFileHandle; }

  // The handle, kInvalidFileHandle when not open: for mkupdate's interrupt
  // cleanup, which closes it on Windows before removing the file.
  FileHandle handle() const { return handle_; }

 private:
  int Open(FileHandle handle);

  FileHandle handle_;
};

#endif  // PLATFORM_SEQ_FILE_H_
