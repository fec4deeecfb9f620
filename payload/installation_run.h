// The installation run: every payload entry checked and written into the
// install folder, then the installed names merged into the uninstall list.
#ifndef PAYLOAD_INSTALLATION_RUN_H_
#define PAYLOAD_INSTALLATION_RUN_H_

#include "payload/result_code.h"

// Installs the payload carried by the running updater's own file.
ResultCode RunInstallation(const char* install_folder);

// Installs the payload of the updater file at updater_path into the folder.
// Stops at the first entry that cannot be read (kResultPayloadUnreadable),
// whose checksum differs from its record (kResultChecksumMismatch) or that
// cannot be written in full (kResultCannotWrite); entries before it stay
// installed and the uninstall list is untouched. Once all are written, the
// list update decides between kResultOk and kResultUninstallListFailed.
ResultCode InstallPayload(const char* updater_path, const char* install_folder);

#endif  // PAYLOAD_INSTALLATION_RUN_H_
