// The installation run: every payload entry checked and written into the
// install folder, then the installed names merged into the uninstall list.
#ifndef PAYLOAD_INSTALLATION_RUN_H_
#define PAYLOAD_INSTALLATION_RUN_H_

#include "payload/result_code.h"

// Installs the payload carried by the running updater's own file;
// kResultPayloadUnreadable when the system cannot give that file's path.
ResultCode RunInstallation(const char* install_folder);

// Installs the payload of the updater file at updater_path into the folder.
// Refuses, before writing anything, a payload whose paths in the folder would
// not fit kMaxPath with their temporary files' suffix (kResultCannotWrite).
// Stops at the first entry that cannot be read (kResultPayloadUnreadable),
// whose checksum differs from its record (kResultChecksumMismatch) or that
// cannot be put in place whole (kResultCannotWrite): entries before it stay
// installed, its own file stays as it was, and the uninstall list is
// untouched. Once all are in, the list update decides between kResultOk and
// kResultUninstallListFailed.
ResultCode InstallPayload(const char* updater_path, const char* install_folder);

#endif  // PAYLOAD_INSTALLATION_RUN_H_
