#include "testing/test_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "gtest/gtest.h"
#include "payload/payload_archive.h"

namespace {

// Small files as they are; larger ones by size and a hash, so that a failing
// comparison of two snapshots stays readable.
std::string Digest(const std::string& bytes) {
  if (bytes.size() <= 64) return bytes;
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  char text[64];
  snprintf(text, sizeof(text), "<%zu bytes, hash %016llx>", bytes.size(),
           static_cast<unsigned long long>(hash));
  return text;
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(path.c_str(), 0700);
    DIR* dir = opendir(path.c_str());
    if (dir != nullptr) {
      while (struct dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) {
          continue;
        }
        RemoveTree(path + "/" + e->d_name);
      }
      closedir(dir);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

void PutU32(std::string* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*out)[at + i] = static_cast<char>(v >> (8 * i));
}

void Snapshot(const std::string& dir, const std::string& rel,
              std::vector<std::string>* out) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (struct dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string full = dir + "/" + name;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Snapshot(full, rel + name + "/", out);
    } else {
      out->push_back(rel + name + " " + std::to_string(st.st_mode & 0777) +
                     "\n" + Digest(ReadFileOrEmpty(full)) + "\n");
    }
  }
  closedir(d);
}

}  // namespace

ScratchDir::ScratchDir() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/upd.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) abort();
  path_ = buf.data();
}

ScratchDir::~ScratchDir() { RemoveTree(path_); }

void WriteFileOrDie(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(fclose(f), 0);
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string SnapshotDir(const std::string& dir) {
  std::vector<std::string> files;
  Snapshot(dir, "", &files);
  std::sort(files.begin(), files.end());
  std::string out;
  for (const std::string& f : files) out += f;
  return out;
}

std::string BuildPayload(const std::vector<TestEntry>& entries,
                         int64_t count_override) {
  std::string out("PackFile    ", 12);
  out.append(4, '\0');
  PutU32(&out, 12,
         count_override >= 0 ? static_cast<uint32_t>(count_override)
                             : static_cast<uint32_t>(entries.size()));
  uint32_t offset = 0;
  for (const TestEntry& e : entries) {
    std::string record(32, '\0');
    memcpy(&record[0], e.name.data(), std::min<size_t>(e.name.size(), 16));
    PutU32(&record, 16, offset);
    PutU32(&record, 20, static_cast<uint32_t>(e.data.size()));
    out += record;
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const TestEntry& e : entries) out += e.data;
  return out;
}

void PatchEntry(std::string* payload, uint32_t i, uint32_t offset,
                uint32_t size) {
  PutU32(payload, 16 + 32 * i + 16, offset);
  PutU32(payload, 16 + 32 * i + 20, size);
}

std::string BuildVerificationList(const std::vector<TestRecord>& records,
                                  const char* magic) {
  std::string out(magic, 8);
  out.append(8, '\0');
  PutU32(&out, 12, static_cast<uint32_t>(records.size()));
  for (const TestRecord& r : records) {
    std::string record(64, '\0');
    memcpy(&record[0], r.name.data(), std::min<size_t>(r.name.size(), 56));
    memcpy(&record[56], &r.checksum, 8);
    out += record;
  }
  return out;
}

EntryChecksum ChecksumOf(const std::string& data) {
  // By the definition, so that what the updater and the tools compute with
  // the fast kernels is checked against it.
  EntryChecksum sum = NewEntryChecksum();
  UpdateEntryChecksumWith(kKernelByteLoop, &sum,
                          reinterpret_cast<const uint8_t*>(data.data()),
                          data.size());
  return sum;
}

std::string UpdaterFile(const std::string& payload, const std::string& prefix) {
  std::string out = prefix;
  out.resize(kPayloadOffset, '\0');
  return out + payload;
}

namespace {

void ExecChild(const std::vector<std::string>& argv,
               const ProcessOptions& options) {
  // Its own process group, so that StopProcess ends its children too
  // (flock(1) runs its command as a child that holds the lock).
  setpgid(0, 0);
  // The default handling, whatever the tests were started with (a
  // background job ignores SIGINT).
  for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
  for (const std::string& kv : options.env) putenv(strdup(kv.c_str()));
  if (options.file_size_limit != 0) {
    // A write past the limit must fail with EFBIG, not kill the process.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {options.file_size_limit, options.file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
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

pid_t HoldFlock(const std::string& path) {
  pid_t pid = StartProcess({"flock", "-n", "-F", path, "sleep", "60"});
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
