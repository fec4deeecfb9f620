#include "control/update_flow.h"

#include "control/install_folder.h"
#include "control/stub_marker.h"
#include "control/texts.h"
#include "payload/installation_run.h"
#include "platform/path.h"
#include "platform/platform.h"

namespace {

// Everything after the two mutexes are held.
int RunGuarded() {
  char folder[kMaxPath];
  if (!FindInstallFolder(folder)) {
    Sys()->ShowMessageBox(kTextNotInstalled, kCaption, kBoxWarning);
    return kExitNotInstalled;
  }
  if (Sys()->ShowMessageBox(kTextConfirm, kCaption, kBoxQuestion) !=
      kAnswerYes) {
    return kExitDeclined;
  }
  ResultCode result = RunInstallation(folder);
  uint32_t style;
  const char* text = ResultText(result, &style);
  if (text != nullptr) Sys()->ShowMessageBox(text, kCaption, style);
  return static_cast<int>(result);
}

}  // namespace

int RunUpdateFlow() {
  KeepStubMarker();
  Sys()->HardenProcess();
  uint32_t error = 0;
  MutexHandle updater = Sys()->CreateNamedMutex(kUpdaterMutexName, &error);
  if (error != 0) {
    Sys()->CloseNamedMutex(updater);
    return kExitAnotherUpdater;
  }
  // Held until exit: the game, its launcher and its uninstaller find it
  // taken for the whole update, the question included.
  MutexHandle engine = Sys()->CreateNamedMutex(kEngineMutexName, &error);
  int exit_code;
  if (error != 0) {
    Sys()->ShowMessageBox(kTextBusy, kCaption, kBoxWarning);
    exit_code = kExitGameRunning;
  } else {
    exit_code = RunGuarded();
  }
  Sys()->CloseNamedMutex(engine);
  Sys()->CloseNamedMutex(updater);
  return exit_code;
}
