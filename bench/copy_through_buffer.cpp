// The floor under the updater's whole run: each file streamed through one
// buffer of kPieceSize kept for the run, through the same SeqFile and
// platform calls as the updater, with no checksum. Plainly, it writes a new
// file in place of the old, unflushed; with --whole, as the updater does: a
// temporary file beside it, flushed, moved over it.
//
//   copy_through_buffer [--whole] DEST_FOLDER FILE...
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "payload/payload_archive.h"
#include "platform/file_replace.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

int Fail(const char* what, const char* name) {
  fprintf(stderr, "copy_through_buffer: %s %s\n", what, name);
  return 1;
}

// Copies one file through buffer (kPieceSize bytes). Returns 0, or 1 with a
// message.
int CopyOne(const char* source, const std::string& dest, bool whole,
            uint8_t* buffer) {
  SeqFile in;
  uint64_t size = in.OpenRead(source) ? in.Size() : kInvalidFileLength;
  if (size == kInvalidFileLength) return Fail("cannot read", source);
  char temp[kMaxPath];
  if (!TempPathFor(dest.c_str(), temp)) return Fail("too long:", source);
  const char* written = whole ? temp : dest.c_str();
  SeqFile out;
  if (whole ? !CreateTempFile(kNoFolder, temp, &out)
            : (Sys()->RemoveFile(kNoFolder, dest.c_str()),
               !out.CreateNew(kNoFolder, dest.c_str()))) {
    return Fail("cannot create", written);
  }
  for (uint64_t done = 0; done < size;) {
    uint32_t n = size - done < kPieceSize ? static_cast<uint32_t>(size - done)
                                          : kPieceSize;
    if (in.Read(buffer, n) != n) return Fail("short read of", source);
    if (out.Write(buffer, n) != n) return Fail("cannot write", written);
    done += n;
  }
  if (!whole) return 0;
  if (!out.Flush()) return Fail("cannot flush", written);
  out.Close();
  if (!MoveTempOver(kNoFolder, temp, dest.c_str(), true)) {
    return Fail("cannot move", written);
  }
  // The move is durable once its folder is flushed, as the updater does.
  FolderHandle held = Sys()->OpenFolderOf(dest.c_str());
  int flushed = held != kNoFolder && Sys()->FlushFolder(held);
  if (held != kNoFolder) Sys()->CloseFolder(held);
  return flushed ? 0 : Fail("cannot flush the folder of", written);
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
  EntryBuffer buffer;
  if (!AllocatePieceBuffer(&buffer)) return 1;
  int failed = 0;
  for (int i = first + 1; i < argc && !failed; i++) {
    const char* slash = strrchr(argv[i], '/');
    std::string dest =
        std::string(argv[first]) + "/" + (slash ? slash + 1 : argv[i]);
    failed = CopyOne(argv[i], dest, whole, buffer.get());
  }
  return failed;
}
