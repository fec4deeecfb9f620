// The updater's fixed names and texts. Texts, caption and registry key are
// NUL-terminated code page 932 strings for the narrow system calls.
#ifndef CONTROL_TEXTS_H_
#define CONTROL_TEXTS_H_

#include <stdint.h>

#include "payload/result_code.h"

extern const char kUpdaterMutexName[];
extern const char kEngineMutexName[];

// The game's key under HKEY_LOCAL_MACHINE is the three parts joined with
// backslashes, and the install folder its "InstalledFolder" value.
extern const char kRegistryKeyPart1[];
extern const char kRegistryKeyPart2[];
extern const char kRegistryKeyPart3[];
extern const char kInstalledFolderValue[];

extern const char kCaption[];
extern const char kTextBusy[];
extern const char kTextNotInstalled[];
extern const char kTextConfirm[];
extern const char kTextDone[];
extern const char kTextCorrupt[];
extern const char kTextFailed[];
extern const char kTextUninstallFailed[];

// The message box text for a run's result, or null for none, and in
// *style the box's icon. mkupdate apply says the same.
const char* ResultText(ResultCode result, uint32_t* style);

#endif  // CONTROL_TEXTS_H_
