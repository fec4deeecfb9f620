// check's folder of its own under the system's temporary folder, for the
// copies of the old releases. Its name, mkupdate-check-<process>-<start>,
// says which process made it and when that process started, so that a
// later check can tell a folder whose run ended without removing it (a
// kill, a power cut) from one that is still in use, even when the process
// number has come round again, and remove it.
#ifndef TOOLS_MKUPDATE_SCRATCH_FOLDER_H_
#define TOOLS_MKUPDATE_SCRATCH_FOLDER_H_

#include <string>

// The system's temporary folder (TMPDIR, TMP, or the system's default), as
// the tool shows it.
bool TemporaryFolder(std::string* path, std::string* why);

// Removes the folders that checks no longer running left in temp, then
// makes this run's own there, for its owner alone, to be removed if the
// tool is interrupted. Returns false with the reason in *why.
bool MakeScratchFolder(const std::string& temp, std::string* scratch,
                       std::string* why);

// Removes the folder and all in it, and forgets it for interruptions.
void RemoveScratchFolder(const std::string& scratch);

#endif  // TOOLS_MKUPDATE_SCRATCH_FOLDER_H_
