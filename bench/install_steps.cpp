// Where an installation run's time goes: the steps of the run over an
// update's entries, each timed on its own and adding one thing to the one
// before, then the whole run. Every step runs into an empty folder; the
// median of RUNS runs is printed, in milliseconds, one step a line.
//
//   install_steps UPDATE FOLDER [RUNS]
//
// FOLDER must hold an uninstall list (uninst.lst); it is kept between
// runs, the entries' files are removed.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "payload/installation_run.h"
#include "payload/payload_archive.h"
#include "platform/file_replace.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

enum Step { kRead, kChecksum, kWrite, kFlush, kMove, kWholeRun, kSteps };
const char* const kStepNames[kSteps] = {
    "read in pieces", "+ checksum",      "+ write temporary files",
    "+ flush each",   "+ move in place", "the whole run"};

// Reads the entry in pieces, with nothing else done.
bool ReadOnly(SeqFile* file, const Payload& payload, const PayloadEntry& entry,
              const EntryBuffer& buffer) {
  uint32_t position;
  if (!EntryDataPosition(payload, entry, &position) || !file->Seek(position)) {
    return false;
  }
  for (uint32_t done = 0; done < entry.size;) {
    uint32_t n = std::min(entry.size - done, kPieceSize);
    if (file->Read(buffer.get(), n) != n) return false;
    done += n;
  }
  return true;
}

// One entry through the steps up to last.
bool EntryUpTo(Step last, SeqFile* file, const Payload& payload,
               const PayloadEntry& entry, const EntryBuffer& buffer,
               FolderHandle folder) {
  if (last == kRead) return ReadOnly(file, payload, entry, buffer);
  EntryChecksum sum;
  if (last == kChecksum) {
    return CopyEntryData(file, payload, entry, buffer, nullptr, &sum) ==
           kCopyDone;
  }
  // The benchmark's entries lie in the folder itself.
  char temp[kMaxPath];
  SeqFile out;
  if (!TempPathFor(entry.name, temp) || !CreateTempFile(folder, temp, &out) ||
      CopyEntryData(file, payload, entry, buffer, &out, &sum) != kCopyDone ||
      (last >= kFlush && !out.Flush())) {
    return false;
  }
  out.Close();
  return last < kMove || MoveTempOver(folder, temp, entry.name, true);
}

// Removes what a run left in the folder.
void Clean(const Payload& payload, const char* folder) {
  FolderHandle held = Sys()->OpenFolder(kNoFolder, folder);
  for (uint32_t i = 0; held != kNoFolder && i < payload.count; i++) {
    char temp[kMaxPath];
    if (TempPathFor(payload.entries[i].name, temp)) {
      Sys()->RemoveFile(held, payload.entries[i].name);
      Sys()->RemoveFile(held, temp);
    }
  }
  if (held != kNoFolder) Sys()->CloseFolder(held);
}

// Milliseconds of one run of the steps up to last; negative on failure.
double TimeUpTo(Step last, const char* update, const char* folder) {
  auto start = std::chrono::steady_clock::now();
  bool ok = true;
  if (last == kWholeRun) {
    ok = InstallPayload(update, folder) == kResultOk;
  } else {
    SeqFile file;
    Payload payload;
    EntryBuffer buffer;
    FolderHandle held = Sys()->OpenFolder(kNoFolder, folder);
    ok = held != kNoFolder &&
         OpenPayload(update, &file, &payload) == kResultOk &&
         AllocatePieceBuffer(&buffer);
    for (uint32_t i = 0; ok && i < payload.count; i++) {
      ok = EntryUpTo(last, &file, payload, payload.entries[i], buffer, held);
    }
    ok = ok && (last < kMove || Sys()->FlushFolder(held));
    if (held != kNoFolder) Sys()->CloseFolder(held);
  }
  std::chrono::duration<double, std::milli> took =
      std::chrono::steady_clock::now() - start;
  return ok ? took.count() : -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: install_steps UPDATE FOLDER [RUNS]\n");
    return 2;
  }
  int runs = argc > 3 ? atoi(argv[3]) : 5;
  SeqFile file;
  Payload payload;
  if (OpenPayload(argv[1], &file, &payload) != kResultOk) {
    fprintf(stderr, "install_steps: cannot read %s\n", argv[1]);
    return 1;
  }
  file.Close();
  for (int step = 0; step < kSteps; step++) {
    std::vector<double> times;
    for (int run = 0; run < runs; run++) {
      Clean(payload, argv[2]);
      double ms = TimeUpTo(static_cast<Step>(step), argv[1], argv[2]);
      if (ms < 0) {
        fprintf(stderr, "install_steps: %s failed\n", kStepNames[step]);
        return 1;
      }
      times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    printf("%s\t%.1f\n", kStepNames[step], times[(times.size() - 1) / 2]);
  }
  Clean(payload, argv[2]);
  return 0;
}
