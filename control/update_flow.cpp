#include "control/update_flow.h"

#include "control/install_folder.h"
#include "control/stub_marker.h"
#include "control/texts.h"
#include "payload/installation_run.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/seq_file.h"

namespace {

// Everything after the two mutexes are held; own is the updater's own file,
// open or not.
int RunGuarded(SeqFile* own) {
  char folder[kMaxPath];
  if (!FindInstallFolder(folder)) {
    Sys()->ShowMessageBox(kTextNotInstalled, kCaption, kBoxWarning);
    return kExitNotInstalled;
  }
  if (Sys()->ShowMessageBox(kTextConfirm, kCaption, kBoxQuestion) !=
      kAnswerYes) {
    return kExitDeclined;
  }
  ResultCode result = RunInstallation(own, folder);
  uint32_t style;
  const char* text = ResultText(result, &style);
  if (text != nullptr) Sys()->ShowMessageBox(text, kCaption, style);
  return static_cast<int>(result);
}

}  // namespace

int RunUpdateFlow() {
  KeepStubMarker();
  Sys()->HardenProcess();
  // The file the player started, held from the first moment to the last,
  // sharing nothing but reading: what the question asks about is what is
  // installed, whatever is put at its name meanwhile. One that cannot be
  // had is reported as the update being damaged, once the player has said
  // Yes.
  SeqFile own;
  own.OpenOwnExecutable();
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
    exit_code = RunGuarded(&own);
  }
  Sys()->CloseNamedMutex(engine);
  Sys()->CloseNamedMutex(updater);
  return exit_code;
}
