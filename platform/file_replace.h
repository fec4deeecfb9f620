// Files replaced whole. The new contents go to a temporary file beside the
// old one, are flushed to the disk, and are then moved over the old file in
// one step: a crash, a kill or a full disk leaves the old file or the new
// one, never one cut short. Every file is named by a folder and a name in
// it (Platform::OpenFolder), or by a path with kNoFolder.
#ifndef PLATFORM_FILE_REPLACE_H_
#define PLATFORM_FILE_REPLACE_H_

#include <stdint.h>

#include "platform/seq_file.h"

// The temporary file is named after the file it replaces, with this suffix;
// one left behind by a run that was killed is simply replaced by the next.
const char kTempSuffix[] = ".updating";

// Writes name and kTempSuffix into out (kMaxPath bytes). Returns 0, leaving
// out empty, if they do not fit.
int TempPathFor(const char* name, char* out);

// True when name ends in kTempSuffix, in either letter case, as Windows
// compares names.
bool HasTempSuffix(const char* name);

// How long a file that another process holds is waited for: a scanner that
// opens each new file for a moment must not end a run; about two seconds.
const int kBusyTries = 20;
const uint32_t kBusyPauseMs = 100;

// After a call that failed with error: pauses and returns true while the
// failure is another process holding the file and tries remain (*tries
// counts them).
bool PauseWhileBusy(FileError error, int* tries);

// Creates a new temporary file at temp in folder and opens file on it.
// Whatever stands there first (a file a killed run left, read-only or not,
// or a link) is removed, the link itself and never what it leads to; the
// file is then created only if the name is free, never through a link.
// Returns nonzero when file is open.
int CreateTempFile(FolderHandle folder, const char* temp, SeqFile* file);

// Nonzero when a move could replace what stands at name now
// (Platform::CanMoveOver), waiting a while for a file that another process
// holds.
int WaitUntilFree(FolderHandle folder, const char* name,
                  bool replace_read_only);

// Moves the finished temporary file over name in folder in one step,
// waiting a while for a target that another process holds. With
// replace_read_only a read-only target is replaced too
// (Platform::MoveFileOver). Returns nonzero on success; on failure the
// target is as it was and the temporary file is still there. The move is
// durable once the folder is flushed.
int MoveTempOver(FolderHandle folder, const char* temp, const char* name,
                 bool replace_read_only);

// Writes the n bytes of data to name's temporary file (CreateTempFile) and
// flushes them to the disk. Returns nonzero when it is there, whole; on
// failure none is left.
int WriteTempFile(FolderHandle folder, const char* name, const void* data,
                  uint32_t n);

#endif  // PLATFORM_FILE_REPLACE_H_
