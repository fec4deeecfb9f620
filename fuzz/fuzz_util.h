// Shared by the fuzz targets: a scratch folder in memory for the files the
// updater reads and writes, and the split of an input into names and bytes.
#ifndef FUZZ_FUZZ_UTIL_H_
#define FUZZ_FUZZ_UTIL_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// A folder of this process's own, made on first use (under /dev/shm when
// there is one) and removed at exit.
const std::string& FuzzFolder();

// Replaces the file with size bytes written at offset; the bytes before it
// are a hole that reads as zeros. Aborts if the file cannot be written.
void WriteFileAt(const std::string& path, const void* data, size_t size,
                 uint64_t offset);
std::string ReadWholeFile(const std::string& path);

// An input for the targets that take names: a 16-bit little-endian length n,
// n bytes of names separated by NULs, then the rest. A short input gives no
// names; a length past the end takes what is there.
struct NamesAndBytes {
  std::vector<std::string> names;
  std::string rest;
};
NamesAndBytes SplitInput(const uint8_t* data, size_t size);
// The inverse, for writing the corpus.
std::string JoinInput(const std::vector<std::string>& names,
                      const std::string& rest);

// Stops the run with a message when a property does not hold: libFuzzer
// reports the abort as a crash and keeps the input.
void Check(bool condition, const char* what);

#endif  // FUZZ_FUZZ_UTIL_H_
