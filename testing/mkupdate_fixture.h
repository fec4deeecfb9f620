// The worlds mkupdate's process tests run it in: a scratch folder with a
// release folder (src/), an output folder (out/) and the native updater as
// the stub; and two releases of the game.
#ifndef TESTING_MKUPDATE_FIXTURE_H_
#define TESTING_MKUPDATE_FIXTURE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "payload/entry_checksum.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

uint32_t U32At(const std::string& bytes, size_t at);

// The checksum as mkupdate prints it.
std::string Hex(const EntryChecksum& sum);

// The names in a folder (not below it), sorted.
std::vector<std::string> FolderNames(const std::string& dir);

// The stored name of directory record i of an update file.
std::string EntryNameAt(const std::string& update, uint32_t i);

// One NUL byte: what ends an uninstall list.
std::string Nul();

// A line of a dry run up to what follows the size.
std::string PlanLine(const char* name, unsigned size);

// ルーメン.dat in UTF-8 and in code page 932.
extern const char kJapaneseUtf8[];
extern const char kJapaneseCp932[];

class MkupdateTest : public ::testing::Test {
 protected:
  MkupdateTest();

  // Runs mkupdate; its stdout lands in out_text_.
  ProcessResult Mk(const std::vector<std::string>& args,
                   ProcessOptions options = ProcessOptions());

  // pack --stub STUB --out out [--verify-dir src] entries...
  ProcessResult Pack(const std::vector<std::string>& entries,
                     const std::string& out, bool with_list = true);

  // Expects a refusal: exit 1, "mkupdate: FILE: " and reason on stderr, and
  // nothing left in the output folder.
  void ExpectRefusal(const ProcessResult& r, const std::string& file,
                     const std::string& reason);

  // Mk without the power to ignore file modes when the tests run as root,
  // so that a file of mode 000 cannot be read, as for anyone else.
  ProcessResult MkWithoutOverride(const std::vector<std::string>& args,
                                  ProcessOptions options = ProcessOptions());

  ScratchDir dir_;
  std::string src_ = dir_.Sub("src");
  std::string out_dir_ = dir_.Sub("out");
  std::string stub_ = dir_.Sub("stub");
  std::string update_ = out_dir_ + "/setup";
  std::string out_text_;
};

// An update of a.arc, Data.ARC and an unlisted entry, with the list, for
// list and verify.
class InspectTest : public MkupdateTest {
 protected:
  void PackThree();
  std::string good_;  // the update's bytes
};

// Two releases of the game as installed: old_ (1.0) and new_ (1.1), which
// changes, adds and drops files, and carries an uninstall list and a stale
// verification list of its own.
class ReleaseTest : public MkupdateTest {
 protected:
  ReleaseTest();

  // Writes the file into both releases.
  void Both(const std::string& name, const std::string& bytes);

  // pack --from old_ --to new_, and more.
  ProcessResult PackReleases(const std::vector<std::string>& more = {});

  // Installs the updates, one after the other, into a copy of the
  // release with the native updater; then verifies the folder against
  // the last. Returns verify's exit code; its text is in out_text_.
  int InstallAndVerify(const std::string& release,
                       const std::vector<std::string>& updates);

  std::string old_ = dir_.Sub("old");
  std::string new_ = dir_.Sub("new");
};

#endif  // TESTING_MKUPDATE_FIXTURE_H_
