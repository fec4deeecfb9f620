// Child processes for the tests: programs run to completion or kept running
// beside the test, and code of the test run in a child under limits.
#ifndef TESTING_CHILD_PROCESS_H_
#define TESTING_CHILD_PROCESS_H_

#include <stdint.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

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

// Starts `flock -F path sleep SECONDS` and waits until it holds the lock:
// another process holding the file, as a running game or a reader would,
// for good or for a moment. flock waits for the lock: with -n it gave up
// when it came while this process's probe held the lock for an instant.
pid_t HoldFlock(const std::string& path, const char* seconds = "60");

// What a child of CallInChild may not do.
struct ChildLimits {
  uint64_t file_size_limit = 0;  // RLIMIT_FSIZE when nonzero
  // Run as the user nobody when the tests run as root, who may write
  // anything.
  bool unprivileged = false;
};

// What CallInChild returns when the child could not take its limits or
// ended without saying what fn returned.
const uint32_t kChildSaidNothing = 0xFFFFFFFFu;

// Runs fn in a forked child of this process under the limits, and returns
// what fn returned there. Whatever fn changes in memory stays in the child.
uint32_t CallInChild(const std::function<uint32_t()>& fn,
                     const ChildLimits& limits = ChildLimits());

#endif  // TESTING_CHILD_PROCESS_H_
