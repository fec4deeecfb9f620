#include "platform/file_replace.h"

#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

// The whole of data in a new file at temp_path, on the disk when this
// returns nonzero.
int WriteFlushed(const char* temp_path, const void* data, uint32_t n) {
  // A file left by a killed run is ours to replace, read-only or not.
  ClearFileAttributes(temp_path);
  SeqFile file;
  return file.OpenWrite(temp_path) && file.Write(data, n) == n && file.Flush();
}

}  // namespace

int TempPathFor(const char* path, char* out) {
  return JoinWithSuffix(path, kTempSuffix, out, kMaxPath);
}

int ReplaceWholeFile(const char* path, const void* data, uint32_t n,
                     bool clear_attributes) {
  char temp_path[kMaxPath];
  if (!TempPathFor(path, temp_path)) return 0;
  if (!WriteFlushed(temp_path, data, n)) {
    RemoveFile(temp_path);
    return 0;
  }
  uint32_t attributes =
      clear_attributes ? ClearFileAttributes(path) : kNoFileAttributes;
  if (MoveFileOver(temp_path, path)) return 1;
  RestoreFileAttributes(path, attributes);
  RemoveFile(temp_path);
  return 0;
}
