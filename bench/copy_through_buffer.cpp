// The floor under the updater's whole run: each file read whole into one
// buffer of pages kept for the run, then written whole, through the same
// SeqFile and platform calls as the updater, with no checksum. With
// --pass, one plain pass reads the buffer between the read and the write,
// standing in for a checksum that costs nothing but the memory traffic.
//
//   copy_through_buffer [--pass] DEST_FOLDER FILE...
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

int Fail(const char* what, const char* name) {
  fprintf(stderr, "copy_through_buffer: %s %s\n", what, name);
  return 1;
}

uint64_t SumWords(const uint8_t* data, size_t size) {
  uint64_t sum = 0;
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t word;
    memcpy(&word, data + i, 8);
    sum += word;
  }
  return sum;
}

// Copies one file through *buffer (of *capacity bytes, grown as needed).
// Returns 0, or 1 with a message.
int CopyOne(const char* source, const std::string& dest, bool pass,
            uint8_t** buffer, size_t* capacity, uint64_t* sink) {
  SeqFile in;
  uint32_t size = in.OpenRead(source) ? in.Size() : 0xFFFFFFFFu;
  if (size == 0xFFFFFFFFu) return Fail("cannot read", source);
  if (size > *capacity) {
    if (*buffer) FreePages(*buffer, *capacity);
    *capacity = 0;
    *buffer = static_cast<uint8_t*>(AllocatePages(size));
    if (!*buffer) return Fail("out of memory for", source);
    *capacity = size;
  }
  if (in.Read(*buffer, size) != size) {
    return Fail("short read of", source);
  }
  if (pass) *sink += SumWords(*buffer, size);
  SeqFile out;
  if (!out.OpenWrite(dest.c_str()) || out.Write(*buffer, size) != size) {
    return Fail("cannot write", dest.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool pass = argc > 1 && strcmp(argv[1], "--pass") == 0;
  if (pass) first++;
  if (argc - first < 2) {
    fprintf(stderr, "usage: copy_through_buffer [--pass] DEST FILE...\n");
    return 2;
  }
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  uint64_t sink = 0;
  int failed = 0;
  for (int i = first + 1; i < argc && !failed; i++) {
    const char* slash = strrchr(argv[i], '/');
    std::string dest =
        std::string(argv[first]) + "/" + (slash ? slash + 1 : argv[i]);
    failed = CopyOne(argv[i], dest, pass, &buffer, &capacity, &sink);
  }
  if (buffer) FreePages(buffer, capacity);
  // The sum is printed so that the pass cannot be left out by the compiler.
  if (pass) printf("%llu\n", static_cast<unsigned long long>(sink));
  return failed;
}
