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

// The most folders a run holds: the install folder, and for each entry
// every folder part of its name (a stored name of 15 bytes has at most 7).
const uint32_t kMaxHeldFolders = 1 + kMaxEntries * (kEntryNameSize / 2 - 1);

// What the run acts on, made once by the checks: every folder between the
// install folder and an entry, held open from the check to the end of the
// run so that no name can be swapped for a link under it; and, for each
// entry, its folder, its name there and its temporary file's name.
struct InstallPlan {
  FolderHandle folders[kMaxHeldFolders];
  // Which name and how much of it led to each held folder (the install
  // folder has none), so that entries in one folder share it.
  const char* folder_names[kMaxHeldFolders];
  size_t folder_lengths[kMaxHeldFolders];
  bool moved_into[kMaxHeldFolders];
  uint32_t folder_count = 0;
  struct Place {
    uint32_t folder;
    const char* name;  // the last part of the entry's stored name
    char temp[kMaxPath];
  } entries[kMaxEntries];
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The held folder named by the first length bytes of name, opened (and held
// from now on) below the folder it lies in, at *index; false when it is no
// real folder, or no more can be held.
bool HoldFolder(InstallPlan* plan, uint32_t parent, const char* name,
                size_t start, size_t length, uint32_t* index) {
  for (uint32_t i = 1; i < plan->folder_count; i++) {
    if (plan->folder_lengths[i] == length &&
        memcmp(plan->folder_names[i], name, length) == 0) {
      *index = i;
      return true;
    }
  }
  char part[kMaxPath];
  if (plan->folder_count == kMaxHeldFolders || length - start >= kMaxPath) {
    return false;
  }
  memcpy(part, name + start, length - start);
  part[length - start] = '\0';
  FolderHandle folder = Sys()->OpenFolder(plan->folders[parent], part);
  if (folder == kNoFolder) return false;
  *index = plan->folder_count++;
  plan->folders[*index] = folder;
  plan->folder_names[*index] = name;
  plan->folder_lengths[*index] = length;
  plan->moved_into[*index] = false;
  return true;
}

// Holds every folder part of the entry's name, each opened as itself below
// the last, and notes the entry's folder, name and temporary name. A 0x5C
// after a lead byte is that character's second byte, as the system reads
// the name: "ソフト.txt" is one name. (Read as a separator, as a system with
// another code page would, it still leaves no ".." or empty part: the name
// check sees to that.)
bool PlaceEntry(InstallPlan* plan, const PayloadEntry& entry,
                InstallPlan::Place* place) {
  uint32_t folder = 0;
  size_t start = 0;
  for (size_t i = 0; entry.name[i] != '\0'; i++) {
    if (IsCodePage932LeadByte(static_cast<unsigned char>(entry.name[i])) &&
        entry.name[i + 1] != '\0') {
      i++;
      continue;
    }
    if (!IsSeparator(entry.name[i])) continue;
    if (!HoldFolder(plan, folder, entry.name, start, i, &folder)) return false;
    start = i + 1;
  }
  place->folder = folder;
  place->name = entry.name + start;
  return TempPathFor(place->name, place->temp) != 0;
}

// True when what stands at the entry's name can be replaced: nothing, a
// link, which is replaced itself, or a file, read-only too unless it has
// other names, whose attribute would change. A file another process holds
// now is waited for before the moves.
bool CanReplace(FolderHandle folder, const char* name) {
  return Sys()->CanMoveOver(folder, name, true) ||
         Sys()->LastFileError() == kFileErrorBusy;
}

// True once nothing stands at a temporary file's name: a link is removed
// itself. Something that cannot be removed (a folder, a link the system
// would only follow) keeps the name taken.
bool FreeTempName(FolderHandle folder, const char* temp) {
  if (Sys()->GetPathKind(folder, temp) == kPathMissing) return true;
  Sys()->RemoveFile(folder, temp);
  return Sys()->GetPathKind(folder, temp) == kPathMissing;
}

// True when the entry's whole path and its temporary file's fit a Windows
// path of MAX_PATH bytes, as the game and its uninstaller name them.
bool PathFits(const char* install_folder, const PayloadEntry& entry) {
  char path[kMaxPath];
  char temp[kMaxPath];
  return JoinPath(install_folder, entry.name, path) && TempPathFor(path, temp);
}

// Releases every folder the plan holds, the deepest first.
void ReleasePlan(InstallPlan* plan) {
  while (plan->folder_count > 0) {
    Sys()->CloseFolder(plan->folders[--plan->folder_count]);
  }
}

// Removes, in the folder and below it, every file or link named as a
// temporary file: what killed runs left, of this update or another. A link
// is removed itself and never entered; a folder so named is left alone.
// depth bounds how far down it goes.
void SweepLeftovers(FolderHandle folder, int depth);

struct SweepContext {
  FolderHandle folder;
  int depth;
};

int SweepOne(void* context, const char* name, PathKind kind) {
  const SweepContext* at = static_cast<const SweepContext*>(context);
  if (kind == kPathFolder && at->depth > 0) {
    FolderHandle below = Sys()->OpenFolder(at->folder, name);
    if (below != kNoFolder) {
      SweepLeftovers(below, at->depth - 1);
      Sys()->CloseFolder(below);
    }
  } else if ((kind == kPathFile || kind == kPathLink) && HasTempSuffix(name)) {
    Sys()->RemoveFile(at->folder, name);
  }
  return 0;
}

void SweepLeftovers(FolderHandle folder, int depth) {
  SweepContext context = {folder, depth};
  Sys()->ListFolder(folder, SweepOne, &context);
}

// A path holds at most 130 parts; deeper than that is no game's folder.
const int kSweepDepth = 130;

// What can be known before anything is written: every entry lies within
// the updater's file; the install folder is the one its path names, no
// link on the way, and it and every folder part are real folders, now
// held; every entry ends at a file it may replace (or nothing, or a link,
// which is replaced itself); and every temporary file's name is free.
ResultCode MakePlan(const Payload& payload, const char* install_folder,
                    InstallPlan* plan) {
  for (uint32_t i = 0; i < payload.count; i++) {
    if (!EntryInsideFile(payload, payload.entries[i])) {
      return kResultPayloadUnreadable;
    }
  }
  for (uint32_t i = 0; i < payload.count; i++) {
    if (!PathFits(install_folder, payload.entries[i]))
      return kResultCannotWrite;
  }
  // A link in any part of the install folder's path, which someone who may
  // write a folder above it could put there, is never followed: the run
  // would write and sweep wherever it leads.
  plan->folders[0] = Sys()->OpenFolderWithoutLinks(install_folder);
  if (plan->folders[0] == kNoFolder) return kResultCannotWrite;
  plan->folder_count = 1;
  plan->folder_names[0] = nullptr;
  plan->folder_lengths[0] = 0;
  plan->moved_into[0] = false;
  SweepLeftovers(plan->folders[0], kSweepDepth);
  char list_temp[kMaxPath];
  if (!TempPathFor(kUninstallListName, list_temp) ||
      !FreeTempName(plan->folders[0], list_temp)) {
    return kResultCannotWrite;
  }
  for (uint32_t i = 0; i < payload.count; i++) {
    InstallPlan::Place* place = &plan->entries[i];
    if (!PlaceEntry(plan, payload.entries[i], place)) return kResultCannotWrite;
    FolderHandle folder = plan->folders[place->folder];
    if (!CanReplace(folder, place->name) ||
        !FreeTempName(folder, place->temp)) {
      return kResultCannotWrite;
    }
  }
  return kResultOk;
}

// Writes the entry's data to its temporary file; the file is flushed to the
// disk when this returns kResultOk.
ResultCode StageEntry(SeqFile* updater, const Payload& payload,
                      const VerificationList& list, const PayloadEntry& entry,
                      const EntryBuffer& buffer, FolderHandle folder,
                      const char* temp) {
  SeqFile out;
  if (!CreateTempFile(folder, temp, &out)) return kResultCannotWrite;
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
void RemoveTempFiles(const InstallPlan& plan, uint32_t first, uint32_t last) {
  for (uint32_t i = first; i < last; i++) {
    const InstallPlan::Place& place = plan.entries[i];
    Sys()->RemoveFile(plan.folders[place.folder], place.temp);
  }
}

// Stages every entry. On failure every temporary file of the run is gone
// and the install folder is as it was.
ResultCode StageAll(SeqFile* updater, const Payload& payload,
                    const InstallPlan& plan) {
  VerificationList list;
  LoadVerificationList(updater, payload, &list);
  EntryBuffer buffer;
  if (!AllocatePieceBuffer(&buffer)) return kResultPayloadUnreadable;
  for (uint32_t i = 0; i < payload.count; i++) {
    const InstallPlan::Place& place = plan.entries[i];
    ResultCode result =
        StageEntry(updater, payload, list, payload.entries[i], buffer,
                   plan.folders[place.folder], place.temp);
    if (result != kResultOk) {
      RemoveTempFiles(plan, 0, i + 1);
      return result;
    }
  }
  return kResultOk;
}

// Flushes every folder that a move went into; false if one fails.
bool FlushMovedFolders(InstallPlan* plan) {
  bool flushed = true;
  for (uint32_t i = 0; i < plan->folder_count; i++) {
    if (plan->moved_into[i] && !Sys()->FlushFolder(plan->folders[i])) {
      flushed = false;
    }
    plan->moved_into[i] = false;
  }
  return flushed;
}

// Moves every staged file over its target, in directory order, once every
// target can be replaced, and flushes the folders they went into. The
// moves follow each other as closely as the system allows: they are the
// only time the folder holds old and new files together. A target that
// cannot be replaced after all stops them, and every temporary file left is
// removed.
ResultCode MoveAll(const Payload& payload, InstallPlan* plan) {
  for (uint32_t i = 0; i < payload.count; i++) {
    const InstallPlan::Place& place = plan->entries[i];
    FolderHandle folder = plan->folders[place.folder];
    if (!WaitUntilFree(folder, place.name, true)) {
      RemoveTempFiles(*plan, 0, payload.count);
      return kResultCannotWrite;
    }
  }
  for (uint32_t i = 0; i < payload.count; i++) {
    const InstallPlan::Place& place = plan->entries[i];
    // A read-only file of the same name is replaced all the same.
    if (!MoveTempOver(plan->folders[place.folder], place.temp, place.name,
                      true)) {
      RemoveTempFiles(*plan, i, payload.count);
      FlushMovedFolders(plan);
      return kResultCannotWrite;
    }
    plan->moved_into[place.folder] = true;
  }
  return FlushMovedFolders(plan) ? kResultOk : kResultCannotWrite;
}

// The run once the payload is read and the plan made.
ResultCode InstallPlanned(SeqFile* updater, const Payload& payload,
                          InstallPlan* plan) {
  // The installed-name list, in directory order, ended by a null slot.
  std::unique_ptr<const char*[]> installed(new (std::nothrow)
                                               const char*[payload.count + 1]);
  if (!installed) return kResultPayloadUnreadable;
  for (uint32_t i = 0; i < payload.count; i++) {
    installed[i] = payload.entries[i].name;
  }
  installed[payload.count] = nullptr;
  ResultCode result = StageAll(updater, payload, *plan);
  if (result != kResultOk) return result;
  // The merged uninstall list is made ready too, so that its move follows
  // the entries' at once. A list that cannot be had does not keep the
  // entries out: it is reported once they are in.
  FolderHandle root = plan->folders[0];
  int list_staged = StageUninstallList(root, installed.get());
  result = MoveAll(payload, plan);
  if (result != kResultOk) {
    if (list_staged) RemoveStagedUninstallList(root);
    return result;
  }
  return list_staged && MoveStagedUninstallList(root)
             ? kResultOk
             : kResultUninstallListFailed;
}

}  // namespace

ResultCode RunInstallation(SeqFile* own, const char* install_folder) {
  return InstallPayload(own, install_folder);
}

ResultCode InstallPayload(SeqFile* updater, const char* install_folder) {
  Payload payload;
  ResultCode result = ReadPayload(updater, &payload);
  if (result != kResultOk) return result;
  InstallPlan plan;
  result = MakePlan(payload, install_folder, &plan);
  if (result == kResultOk) result = InstallPlanned(updater, payload, &plan);
  ReleasePlan(&plan);
  return result;
}

ResultCode InstallPayload(const char* updater_path,
                          const char* install_folder) {
  SeqFile updater;
  updater.OpenRead(updater_path);
  return InstallPayload(&updater, install_folder);
}
