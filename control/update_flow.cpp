#include "control/update_flow.h"

#include <string.h>

#include "control/stub_marker.h"
#include "control/texts.h"
#include "payload/installation_run.h"
#include "platform/path.h"
#include "platform/platform.h"

int FindInstallFolder(char* folder) {
  memset(folder, 0, kInstallFolderSize);
  char key_path[4096];
  if (!JoinWithBackslash(kRegistryKeyPart1, kRegistryKeyPart2, key_path,
                         sizeof(key_path)) ||
      !JoinWithBackslash(key_path, kRegistryKeyPart3, key_path,
                         sizeof(key_path))) {
    return 0;
  }
  RegistryKey key;
  if (OpenMachineRegistryKey(key_path, &key) != 0) return 0;
  uint32_t type = 0;
  uint32_t size = kInstallFolderSize;
  int32_t status =
      QueryRegistryValue(key, kInstalledFolderValue, &type,
                         reinterpret_cast<uint8_t*>(folder), &size);
  CloseRegistryKey(key);
  if (status != 0 || type != kRegistryValueSz || size > kInstallFolderSize) {
    folder[0] = '\0';
    return 0;
  }
  // A value stored without its terminator ends where the query's bytes end;
  // one that fills the whole buffer that way leaves no room and is refused.
  if (memchr(folder, '\0', size) == nullptr) {
    if (size == kInstallFolderSize) {
      folder[0] = '\0';
      return 0;
    }
    folder[size] = '\0';
  }
  // An empty folder would put the game's files at the root of the drive.
  return folder[0] != '\0';
}

const char* ResultText(ResultCode result, uint32_t* style) {
  *style = kBoxWarning;
  switch (result) {
    case kResultOk:
      *style = kBoxInformation;
      return kTextDone;
    case kResultPayloadUnreadable:
    case kResultTooManyEntries:
    case kResultChecksumMismatch:
      return kTextCorrupt;
    case kResultCannotWrite:
      return kTextFailed;
    case kResultUninstallListFailed:
      return kTextUninstallFailed;
    default:
      return nullptr;
  }
}

namespace {

// Everything after the two mutexes are held.
int RunGuarded() {
  char folder[kInstallFolderSize];
  if (!FindInstallFolder(folder)) {
    ShowMessageBox(kTextNotInstalled, kCaption, kBoxWarning);
    return kExitNotInstalled;
  }
  if (ShowMessageBox(kTextConfirm, kCaption, kBoxQuestion) != kAnswerYes) {
    return kExitDeclined;
  }
  ResultCode result = RunInstallation(folder);
  uint32_t style;
  const char* text = ResultText(result, &style);
  if (text != nullptr) ShowMessageBox(text, kCaption, style);
  return static_cast<int>(result);
}

}  // namespace

int RunUpdateFlow() {
  KeepStubMarker();
  RestrictDllSearchPath();
  uint32_t error = 0;
  MutexHandle updater = CreateNamedMutex(kUpdaterMutexName, &error);
  if (error != 0) {
    CloseNamedMutex(updater);
    return kExitAnotherUpdater;
  }
  // Held until exit: the game, its launcher and its uninstaller find it
  // taken for the whole update, the question included.
  MutexHandle engine = CreateNamedMutex(kEngineMutexName, &error);
  int exit_code;
  if (error != 0) {
    ShowMessageBox(kTextBusy, kCaption, kBoxWarning);
    exit_code = kExitGameRunning;
  } else {
    exit_code = RunGuarded();
  }
  CloseNamedMutex(engine);
  CloseNamedMutex(updater);
  return exit_code;
}
