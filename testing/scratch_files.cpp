#include "testing/scratch_files.h"

#include <dirent.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "gtest/gtest.h"

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

SmallFilesystem::SmallFilesystem(const std::string& dir, int kib) : dir_(dir) {
  mkdir(dir.c_str(), 0755);
  std::string options = "size=" + std::to_string(kib) + "k,mode=0777";
  mounted_ = mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                   options.c_str()) == 0;
}

SmallFilesystem::~SmallFilesystem() {
  if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
}

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
