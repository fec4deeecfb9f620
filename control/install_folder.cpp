#include "control/install_folder.h"

#include <stdint.h>
#include <string.h>

#include "control/texts.h"
#include "platform/path.h"
#include "platform/platform.h"

int FindInstallFolder(char* folder) {
  memset(folder, 0, kMaxPath);
  char key_path[4096];
  if (!JoinWithBackslash(kRegistryKeyPart1, kRegistryKeyPart2, key_path,
                         sizeof(key_path)) ||
      !JoinWithBackslash(key_path, kRegistryKeyPart3, key_path,
                         sizeof(key_path))) {
    return 0;
  }
  RegistryKey key;
  if (Sys()->OpenMachineRegistryKey(key_path, &key) != 0) return 0;
  uint32_t type = 0;
  uint32_t size = kMaxPath;
  int32_t status =
      Sys()->QueryRegistryValue(key, kInstalledFolderValue, &type,
                                reinterpret_cast<uint8_t*>(folder), &size);
  Sys()->CloseRegistryKey(key);
  if (status != 0 || type != kRegistryValueSz || size > kMaxPath) {
    folder[0] = '\0';
    return 0;
  }
  // A value stored without its terminator ends where the query's bytes end;
  // one that fills the whole buffer that way leaves no room and is refused.
  if (memchr(folder, '\0', size) == nullptr) {
    if (size == kMaxPath) {
      folder[0] = '\0';
      return 0;
    }
    folder[size] = '\0';
  }
  // An empty folder would put the game's files at the root of the drive.
  return folder[0] != '\0';
}
