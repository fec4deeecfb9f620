// Files replaced whole. The new contents go to a temporary file beside the
// old one, are flushed to the disk, and are then moved over the old file in
// one step: a crash, a kill or a full disk leaves the old file or the new
// one, never one cut short.
#ifndef PLATFORM_FILE_REPLACE_H_
#define PLATFORM_FILE_REPLACE_H_

#include <stdint.h>

// The temporary file is named after the file it replaces, with this suffix;
// one left behind by a run that was killed is simply replaced by the next.
const char kTempSuffix[] = ".updating";

// Writes path and kTempSuffix into out (kMaxPath bytes). Returns 0, leaving
// out empty, if they do not fit.
int TempPathFor(const char* path, char* out);

// Replaces the file at path (or creates it) with the n bytes of data.
// With clear_attributes, an existing file loses its read-only (on Windows
// also hidden and system) attributes just before the move, so that it can
// be replaced, and has them back if the move fails. Returns nonzero on
// success; on failure the file at path is as it was and the temporary file
// is gone.
int ReplaceWholeFile(const char* path, const void* data, uint32_t n,
                     bool clear_attributes);

#endif  // PLATFORM_FILE_REPLACE_H_
