// A scratch world in which the native updater runs as a process: a stand-in
// registry that names an install folder, a folder for its locks, and the
// update file itself.
#ifndef TESTING_UPDATER_WORLD_H_
#define TESTING_UPDATER_WORLD_H_

#include <string>

#include "testing/child_process.h"
#include "testing/scratch_files.h"

// The uninstall list every world starts with.
extern const std::string kGameList;

class UpdaterWorld {
 public:
  // Makes Game/ holding kGameList, run/, and the registry value naming Game
  // as a REG_SZ with its terminator. The update file is not made yet.
  UpdaterWorld();

  // Replaces the registry value with one of the given type and bytes.
  void SetFolderValue(const std::string& type, const std::string& bytes);

  // Writes the update file: the native updater with the payload at 1 MiB,
  // or the bare updater when the payload is empty.
  void SetPayload(const std::string& payload);

  // The environment that points the updater at this world, and the input.
  ProcessOptions Options(const std::string& input) const;

  // Runs the update file with the input on its stdin.
  ProcessResult RunUpdate(const std::string& input) const;

  // The file that stands for the named mutex.
  std::string LockFile(const char* name) const;

  // The scratch folder that holds the whole world.
  const ScratchDir& dir() const { return dir_; }
  // The stand-in registry's root folder.
  const std::string& registry() const { return registry_; }
  // Where the updater takes its locks.
  const std::string& lock_dir() const { return lock_dir_; }
  // The install folder the registry names.
  const std::string& folder() const { return folder_; }
  // The update file.
  const std::string& updater() const { return updater_; }

 private:
  ScratchDir dir_;
  std::string registry_ = dir_.Sub("registry");
  std::string lock_dir_ = dir_.Sub("run");
  std::string folder_ = dir_.Sub("Game");
  std::string updater_ = dir_.Sub("setup");
};

#endif  // TESTING_UPDATER_WORLD_H_
