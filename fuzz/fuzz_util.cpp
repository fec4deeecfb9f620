#include "fuzz/fuzz_util.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string* folder = nullptr;

void RemoveFolder() {
  std::string command = "rm -rf '" + *folder + "'";
  if (system(command.c_str()) != 0)
    fprintf(stderr, "cannot remove %s\n", folder->c_str());
}

}  // namespace

const std::string& FuzzFolder() {
  if (folder != nullptr) return *folder;
  struct stat st;
  const char* tmp = getenv("TMPDIR");
  std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)
                         ? "/dev/shm"
                         : (tmp != nullptr && *tmp ? tmp : "/tmp");
  std::string pattern = base + "/updater-fuzz.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) {
    perror("mkdtemp");
    abort();
  }
  folder = new std::string(buf.data());
  atexit(RemoveFolder);
  return *folder;
}

void WriteFileAt(const std::string& path, const void* data, size_t size,
                 uint64_t offset) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    perror(path.c_str());
    abort();
  }
  const char* p = static_cast<const char*>(data);
  // The hole before offset is there even when nothing follows it.
  bool ok = ftruncate(fd, static_cast<off_t>(offset)) == 0;
  while (ok && size > 0) {
    ssize_t n = pwrite(fd, p, size, static_cast<off_t>(offset));
    ok = n > 0;
    if (ok) {
      p += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
  }
  if (close(fd) != 0 || !ok) {
    perror(path.c_str());
    abort();
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::string out;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof(buf))) > 0) out.append(buf, n);
  close(fd);
  return out;
}

NamesAndBytes SplitInput(const uint8_t* data, size_t size) {
  NamesAndBytes out;
  if (size < 2) {
    out.rest.assign(reinterpret_cast<const char*>(data), size);
    return out;
  }
  size_t n = data[0] | (static_cast<size_t>(data[1]) << 8);
  if (n > size - 2) n = size - 2;
  const char* names = reinterpret_cast<const char*>(data + 2);
  size_t start = 0;
  for (size_t i = 0; i <= n; i++) {
    if (i == n || names[i] == '\0') {
      if (i > start || i < n) out.names.emplace_back(names + start, i - start);
      start = i + 1;
    }
  }
  out.rest.assign(names + n, size - 2 - n);
  return out;
}

std::string JoinInput(const std::vector<std::string>& names,
                      const std::string& rest) {
  std::string area;
  for (size_t i = 0; i < names.size(); i++) {
    if (i > 0) area += '\0';
    area += names[i];
  }
  std::string out;
  out += static_cast<char>(area.size() & 0xFF);
  out += static_cast<char>(area.size() >> 8);
  return out + area + rest;
}

void Check(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "property failed: %s\n", what);
  abort();
}
