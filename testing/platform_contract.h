// The behaviours of the platform layer the updater relies on, as one table
// of cases run against every backend: the fake (testing/fake_platform.h, the
// system of the crash tests), the POSIX stand-in, and the
// Win32 backend under Wine (e2e/contract.cpp). A case acts through a
// Platform, and sets its scene up, or plays another process, through a
// ContractScene that each backend's test provides. Where a backend differs
// from Windows, the difference is named (ContractDifference) and the case
// checks that backend's own behaviour instead.
#ifndef TESTING_PLATFORM_CONTRACT_H_
#define TESTING_PLATFORM_CONTRACT_H_

#include <string>

#include "platform/platform.h"

// A fresh, empty folder for one case, and what is done in it from outside
// the Platform under test. Names are relative to the folder, parts joined
// by a backslash, in code page 932 as the updater gives them; each scene
// makes them the names its system keeps (UTF-16 on Windows, UTF-8 on the
// POSIX stand-in's disk).
class ContractScene {
 public:
  virtual ~ContractScene() = default;
  // The folder as the Platform names it (a path for kNoFolder).
  virtual std::string Root() = 0;
  virtual bool MakeFile(const std::string& name, const std::string& data,
                        bool read_only) = 0;
  virtual bool MakeFolder(const std::string& name) = 0;
  // A symbolic link at name to target, itself relative to the link's
  // folder; target need not exist.
  virtual bool MakeLink(const std::string& name, const std::string& target) = 0;
  // A second name for the file at existing (a hard link).
  virtual bool MakeHardLink(const std::string& name,
                            const std::string& existing) = 0;
  // Whether the file at name is read-only, links followed.
  virtual bool IsReadOnly(const std::string& name) = 0;
  // The file's bytes, links followed; "<missing>" when there is none.
  virtual std::string Read(const std::string& name) = 0;
  // Another process opens the file for reading, sharing reading only, and
  // holds it until ReleaseOther.
  virtual bool HoldAsOther(const std::string& name) = 0;
  virtual void ReleaseOther() = 0;
  // Another process renames from to to; true when it could.
  virtual bool RenameAsOther(const std::string& from,
                             const std::string& to) = 0;
};

// What no case can tell, on any backend: the Win32 create-new's
// FILE_OPEN_REPARSE_POINT (a create that fails on any name refuses a link
// without it), and whether a flush reaches the disk (the durability of the
// flushes is the crash suite's, on the fake, and the Wine scenario's that
// traces the syncs). A rename within a volume has no write-through of its
// own on Windows (MOVEFILE_WRITE_THROUGH is for a move made as a copy and a
// delete); a folder's flush is what asks for its renames.
//
// Where a backend differs from Windows, in what the updater does not rely
// on; a bit set for each.
enum ContractDifference {
  // Names in a folder are told apart by letter case (the POSIX stand-in).
  kCaseSensitiveNames = 1,
  // Another process may rename a folder this one holds, and the held
  // folder goes with it: names made through it land under its new name
  // (the POSIX stand-in's descriptor).
  kHeldFolderFollowsRename = 2,
  // Another process's open of a file does not keep this one from removing
  // it (the POSIX stand-in locks only what it replaces).
  kHeldFileRemovable = 4,
  // A link that leads nowhere is seen as nothing (Wine): GetPathKind says
  // kPathMissing, though create-new still fails on it and a move replaces
  // it.
  kDanglingLinkUnseen = 8,
};

struct ContractCase {
  const char* name;
  // "" when the backend behaves as the case requires, else what it did.
  std::string (*run)(Platform* platform, ContractScene* scene, int differences);
};

extern const ContractCase kContractCases[];
extern const int kContractCaseCount;

#endif  // TESTING_PLATFORM_CONTRACT_H_
