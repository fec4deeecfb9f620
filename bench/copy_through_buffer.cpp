// The floor under the updater's whole run: each file read whole into one
// buffer of pages kept for the run, then written, through the same SeqFile
// and platform calls as the updater, with no checksum. Plainly, it writes
// over the file in place, unflushed; with --whole, as the updater does: a
// temporary file beside it, flushed, moved over it (ReplaceWholeFile).
//
//   copy_through_buffer [--whole] DEST_FOLDER FILE...
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/file_replace.h"
#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

int Fail(const char* what, const char* name) {
  fprintf(stderr, "copy_through_buffer: %s %s\n", what, name);
  return 1;
}

// Copies one file through *buffer (of *capacity bytes, grown as needed).
// Returns 0, or 1 with a message.
int CopyOne(const char* source, const std::string& dest, bool whole,
            uint8_t** buffer, size_t* capacity) {
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
  if (whole) {
    return ReplaceWholeFile(dest.c_str(), *buffer, size, true)
               ? 0
               : Fail("cannot replace", dest.c_str());
  }
  SeqFile out;
  if (!out.OpenWrite(dest.c_str()) || out.Write(*buffer, size) != size) {
    return Fail("cannot write", dest.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool whole = argc > 1 && strcmp(argv[1], "--whole") == 0;
  if (whole) first++;
  if (argc - first < 2) {
    fprintf(stderr, "usage: copy_through_buffer [--whole] DEST FILE...\n");
    return 2;
  }
  uint8_t* buffer = nullptr;
  size_t capacity = 0;
  int failed = 0;
  for (int i = first + 1; i < argc && !failed; i++) {
    const char* slash = strrchr(argv[i], '/');
    std::string dest =
        std::string(argv[first]) + "/" + (slash ? slash + 1 : argv[i]);
    failed = CopyOne(argv[i], dest, whole, &buffer, &capacity);
  }
  if (buffer) FreePages(buffer, capacity);
  return failed;
}
