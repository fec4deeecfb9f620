#include "testing/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "gtest/gtest.h"

namespace {

const uid_t kNobody = 65534;

// Makes writes past limit bytes fail with EFBIG rather than end the process
// with SIGXFSZ. For a child, before it runs what is tested; false if the
// limit could not be set.
bool LimitFileSize(uint64_t limit) {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit rlimit = {limit, limit};
  return setrlimit(RLIMIT_FSIZE, &rlimit) == 0;
}

// For a child as root: drops to nobody for good; false if it could not.
bool BecomeNobody() {
  return setgroups(0, nullptr) == 0 &&
         setresgid(kNobody, kNobody, kNobody) == 0 &&
         setresuid(kNobody, kNobody, kNobody) == 0;
}

void ExecChild(const std::vector<std::string>& argv,
               const ProcessOptions& options) {
  // Its own process group, so that StopProcess ends its children too
  // (flock(1) runs its command as a child that holds the lock).
  setpgid(0, 0);
  // The default handling, whatever the tests were started with (a
  // background job ignores SIGINT).
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
  for (const std::string& kv : options.env) putenv(strdup(kv.c_str()));
  if (options.file_size_limit != 0 && !LimitFileSize(options.file_size_limit)) {
    _exit(126);
  }
  if (options.small_pages && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0) {
    _exit(126);
  }
  if (options.start_gate >= 0) {
    char go;
    if (read(options.start_gate, &go, 1) != 1) _exit(127);
    close(options.start_gate);
  }
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

ChildProcess SpawnProcess(const std::vector<std::string>& argv,
                          const ProcessOptions& options) {
  // A child may end without reading its input: that is no reason to die.
  signal(SIGPIPE, SIG_IGN);
  int in[2], err[2];
  if (pipe(in) != 0 || pipe(err) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(err[1], 2);
    int out_fd = options.stdout_path.empty()
                     ? open("/dev/null", O_WRONLY)
                     : open(options.stdout_path.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out_fd, 1);
    close(in[0]);
    close(in[1]);
    close(err[0]);
    close(err[1]);
    ExecChild(argv, options);
  }
  close(in[0]);
  close(err[1]);
  ChildProcess child;
  child.pid = pid;
  child.in = in[1];
  child.err = err[0];
  return child;
}

std::string ReadUntil(ChildProcess* child, const std::string& text) {
  char buf[4096];
  while (child->err_text.find(text) == std::string::npos) {
    ssize_t n = read(child->err, buf, sizeof(buf));
    if (n <= 0) break;
    child->err_text.append(buf, n);
  }
  return child->err_text;
}

ProcessResult FinishProcess(ChildProcess* child, const std::string& input) {
  // The input is small: it fits in the pipe without a reader.
  if (!input.empty()) {
    ssize_t w = write(child->in, input.data(), input.size());
    (void)w;
  }
  close(child->in);
  ProcessResult result;
  char buf[4096];
  ssize_t n;
  while ((n = read(child->err, buf, sizeof(buf))) > 0) {
    child->err_text.append(buf, n);
  }
  close(child->err);
  result.err = child->err_text;
  int status = 0;
  waitpid(child->pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const ProcessOptions& options) {
  ChildProcess child = SpawnProcess(argv, options);
  return FinishProcess(&child, options.input);
}

pid_t StartProcess(const std::vector<std::string>& argv) {
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    ExecChild(argv, ProcessOptions());
  }
  setpgid(pid, pid);  // also here, so a kill right away reaches the group
  return pid;
}

void StopProcess(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGKILL);
  int status;
  waitpid(pid, &status, 0);
}

pid_t HoldFlock(const std::string& path, const char* seconds) {
  pid_t pid = StartProcess({"flock", "-F", path, "sleep", seconds});
  // Wait until the lock is really taken: probe it ourselves.
  for (int i = 0; i < 500; i++) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0) {
      bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
      close(fd);
      if (held) return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  StopProcess(pid);
  ADD_FAILURE() << "flock never took " << path;
  return -1;
}

uint32_t CallInChild(const std::function<uint32_t()>& fn,
                     const ChildLimits& limits) {
  int result_pipe[2];
  if (pipe(result_pipe) != 0) return kChildSaidNothing;
  fflush(nullptr);  // nothing buffered is written twice
  pid_t pid = fork();
  if (pid == 0) {
    close(result_pipe[0]);
    if (limits.file_size_limit != 0 && !LimitFileSize(limits.file_size_limit)) {
      _exit(1);
    }
    if (limits.unprivileged && geteuid() == 0 && !BecomeNobody()) _exit(1);
    uint32_t result = fn();
    _exit(write(result_pipe[1], &result, sizeof(result)) == sizeof(result) ? 0
                                                                           : 1);
  }
  close(result_pipe[1]);
  uint32_t result = kChildSaidNothing;
  if (pid < 0 ||
      read(result_pipe[0], &result, sizeof(result)) != sizeof(result)) {
    result = kChildSaidNothing;
  }
  close(result_pipe[0]);
  if (pid > 0) {
    int status;
    waitpid(pid, &status, 0);
  }
  return result;
}
