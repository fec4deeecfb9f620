#include "platform/file_replace.h"

#include "platform/path.h"
#include "platform/platform.h"

int TempPathFor(const char* path, char* out) {
  return JoinWithSuffix(path, kTempSuffix, out, kMaxPath);
}

bool PauseWhileBusy(FileError error, int* tries) {
  if (error != kFileErrorBusy || ++*tries >= kBusyTries) return false;
  Sys()->Sleep(kBusyPauseMs);
  return true;
}

int CreateTempFile(const char* temp_path, SeqFile* file) {
  for (int tries = 0;;) {
    // A file left by a killed run is ours to replace, read-only or not; a
    // link keeps whatever it leads to as it was.
    Sys()->ClearFileAttributes(temp_path);
    if (Sys()->RemoveFile(temp_path) ||
        Sys()->LastFileError() != kFileErrorBusy) {
      // Anything that appears at the name from here on makes this fail.
      if (file->CreateNew(temp_path)) return 1;
    }
    if (!PauseWhileBusy(Sys()->LastFileError(), &tries)) return 0;
  }
}

int WaitUntilFree(const char* path) {
  for (int tries = 0;;) {
    if (Sys()->FileIsFree(path)) return 1;
    if (!PauseWhileBusy(Sys()->LastFileError(), &tries)) return 0;
  }
}

int MoveTempOver(const char* temp_path, const char* path,
                 bool clear_attributes) {
  for (int tries = 0;;) {
    uint32_t attributes =
        clear_attributes ? Sys()->ClearFileAttributes(path) : kNoFileAttributes;
    if (Sys()->MoveFileOver(temp_path, path)) return 1;
    FileError error = Sys()->LastFileError();
    Sys()->RestoreFileAttributes(path, attributes);
    if (!PauseWhileBusy(error, &tries)) return 0;
  }
}

int WriteTempFile(const char* path, const void* data, uint32_t n) {
  char temp_path[kMaxPath];
  if (!TempPathFor(path, temp_path)) return 0;
  SeqFile file;
  if (!CreateTempFile(temp_path, &file)) return 0;
  int written = file.Write(data, n) == n && file.Flush();
  file.Close();
  if (!written) Sys()->RemoveFile(temp_path);
  return written;
}
