#include "payload/installation_run.h"

#include <memory>
#include <new>

#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "platform/file_replace.h"
#include "platform/path.h"
#include "platform/seq_file.h"
#include "uninstall/uninstall_list.h"

namespace {

// True when the path and the temporary file beside it fit the path buffer.
bool PathFits(const char* install_folder, const char* name) {
  char path[kMaxPath];
  char temp_path[kMaxPath];
  return JoinPath(install_folder, name, path) && TempPathFor(path, temp_path);
}

// True when every file the run may write fits: each entry, and the
// uninstall list.
bool EveryPathFits(const Payload& payload, const char* install_folder) {
  for (uint32_t i = 0; i < payload.count; i++) {
    if (!PathFits(install_folder, payload.entries[i].name)) return false;
  }
  return PathFits(install_folder, kUninstallListName);
}

// Checks one entry's data and puts it in the install folder whole.
ResultCode InstallEntry(SeqFile* payload_file, const Payload& payload,
                        const VerificationList& list, const PayloadEntry& entry,
                        const char* install_folder, EntryBuffer* data) {
  if (!ReadEntryData(payload_file, payload, entry, data)) {
    return kResultPayloadUnreadable;
  }
  EntryChecksum sum = ComputeEntryChecksum(data->get(), entry.size);
  if (VerifyEntry(list, entry.name, sum) == kMismatch) {
    return kResultChecksumMismatch;
  }
  char path[kMaxPath];
  // A read-only file of the same name is replaced all the same.
  if (!JoinPath(install_folder, entry.name, path) ||
      !ReplaceWholeFile(path, data->get(), entry.size, true)) {
    return kResultCannotWrite;
  }
  return kResultOk;
}

}  // namespace

ResultCode RunInstallation(const char* install_folder) {
  char updater_path[kMaxPath];
  if (!GetUpdaterPath(updater_path, sizeof(updater_path))) {
    return kResultPayloadUnreadable;
  }
  return InstallPayload(updater_path, install_folder);
}

ResultCode InstallPayload(const char* updater_path,
                          const char* install_folder) {
  SeqFile file;
  Payload payload;
  ResultCode result = OpenPayload(updater_path, &file, &payload);
  if (result != kResultOk) return result;
  // A path that cannot be built would stop the run half-way; refused here,
  // the install folder is left as it was.
  if (!EveryPathFits(payload, install_folder)) return kResultCannotWrite;
  // The installed-name list: slot i points at entry i's name once it is
  // written; the slot after the last written one stays null.
  std::unique_ptr<const char*[]> installed(new (std::nothrow)
                                               const char*[payload.count + 1]);
  if (!installed) return kResultPayloadUnreadable;
  for (uint32_t i = 0; i <= payload.count; i++) installed[i] = nullptr;
  // The list and the entry buffer, which may hold tens of megabytes, go at
  // the end of this scope: the uninstall list update takes its own 1 MiB
  // buffer, and the two are never held at once.
  {
    VerificationList list;
    LoadVerificationList(&file, payload, &list);
    EntryBuffer data;
    for (uint32_t i = 0; i < payload.count; i++) {
      result = InstallEntry(&file, payload, list, payload.entries[i],
                            install_folder, &data);
      if (result != kResultOk) return result;
      installed[i] = payload.entries[i].name;
    }
  }
  return UpdateUninstallList(install_folder, installed.get())
             ? kResultOk
             : kResultUninstallListFailed;
}
