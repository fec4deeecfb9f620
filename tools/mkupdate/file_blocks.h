// The tool's one loop that reads files in blocks, and what it builds on it:
// whole small files, checksums of files, comparisons of two files.
#ifndef TOOLS_MKUPDATE_FILE_BLOCKS_H_
#define TOOLS_MKUPDATE_FILE_BLOCKS_H_

#include <stdint.h>
#include <stdio.h>

#include <functional>
#include <string>

#include "payload/entry_checksum.h"

// The size of the blocks in which files are read and copied.
const size_t kBlockSize = 1 << 20;

// Reads up to n bytes into the buffer; returns the count, 0 at the end or
// on failure.
typedef std::function<size_t(uint8_t* buffer, size_t n)> BlockSource;

// Takes one block; returns false to stop.
typedef std::function<bool(const uint8_t* data, size_t n)> BlockSink;

// Reads size bytes from source (until it ends when size is kToTheEnd) in
// blocks of at most kBlockSize and hands each to sink. Returns the count
// read; *stopped tells whether the sink stopped it.
const uint64_t kToTheEnd = ~0ull;
uint64_t ReadBlocks(const BlockSource& source, uint64_t size,
                    const BlockSink& sink, bool* stopped);

// A source that reads the stream.
BlockSource StreamSource(FILE* file);

// Reads the whole file into *bytes. Returns false with the reason in *why.
bool ReadWholeFile(const std::string& path, std::string* bytes,
                   std::string* why);

// The EntryChecksum of the file's contents. Returns false with the reason
// in *why.
bool ChecksumFile(const std::string& path, EntryChecksum* sum,
                  std::string* why);

// Compares two files of the same size byte for byte, and takes the
// checksum of a's bytes on the way (all of them when they are the same).
// Returns false with the reason in *why when either cannot be read.
bool CompareFiles(const std::string& a, const std::string& b, bool* same,
                  EntryChecksum* sum, std::string* why);

// Copies the file at from to a new file at to, block by block, with from's
// permissions. Returns false with the reason in *why ("cannot write it: No
// space left on device"); *writing tells whether writing to failed rather
// than reading from.
bool CopyFileTo(const std::string& from, const std::string& to,
                std::string* why, bool* writing);

// The size of the regular file at path. Refuses, naming it, what is none:
// nothing there, a folder ("a folder, not <what>"), anything else.
bool FindRegularFile(const std::string& path, const char* what, uint64_t* size);

// "cannot open it: <the system's reason>" and the like.
std::string SystemReason(const std::string& what);

#endif  // TOOLS_MKUPDATE_FILE_BLOCKS_H_
