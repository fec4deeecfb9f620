// POSIX stand-in for the Win32 calls, so the updater builds, runs and is
// tested on Linux. Files map to open(2) with flock(2) standing for Windows
// share modes; named mutexes are flock(2) locks on files in the runtime
// folder; the registry is a folder tree; message boxes go to stderr.
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

const int32_t kErrorFileNotFound = 2;
const int32_t kErrorInvalidParameter = 87;

// Windows paths use backslashes; the program keeps building them that way
// and they become slashes only here.
bool ToPosixPath(const char* path, char* out, size_t out_size) {
  size_t n = strlen(path);
  if (n >= out_size) return false;
  for (size_t i = 0; i <= n; i++) out[i] = path[i] == '\\' ? '/' : path[i];
  return true;
}

// Converts code page 932 text to UTF-8; false if it does not convert or fit.
bool Cp932ToUtf8(const char* text, char* out, size_t out_size) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(text);
  size_t in_left = strlen(text);
  char* dst = out;
  size_t out_left = out_size - 1;
  size_t rc = iconv(cd, &in, &in_left, &dst, &out_left);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return false;
  *dst = '\0';
  return true;
}

FileHandle OpenLocked(const char* path, int flags, int lock) {
  char posix_path[PATH_MAX];
  if (!ToPosixPath(path, posix_path, sizeof(posix_path))) {
    return kInvalidFileHandle;
  }
  int fd = open(posix_path, flags | O_CLOEXEC, 0666);
  if (fd < 0) return kInvalidFileHandle;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) ||
      (S_ISREG(st.st_mode) && flock(fd, lock | LOCK_NB) != 0)) {
    close(fd);
    return kInvalidFileHandle;
  }
  return fd;
}

}  // namespace

FileHandle OpenFileForRead(const char* path) {
  return OpenLocked(path, O_RDONLY, LOCK_SH);
}

FileHandle CreateFileForWrite(const char* path) {
  // Truncate only once the exclusive lock is held, so a file that another
  // process holds open is left as it was, as a sharing violation would.
  FileHandle fd = OpenLocked(path, O_WRONLY | O_CREAT, LOCK_EX);
  if (fd == kInvalidFileHandle) return fd;
  struct stat st;
  // An empty file is left alone: on ext4, cutting a file to zero makes its
  // close start writing it out (the guard for replacing files by
  // truncation), which a new file does not need and which cp never pays.
  if (fstat(static_cast<int>(fd), &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_size > 0 && ftruncate(static_cast<int>(fd), 0) != 0) {
    close(static_cast<int>(fd));
    return kInvalidFileHandle;
  }
  return fd;
}

uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) {
  // ReadFile fills the whole request unless the file ends; read(2) may stop
  // short of it on large requests.
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = read(static_cast<int>(file), static_cast<char*>(buffer) + done,
                     n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return 0;
    if (r == 0) break;
    done += static_cast<uint32_t>(r);
  }
  return done;
}

uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t n) {
  // At most 1 MiB per write(2). One write of a whole entry of tens of
  // megabytes asks the page cache for its largest folios at once, and on
  // virtual machines that stalled some runs while the host brought that
  // memory back; in pieces none did, and the fast runs were as fast (the
  // README's Speed section has the figures).
  // Each piece's writeback is started as soon as it is written, as Windows'
  // cache manager writes behind: Linux would otherwise hold it all until the
  // flush that follows every file, and make that flush wait for all of it.
  const uint32_t kPiece = 1u << 20;
  int fd = static_cast<int>(file);
  off_t start = lseek(fd, 0, SEEK_CUR);
  uint32_t done = 0;
  while (done < n) {
    uint32_t piece = n - done < kPiece ? n - done : kPiece;
    ssize_t w = write(fd, static_cast<const char*>(buffer) + done, piece);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    if (start >= 0) {
      sync_file_range(fd, start + done, w, SYNC_FILE_RANGE_WRITE);
    }
    done += static_cast<uint32_t>(w);
  }
  return done;
}

uint32_t SetFilePosition(FileHandle file, uint32_t position) {
  if (position >= 0x80000000u) return kInvalidFileValue;
  off_t r =
      lseek(static_cast<int>(file), static_cast<off_t>(position), SEEK_SET);
  return r < 0 ? kInvalidFileValue : static_cast<uint32_t>(r);
}

uint32_t GetFileSizeLow(FileHandle file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return kInvalidFileValue;
  return static_cast<uint32_t>(st.st_size);
}

void CloseFileHandle(FileHandle file) { close(static_cast<int>(file)); }

int FlushFileToDisk(FileHandle file) {
  return fsync(static_cast<int>(file)) == 0;
}

namespace {

// Windows refuses to replace a file that has the read-only attribute, even
// for an administrator, or that another process holds open. The owner's
// write bit plays the attribute; the lock taken here plays the sharing
// check, and is held until the old file is gone. Returns the descriptor
// that holds the lock, -1 when there is no file, -2 when it is refused.
int LockTargetForReplace(const char* posix_path) {
  int fd = open(posix_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : -2;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      (st.st_mode & S_IWUSR) == 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -2;
  }
  return fd;
}

// The folder's entry for a renamed file reaches the disk only when the
// folder itself is synced.
void SyncParentFolder(const char* posix_path) {
  char folder[PATH_MAX];
  const char* slash = strrchr(posix_path, '/');
  size_t n = slash == nullptr ? 0 : static_cast<size_t>(slash - posix_path);
  if (slash == posix_path) n = 1;  // the root itself
  if (n == 0) {
    strcpy(folder, ".");
  } else {
    memcpy(folder, posix_path, n);
    folder[n] = '\0';
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int MoveFileOver(const char* from, const char* to) {
  char posix_from[PATH_MAX];
  char posix_to[PATH_MAX];
  if (!ToPosixPath(from, posix_from, sizeof(posix_from)) ||
      !ToPosixPath(to, posix_to, sizeof(posix_to))) {
    return 0;
  }
  int target = LockTargetForReplace(posix_to);
  if (target == -2) return 0;
  int moved = rename(posix_from, posix_to) == 0;
  if (target >= 0) close(target);
  if (moved) SyncParentFolder(posix_to);
  return moved;
}

int RemoveFile(const char* path) {
  char posix_path[PATH_MAX];
  return ToPosixPath(path, posix_path, sizeof(posix_path)) &&
         unlink(posix_path) == 0;
}

void* AllocatePages(size_t size) {
  const size_t kHugePage = 2u << 20;
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  if (size == 0 || size > SIZE_MAX - kHugePage - page) return nullptr;
  size_t length = (size + page - 1) / page * page;
  // Below one huge page there is nothing to align; above, the mapping starts
  // on a huge page boundary, or the kernel cannot use huge pages for it.
  size_t slack = size < kHugePage ? 0 : kHugePage;
  void* mapped = mmap(nullptr, length + slack, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  if (slack == 0) return mapped;
  uintptr_t base = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t start = (base + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
  if (start > base) munmap(mapped, start - base);
  size_t tail = slack - (start - base);
  if (tail > 0) munmap(reinterpret_cast<char*>(start) + length, tail);
  // Only a hint: where it is refused, small pages serve as well.
  madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(start);
}

void FreePages(void* pages, size_t size) {
  if (pages != nullptr) munmap(pages, size);
}

uint32_t ClearFileAttributes(const char* path) {
  char posix_path[PATH_MAX];
  struct stat st;
  if (!ToPosixPath(path, posix_path, sizeof(posix_path)) ||
      stat(posix_path, &st) != 0) {
    return kNoFileAttributes;
  }
  chmod(posix_path, (st.st_mode & 07777) | S_IWUSR);
  return st.st_mode & 07777;
}

void RestoreFileAttributes(const char* path, uint32_t attributes) {
  char posix_path[PATH_MAX];
  if (attributes == kNoFileAttributes ||
      !ToPosixPath(path, posix_path, sizeof(posix_path))) {
    return;
  }
  chmod(posix_path, static_cast<mode_t>(attributes & 07777));
}

uint32_t GetOwnExecutablePath(char* buffer, uint32_t size) {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (n <= 0 || static_cast<size_t>(n) >= size) return 0;
  memcpy(buffer, path, static_cast<size_t>(n));
  buffer[n] = '\0';
  return static_cast<uint32_t>(n);
}

MutexHandle CreateNamedMutex(const char* name, uint32_t* last_error) {
  const char* dir = getenv("XDG_RUNTIME_DIR");
  if (dir == nullptr || dir[0] == '\0') dir = "/tmp";
  char path[PATH_MAX];
  int n = snprintf(path, sizeof(path), "%s/%s.lock", dir, name);
  int fd = -1;
  if (n > 0 && static_cast<size_t>(n) < sizeof(path)) {
    fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  }
  if (fd < 0) {
    *last_error = kErrorFileNotFound;
    return kNoMutex;
  }
  // The handle is the descriptor plus one, so that descriptor 0 (stdin
  // closed by whoever started us) never reads as kNoMutex.
  *last_error = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : kErrorAlreadyExists;
  return static_cast<MutexHandle>(fd) + 1;
}

void CloseNamedMutex(MutexHandle mutex) {
  if (mutex != kNoMutex) close(static_cast<int>(mutex - 1));
}

namespace {

// The registry stand-in: $UPDATER_REGISTRY/HKEY_LOCAL_MACHINE/<key>/ holds
// one file per value, named "<value>.<type name>", with the value's bytes.
struct RegistryType {
  const char* name;
  uint32_t type;
};
const RegistryType kRegistryTypes[] = {
    {"REG_NONE", 0},   {"REG_SZ", 1},       {"REG_EXPAND_SZ", 2},
    {"REG_BINARY", 3}, {"REG_DWORD", 4},    {"REG_DWORD_BIG_ENDIAN", 5},
    {"REG_LINK", 6},   {"REG_MULTI_SZ", 7}, {"REG_QWORD", 11},
};

bool RegistryRoot(char* out, size_t out_size) {
  const char* root = getenv("UPDATER_REGISTRY");
  int n;
  if (root != nullptr && root[0] != '\0') {
    n = snprintf(out, out_size, "%s", root);
  } else if (getenv("HOME") != nullptr) {
    n = snprintf(out, out_size, "%s/.local/share/updater-registry",
                 getenv("HOME"));
  } else {
    n = snprintf(out, out_size, "/tmp/updater-registry");
  }
  return n > 0 && static_cast<size_t>(n) < out_size;
}

}  // namespace

int32_t OpenMachineRegistryKey(const char* path, RegistryKey* key) {
  char root[PATH_MAX];
  char utf8[PATH_MAX];
  char posix_key[PATH_MAX];
  char* dir = static_cast<char*>(malloc(PATH_MAX));
  if (dir == nullptr) return kErrorInvalidParameter;
  struct stat st;
  int n = -1;
  if (RegistryRoot(root, sizeof(root)) &&
      Cp932ToUtf8(path, utf8, sizeof(utf8)) &&
      ToPosixPath(utf8, posix_key, sizeof(posix_key))) {
    n = snprintf(dir, PATH_MAX, "%s/HKEY_LOCAL_MACHINE/%s", root, posix_key);
  }
  if (n < 0 || n >= PATH_MAX || stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) {
    free(dir);
    return kErrorFileNotFound;
  }
  *key = reinterpret_cast<RegistryKey>(dir);
  return 0;
}

int32_t QueryRegistryValue(RegistryKey key, const char* name, uint32_t* type,
                           uint8_t* data, uint32_t* size) {
  const char* dir = reinterpret_cast<const char*>(key);
  char utf8[NAME_MAX];
  if (!Cp932ToUtf8(name, utf8, sizeof(utf8))) return kErrorFileNotFound;
  for (const RegistryType& t : kRegistryTypes) {
    char path[PATH_MAX];
    int n = snprintf(path, sizeof(path), "%s/%s.%s", dir, utf8, t.name);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(path)) continue;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    int32_t status = 0;
    if (fstat(fd, &st) != 0) {
      status = kErrorFileNotFound;
    } else if (static_cast<uint64_t>(st.st_size) > *size) {
      status = kRegistryMoreData;
      *size = static_cast<uint32_t>(st.st_size);
    } else {
      uint32_t got = ReadFileBytes(fd, data, static_cast<uint32_t>(st.st_size));
      *size = got;
      *type = t.type;
    }
    close(fd);
    return status;
  }
  return kErrorFileNotFound;
}

void CloseRegistryKey(RegistryKey key) { free(reinterpret_cast<char*>(key)); }

int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
  char utf8_caption[1024];
  char utf8_text[4096];
  if (!Cp932ToUtf8(caption, utf8_caption, sizeof(utf8_caption))) {
    snprintf(utf8_caption, sizeof(utf8_caption), "%s", caption);
  }
  if (!Cp932ToUtf8(text, utf8_text, sizeof(utf8_text))) {
    snprintf(utf8_text, sizeof(utf8_text), "%s", text);
  }
  const char* kind = style == kBoxQuestion  ? "question"
                     : style == kBoxWarning ? "warning"
                                            : "information";
  fprintf(stderr, "[%s] %s\n%s\n", kind, utf8_caption, utf8_text);
  fflush(stderr);
  if (style != kBoxQuestion) return 1;  // IDOK
  char line[64];
  if (fgets(line, sizeof(line), stdin) == nullptr) return 7;  // IDNO
  line[strcspn(line, "\r\n")] = '\0';
  if (strcasecmp(line, "y") == 0 || strcasecmp(line, "yes") == 0) {
    return kAnswerYes;
  }
  return 7;  // IDNO, the default button
}

void RestrictDllSearchPath() {}
