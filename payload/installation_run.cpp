#include "payload/installation_run.h"

#include <memory>
#include <new>

#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"
#include "uninstall/uninstall_list.h"

namespace {

// Checks one entry's data and writes it to the install folder.
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
  if (!JoinPath(install_folder, entry.name, path)) return kResultCannotWrite;
  // Lets a read-only file of the same name be replaced; for a new file the
  // call simply fails.
  ClearFileAttributes(path);
  SeqFile out;
  if (!out.OpenWrite(path) ||
      out.Write(data->get(), entry.size) != entry.size) {
    return kResultCannotWrite;
  }
  return kResultOk;
}

}  // namespace

ResultCode RunInstallation(const char* install_folder) {
  char updater_path[kMaxPath];
  GetUpdaterPath(updater_path, sizeof(updater_path));
  return InstallPayload(updater_path, install_folder);
}

ResultCode InstallPayload(const char* updater_path,
                          const char* install_folder) {
  SeqFile file;
  Payload payload;
  ResultCode result = OpenPayload(updater_path, &file, &payload);
  if (result != kResultOk) return result;
  // The installed-name list: slot i points at entry i's name once it is
  // written; the slot after the last written one stays null.
  std::unique_ptr<const char*[]> installed(new (std::nothrow)
                                               const char*[payload.count + 1]);
  if (!installed) return kResultPayloadUnreadable;
  for (uint32_t i = 0; i <= payload.count; i++) installed[i] = nullptr;
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
