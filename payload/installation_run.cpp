#include "payload/installation_run.h"

#include <string.h>

#include <memory>
#include <new>

#include "payload/entry_name.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "platform/file_replace.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"
#include "uninstall/uninstall_list.h"

namespace {

// An entry's file in the install folder and its temporary file beside it.
struct EntryPaths {
  char path[kMaxPath];
  char temp[kMaxPath];
};

int GetEntryPaths(const char* install_folder, const PayloadEntry& entry,
                  EntryPaths* paths) {
  return JoinPath(install_folder, entry.name, paths->path) &&
         TempPathFor(paths->path, paths->temp);
}

// True when every folder part between the install folder and the file at
// path is a real folder, not a link or a junction: the updater runs
// elevated, and a link there would have it write wherever the link leads.
bool FoldersArePlain(char* path, size_t folder_length) {
  for (size_t i = folder_length + 1; path[i] != '\0'; i++) {
    unsigned char c = static_cast<unsigned char>(path[i]);
    if (IsCodePage932LeadByte(c) && path[i + 1] != '\0') {
      i++;  // its second byte may be 0x5C, and is no separator
      continue;
    }
    if (c != '\\' && c != '/') continue;
    path[i] = '\0';
    bool plain = Sys()->GetPathKind(path) == kPathFolder;
    path[i] = static_cast<char>(c);
    if (!plain) return false;
  }
  return true;
}

// True when what stands at the entry's path can be replaced: nothing, a
// file, or a link, which is replaced itself.
bool CanReplace(const char* path) {
  PathKind kind = Sys()->GetPathKind(path);
  return kind == kPathMissing || kind == kPathFile || kind == kPathLink;
}

// True once nothing stands at a temporary file's name: what a killed run
// left there is removed, and so is a link, itself. Something that cannot
// be removed (a link the system would only follow) keeps the name taken.
bool FreeTempName(const char* temp_path) {
  if (Sys()->GetPathKind(temp_path) == kPathMissing) return true;
  Sys()->ClearFileAttributes(temp_path);
  Sys()->RemoveFile(temp_path);
  return Sys()->GetPathKind(temp_path) == kPathMissing;
}

// What can be known before anything is written: every entry lies within
// the updater's file; every path fits, lies in plain folders and ends at a
// file (or nothing, or a link, which is replaced itself); and every
// temporary file's name is free.
ResultCode CheckBeforeWriting(const Payload& payload,
                              const char* install_folder) {
  for (uint32_t i = 0; i < payload.count; i++) {
    if (!EntryInsideFile(payload, payload.entries[i])) {
      return kResultPayloadUnreadable;
    }
  }
  char list_path[kMaxPath];
  char list_temp[kMaxPath];
  if (!JoinPath(install_folder, kUninstallListName, list_path) ||
      !TempPathFor(list_path, list_temp) || !FreeTempName(list_temp)) {
    return kResultCannotWrite;
  }
  size_t folder_length = strlen(install_folder);
  for (uint32_t i = 0; i < payload.count; i++) {
    EntryPaths paths;
    if (!GetEntryPaths(install_folder, payload.entries[i], &paths) ||
        !FoldersArePlain(paths.path, folder_length) ||
        !CanReplace(paths.path) || !FreeTempName(paths.temp)) {
      return kResultCannotWrite;
    }
  }
  return kResultOk;
}

// Writes the entry's data to its temporary file, checking it on the way;
// the file is flushed to the disk when this returns kResultOk.
ResultCode StageEntry(SeqFile* updater, const Payload& payload,
                      const VerificationList& list, const PayloadEntry& entry,
                      const EntryBuffer& buffer, const char* temp_path) {
  SeqFile out;
  if (!CreateTempFile(temp_path, &out)) return kResultCannotWrite;
  EntryChecksum sum;
  switch (CopyEntryData(updater, payload, entry, buffer, &out, &sum)) {
    case kCopyCannotRead:
      return kResultPayloadUnreadable;
    case kCopyCannotWrite:
      return kResultCannotWrite;
    case kCopyDone:
      break;
  }
  // No mismatching byte ever reaches a target: this file is removed.
  if (VerifyEntry(list, entry.name, sum) == kMismatch) {
    return kResultChecksumMismatch;
  }
  return out.Flush() ? kResultOk : kResultCannotWrite;
}

// Removes the temporary files of entries first to last - 1.
void RemoveTempFiles(const Payload& payload, const char* install_folder,
                     uint32_t first, uint32_t last) {
  for (uint32_t i = first; i < last; i++) {
    EntryPaths paths;
    if (GetEntryPaths(install_folder, payload.entries[i], &paths)) {
      Sys()->RemoveFile(paths.temp);
    }
  }
}

// Stages every entry. On failure every temporary file of the run is gone
// and the install folder is as it was.
ResultCode StageAll(SeqFile* updater, const Payload& payload,
                    const char* install_folder) {
  VerificationList list;
  LoadVerificationList(updater, payload, &list);
  EntryBuffer buffer;
  if (!AllocatePieceBuffer(&buffer)) return kResultPayloadUnreadable;
  for (uint32_t i = 0; i < payload.count; i++) {
    EntryPaths paths;
    ResultCode result =
        GetEntryPaths(install_folder, payload.entries[i], &paths)
            ? StageEntry(updater, payload, list, payload.entries[i], buffer,
                         paths.temp)
            : kResultCannotWrite;
    if (result != kResultOk) {
      RemoveTempFiles(payload, install_folder, 0, i + 1);
      return result;
    }
  }
  return kResultOk;
}

// Moves every staged file over its target, in directory order, once every
// target can be replaced. The moves follow each other as closely as the
// system allows: they are the only time the folder holds old and new files
// together. A target that cannot be replaced after all stops them, and
// every temporary file left is removed.
ResultCode MoveAll(const Payload& payload, const char* install_folder) {
  for (uint32_t i = 0; i < payload.count; i++) {
    EntryPaths paths;
    if (!GetEntryPaths(install_folder, payload.entries[i], &paths) ||
        !CanReplace(paths.path) || !WaitUntilFree(paths.path)) {
      RemoveTempFiles(payload, install_folder, 0, payload.count);
      return kResultCannotWrite;
    }
  }
  for (uint32_t i = 0; i < payload.count; i++) {
    EntryPaths paths;
    // A read-only file of the same name is replaced all the same.
    if (!GetEntryPaths(install_folder, payload.entries[i], &paths) ||
        !MoveTempOver(paths.temp, paths.path, true)) {
      RemoveTempFiles(payload, install_folder, i, payload.count);
      Sys()->FlushMoves();
      return kResultCannotWrite;
    }
  }
  return Sys()->FlushMoves() ? kResultOk : kResultCannotWrite;
}

}  // namespace

ResultCode RunInstallation(const char* install_folder) {
  SeqFile updater;
  updater.OpenOwnExecutable();
  return InstallPayload(&updater, install_folder);
}

ResultCode InstallPayload(SeqFile* updater, const char* install_folder) {
  Payload payload;
  ResultCode result = ReadPayload(updater, &payload);
  if (result != kResultOk) return result;
  result = CheckBeforeWriting(payload, install_folder);
  if (result != kResultOk) return result;
  // The installed-name list, in directory order, ended by a null slot.
  std::unique_ptr<const char*[]> installed(new (std::nothrow)
                                               const char*[payload.count + 1]);
  if (!installed) return kResultPayloadUnreadable;
  for (uint32_t i = 0; i < payload.count; i++) {
    installed[i] = payload.entries[i].name;
  }
  installed[payload.count] = nullptr;
  result = StageAll(updater, payload, install_folder);
  if (result != kResultOk) return result;
  // The merged uninstall list is made ready too, so that its move follows
  // the entries' at once. A list that cannot be had does not keep the
  // entries out: it is reported once they are in.
  int list_staged = StageUninstallList(install_folder, installed.get());
  result = MoveAll(payload, install_folder);
  if (result != kResultOk) {
    if (list_staged) RemoveStagedUninstallList(install_folder);
    return result;
  }
  return list_staged && MoveStagedUninstallList(install_folder)
             ? kResultOk
             : kResultUninstallListFailed;
}

ResultCode InstallPayload(const char* updater_path,
                          const char* install_folder) {
  SeqFile updater;
  updater.OpenRead(updater_path);
  return InstallPayload(&updater, install_folder);
}
