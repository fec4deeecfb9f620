// The installation run: every payload entry checked and written into the
// install folder, then the installed names merged into the uninstall list.
#ifndef PAYLOAD_INSTALLATION_RUN_H_
#define PAYLOAD_INSTALLATION_RUN_H_

#include "payload/result_code.h"
#include "platform/seq_file.h"

// Installs the payload carried by the running updater's own file, which
// the caller opened (SeqFile::OpenOwnExecutable) and holds; one that is not
// open gives kResultPayloadUnreadable.
ResultCode RunInstallation(SeqFile* own, const char* install_folder);

// Installs the payload of the open updater file into the folder, whole or
// not at all. Before anything is written it refuses an entry that reaches
// past the end of the file (kResultPayloadUnreadable), and a path that would
// not fit kMaxPath with its temporary file's suffix, that passes through a
// link or a missing folder, or that ends at a folder (kResultCannotWrite).
// Then every entry is written to its temporary file beside its target,
// checked and flushed; the first that cannot be read
// (kResultPayloadUnreadable), whose checksum differs from its record
// (kResultChecksumMismatch) or cannot be written (kResultCannotWrite) ends
// the run with every temporary file removed and the folder as it was. Once
// all are staged and every target can be replaced, they are moved over
// their targets in directory order; a move that fails after all ends the
// run there (kResultCannotWrite): the entries before it are new, the rest
// old. Once all are in, the list update decides between kResultOk and
// kResultUninstallListFailed.
ResultCode InstallPayload(SeqFile* updater, const char* install_folder);

// InstallPayload of the updater file at updater_path.
ResultCode InstallPayload(const char* updater_path, const char* install_folder);

#endif  // PAYLOAD_INSTALLATION_RUN_H_
