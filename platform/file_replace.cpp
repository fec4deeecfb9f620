#include "platform/file_replace.h"

#include <string.h>

#include "platform/path.h"
#include "platform/platform.h"

int TempPathFor(const char* name, char* out) {
  return JoinWithSuffix(name, kTempSuffix, out, kMaxPath);
}

bool HasTempSuffix(const char* name) {
  size_t n = strlen(name);
  size_t suffix = sizeof(kTempSuffix) - 1;
  if (n < suffix) return false;
  for (size_t i = 0; i < suffix; i++) {
    char c = name[n - suffix + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kTempSuffix[i]) return false;
  }
  return true;
}

bool PauseWhileBusy(FileError error, int* tries) {
  if (error != kFileErrorBusy || ++*tries >= kBusyTries) return false;
  Sys()->Sleep(kBusyPauseMs);
  return true;
}

int CreateTempFile(FolderHandle folder, const char* temp, SeqFile* file) {
  for (int tries = 0;;) {
    // A file left by a killed run is ours to replace, read-only or not; a
    // link keeps whatever it leads to as it was.
    if (Sys()->RemoveFile(folder, temp) ||
        Sys()->LastFileError() != kFileErrorBusy) {
      // Anything that appears at the name from here on makes this fail.
      if (file->CreateNew(folder, temp)) return 1;
    }
    if (!PauseWhileBusy(Sys()->LastFileError(), &tries)) return 0;
  }
}

int WaitUntilFree(FolderHandle folder, const char* name,
                  bool replace_read_only) {
  for (int tries = 0;;) {
    if (Sys()->CanMoveOver(folder, name, replace_read_only)) return 1;
    if (!PauseWhileBusy(Sys()->LastFileError(), &tries)) return 0;
  }
}

int MoveTempOver(FolderHandle folder, const char* temp, const char* name,
                 bool replace_read_only) {
  for (int tries = 0;;) {
    if (Sys()->MoveFileOver(folder, temp, name, replace_read_only)) return 1;
    if (!PauseWhileBusy(Sys()->LastFileError(), &tries)) return 0;
  }
}

int WriteTempFile(FolderHandle folder, const char* name, const void* data,
                  uint32_t n) {
  char temp[kMaxPath];
  if (!TempPathFor(name, temp)) return 0;
  SeqFile file;
  if (!CreateTempFile(folder, temp, &file)) return 0;
  int written = file.Write(data, n) == n && file.Flush();
  file.Close();
  if (!written) Sys()->RemoveFile(folder, temp);
  return written;
}
