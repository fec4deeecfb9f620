// The one line mkupdate shows on a terminal while it reads much: "LABEL:
// X of Y MiB (P%)", for the whole of the work, redrawn when the percentage
// moves and wiped at the end, so that only the result stays. Every block
// that ReadBlocks reads while it is up counts.
#ifndef TOOLS_MKUPDATE_PROGRESS_H_
#define TOOLS_MKUPDATE_PROGRESS_H_

#include <stdint.h>

#include <string>

// Work smaller than this shows no line.
const uint64_t kProgressMinimum = 16 << 20;

// Whether the line may show at all: on a terminal, unless the user asked
// for quiet. Off until this is called.
void AllowProgress(bool allowed);

// Starts the line for work of total bytes.
void StartProgress(const std::string& label, uint64_t total);

// Counts n more bytes done.
void CountProgress(uint64_t n);

// Wipes the line; nothing more counts until the next start.
void EndProgress();

#endif  // TOOLS_MKUPDATE_PROGRESS_H_
