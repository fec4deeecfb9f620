#include "testing/list_merge.h"

#include "platform/platform.h"
#include "uninstall/uninstall_list.h"

int MergeUninstallList(const char* folder, const char* const* names) {
  FolderHandle held = Sys()->OpenFolder(kNoFolder, folder);
  if (held == kNoFolder) return 0;
  int merged = StageUninstallList(held, names) && MoveStagedUninstallList(held);
  Sys()->CloseFolder(held);
  return merged;
}
