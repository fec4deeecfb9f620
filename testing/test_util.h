// Helpers shared by the tests: scratch folders, files, payloads built from
// bytes in the test, and child processes.
#ifndef TESTING_TEST_UTIL_H_
#define TESTING_TEST_UTIL_H_

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "payload/verification_list.h"

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the
// object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string Sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileOrDie(const std::string& path, const std::string& bytes);
std::string ReadFileOrEmpty(const std::string& path);
bool FileExists(const std::string& path);
// Every regular file under dir, relative name -> contents, for comparing a
// folder before and after a run.
std::string SnapshotDir(const std::string& dir);

struct TestEntry {
  std::string name;  // up to 16 bytes; written as given, padded with NULs
  std::string data;
};

// An archive with the entries back to back, as the publisher's tool lays
// them out. count_override replaces the stored count when not negative.
std::string BuildPayload(const std::vector<TestEntry>& entries,
                         int64_t count_override = -1);

// Overwrites the offset and size fields of directory record i in a payload.
void PatchEntry(std::string* payload, uint32_t i, uint32_t offset,
                uint32_t size);

struct TestRecord {
  std::string name;  // up to 56 bytes
  EntryChecksum checksum;
};
std::string BuildVerificationList(const std::vector<TestRecord>& records,
                                  const char* magic = "KPL_____");
EntryChecksum ChecksumOf(const std::string& data);

// prefix (padded with zeros to 1 MiB) followed by the payload.
std::string UpdaterFile(const std::string& payload,
                        const std::string& prefix = "");

struct ProcessResult {
  int status = -1;  // exit status, or -1 if it did not exit normally
  std::string err;
};

struct ProcessOptions {
  std::vector<std::string> env;  // NAME=VALUE added to the environment
  std::string input;             // written to its stdin, then closed
  uint64_t file_size_limit = 0;  // RLIMIT_FSIZE when nonzero
  // Transparent huge pages off for it, so that its page faults count 4 KiB
  // pages (the setting lasts across exec).
  bool small_pages = false;
  std::string stdout_path;  // its stdout goes here; /dev/null if empty
  // When set, the child waits for one byte on it before it starts the
  // program: children released by one write start at the same instant.
  int start_gate = -1;
};

// A child with a pipe to its stdin and one from its stderr.
struct ChildProcess {
  pid_t pid = -1;
  int in = -1;
  int err = -1;
  std::string err_text;  // what has been read from stderr so far
};
ChildProcess SpawnProcess(const std::vector<std::string>& argv,
                          const ProcessOptions& options);
// Reads stderr until text appears in it (or it ends); returns all read.
std::string ReadUntil(ChildProcess* child, const std::string& text);
// Writes input, closes stdin, reads the rest of stderr and waits.
ProcessResult FinishProcess(ChildProcess* child, const std::string& input);

// Runs argv to completion with options.input as its stdin.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const ProcessOptions& options);

// Starts argv in the background (stdin and stdout from /dev/null); returns
// its pid. StopProcess kills and reaps it.
pid_t StartProcess(const std::vector<std::string>& argv);
void StopProcess(pid_t pid);

// Starts `flock -n -F path sleep 60` and waits until it holds the lock: another
// process holding the file, as a running game or a reader would.
pid_t HoldFlock(const std::string& path);

#endif  // TESTING_TEST_UTIL_H_
