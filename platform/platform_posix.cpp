// POSIX stand-in for the Win32 calls, so the updater builds, runs and is
// tested on Linux. Files map to open(2) with flock(2) standing for Windows
// share modes; named mutexes are flock(2) locks on files in the runtime
// folder; the registry is a folder tree; message boxes go to stderr.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "platform/code_units.h"
#include "platform/platform.h"

namespace {

class PosixPlatform final : public Platform {
 public:
  FileHandle OpenFileForRead(FolderHandle folder, const char* name) override;
  FileHandle OpenOwnExecutable() override;
  int IsOwnImage(FileHandle file) override;
  FileHandle CreateNewFile(FolderHandle folder, const char* name) override;
  uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t n) override;
  uint32_t WriteFileBytes(FileHandle file, const void* buffer,
                          uint32_t n) override;
  uint32_t SetFilePosition(FileHandle file, uint32_t position) override;
  uint64_t GetFileLength(FileHandle file) override;
  void CloseFileHandle(FileHandle file) override;
  int FlushFileToDisk(FileHandle file) override;
  FolderHandle OpenFolder(FolderHandle folder, const char* name) override;
  FolderHandle OpenFolderOf(const char* path) override;
  FolderHandle OpenFolderWithoutLinks(const char* path) override;
  void CloseFolder(FolderHandle folder) override;
  int FlushFolder(FolderHandle folder) override;
  int ListFolder(FolderHandle folder, FolderEntryFn fn, void* context) override;
  int MoveFileOver(FolderHandle folder, const char* from, const char* to,
                   bool replace_read_only) override;
  int RemoveFile(FolderHandle folder, const char* name) override;
  PathKind GetPathKind(FolderHandle folder, const char* name) override;
  int CanMoveOver(FolderHandle folder, const char* name,
                  bool replace_read_only) override;
  FileError LastFileError() override { return last_error_; }
  int MakeExecutable(const char* path) override;
  void Sleep(uint32_t milliseconds) override;
  void* AllocatePages(size_t size) override;
  void FreePages(void* pages, size_t size) override;
  MutexHandle CreateNamedMutex(const char* name, uint32_t* last_error) override;
  void CloseNamedMutex(MutexHandle mutex) override;
  int32_t OpenMachineRegistryKey(const char* path, RegistryKey* key) override;
  int32_t QueryRegistryValue(RegistryKey key, const char* name, uint32_t* type,
                             uint8_t* data, uint32_t* size) override;
  void CloseRegistryKey(RegistryKey key) override;
  int ShowMessageBox(const char* text, const char* caption,
                     uint32_t style) override;
  void HardenProcess() override;

 private:
  // Notes why the call that just failed did, from errno; returns failure.
  int Failed();
  FileHandle OpenLocked(FolderHandle folder, const char* name, int flags,
                        int lock, bool as_itself);
  // Opens the folder at a name already on this disk's terms.
  FolderHandle OpenFolderAt(int dir, const char* posix_name, bool below_held);

  FileError last_error_ = kFileErrorNone;
  // Files that moves replaced, still open: MoveFileOver.
  static const int kMaxReplaced = 32;
  int replaced_[kMaxReplaced];
  int replaced_count_ = 0;
};

PosixPlatform g_posix;

const int32_t kErrorFileNotFound = 2;
const int32_t kErrorInvalidParameter = 87;

PathCoding g_path_coding = kUpdaterPaths;

// Copies path into out, each backslash a slash if asked; false if it does
// not fit.
bool CopyPath(const char* path, bool slashes, char* out, size_t out_size) {
  size_t n = strlen(path);
  if (n >= out_size) return false;
  for (size_t i = 0; i <= n; i++) {
    out[i] = slashes && path[i] == '\\' ? '/' : path[i];
  }
  return true;
}

// Converts code page 932 text to UTF-8; false if it does not convert or fit.
bool Cp932ToUtf8(const char* text, char* out, size_t out_size) {
  int n = CodePage932ToUtf8(text, strlen(text), out, out_size);
  if (n < 0 || static_cast<size_t>(n) >= out_size) return false;
  out[n] = '\0';
  return true;
}

// The one door from a path the platform is given to a name on this disk.
// The updater's paths are code page 932 with backslashes, as Windows' narrow
// calls take them; Windows turns them into its UTF-16 names, and this
// stand-in into UTF-8 ones, whose folders a slash separates. Converted
// first, a 0x5C that is the second byte of a character stays in it. A path
// that is no code page 932 text is refused, as the updater's rule for names
// refuses it (EILSEQ). The tool's paths are this disk's already. False, with
// errno set, when the path cannot be one.
bool ToPosixPath(const char* path, char* out, size_t out_size) {
  if (g_path_coding == kToolPaths) {
    if (CopyPath(path, false, out, out_size)) return true;
    errno = ENAMETOOLONG;
    return false;
  }
  int n = CodePage932ToUtf8(path, strlen(path), out, out_size);
  if (n < 0) {
    errno = strlen(path) < out_size ? EILSEQ : ENAMETOOLONG;
    return false;
  }
  if (static_cast<size_t>(n) >= out_size) {
    errno = ENAMETOOLONG;
    return false;
  }
  out[n] = '\0';
  for (char* c = out; *c != '\0'; c++) {
    if (*c == '\\') *c = '/';
  }
  return true;
}

// Where a name lives for the *at calls: in a held folder's descriptor, one
// part (no separator: an updater's backslash is one, and refused), or a
// path from the working folder. False, with errno set, for a name that
// cannot be one.
bool PlaceOf(FolderHandle folder, const char* name, int* dir, char* out,
             size_t out_size) {
  *dir = folder == kNoFolder ? AT_FDCWD : static_cast<int>(folder);
  if (!ToPosixPath(name, out, out_size)) return false;
  if (folder != kNoFolder &&
      (out[0] == '\0' || strchr(out, '/') != nullptr || strcmp(out, ".") == 0 ||
       strcmp(out, "..") == 0)) {
    errno = EINVAL;
    return false;
  }
  return true;
}

// A name listed on this disk as the caller takes names: for the updater its
// code page 932 form, and false for a name that has none exactly, or holds
// a backslash, which no Windows name holds (Windows lists to a narrow
// caller only what it can name).
bool ListedName(const char* disk_name, char* out, size_t out_size) {
  if (g_path_coding == kToolPaths)
    return CopyPath(disk_name, false, out, out_size);
  if (strchr(disk_name, '\\') != nullptr) return false;
  int n = Utf8ToCodePage932(disk_name, strlen(disk_name), out, out_size);
  if (n < 0 || static_cast<size_t>(n) >= out_size) return false;
  out[n] = '\0';
  return true;
}

// ReadFile fills the whole request unless the file ends; read(2) may stop
// short of it on large requests.
uint32_t ReadWhole(int fd, void* buffer, uint32_t n) {
  uint32_t done = 0;
  while (done < n) {
    ssize_t r = read(fd, static_cast<char*>(buffer) + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return 0;
    if (r == 0) break;
    done += static_cast<uint32_t>(r);
  }
  return done;
}

}  // namespace

int PosixPlatform::Failed() {
  last_error_ = errno == EWOULDBLOCK || errno == EACCES || errno == EPERM ||
                        errno == EBUSY || errno == ETXTBSY
                    ? kFileErrorBusy
                : errno == EEXIST ? kFileErrorExists
                                  : kFileErrorOther;
  return 0;
}

// With as_itself, the name is opened as itself: a link there fails
// (O_NOFOLLOW), and so does a file with other names, told from the open
// descriptor.
FileHandle PosixPlatform::OpenLocked(FolderHandle folder, const char* name,
                                     int flags, int lock, bool as_itself) {
  char posix_name[PATH_MAX];
  int dir;
  if (!PlaceOf(folder, name, &dir, posix_name, sizeof(posix_name))) {
    Failed();
    return kInvalidFileHandle;
  }
  int fd = openat(dir, posix_name,
                  flags | O_CLOEXEC | (as_itself ? O_NOFOLLOW : 0), 0666);
  if (fd < 0) {
    Failed();
    return kInvalidFileHandle;
  }
  struct stat st;
  int refused = fstat(fd, &st) != 0                                     ? errno
                : S_ISDIR(st.st_mode)                                   ? EISDIR
                : as_itself && st.st_nlink > 1                          ? EMLINK
                : S_ISREG(st.st_mode) && flock(fd, lock | LOCK_NB) != 0 ? errno
                                                                        : 0;
  if (refused != 0) {
    errno = refused;
    Failed();
    close(fd);
    return kInvalidFileHandle;
  }
  return fd;
}

FileHandle PosixPlatform::OpenFileForRead(FolderHandle folder,
                                          const char* name) {
  return OpenLocked(folder, name, O_RDONLY, LOCK_SH, folder != kNoFolder);
}

FileHandle PosixPlatform::OpenOwnExecutable() {
  // The image itself, whatever became of the name it was started by.
  return OpenLocked(kNoFolder, "/proc/self/exe", O_RDONLY, LOCK_SH, false);
}

int PosixPlatform::IsOwnImage(FileHandle file) {
  // The image opened afresh and compared by its descriptor: an emulator
  // that runs the program (qemu-user) answers the program's open of
  // /proc/self/exe with the program, but a stat of it with the emulator.
  int image_fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (image_fd < 0) return 0;
  struct stat image, st;
  int same = fstat(image_fd, &image) == 0 &&
             fstat(static_cast<int>(file), &st) == 0 &&
             st.st_dev == image.st_dev && st.st_ino == image.st_ino;
  close(image_fd);
  return same;
}

FileHandle PosixPlatform::CreateNewFile(FolderHandle folder, const char* name) {
  // O_EXCL fails on anything at the name, a dangling link included, and
  // O_NOFOLLOW makes sure no link is ever followed.
  return OpenLocked(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                    LOCK_EX, false);
}

uint32_t PosixPlatform::ReadFileBytes(FileHandle file, void* buffer,
                                      uint32_t n) {
  return ReadWhole(static_cast<int>(file), buffer, n);
}

uint32_t PosixPlatform::WriteFileBytes(FileHandle file, const void* buffer,
                                       uint32_t n) {
  // At most 1 MiB per write(2). One write of tens of megabytes asks the
  // page cache for its largest folios at once, and on virtual machines that
  // stalled some runs while the host brought that memory back.
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

uint32_t PosixPlatform::SetFilePosition(FileHandle file, uint32_t position) {
  if (position >= 0x80000000u) return kInvalidFileValue;
  off_t r =
      lseek(static_cast<int>(file), static_cast<off_t>(position), SEEK_SET);
  return r < 0 ? kInvalidFileValue : static_cast<uint32_t>(r);
}

uint64_t PosixPlatform::GetFileLength(FileHandle file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return kInvalidFileLength;
  return static_cast<uint64_t>(st.st_size);
}

void PosixPlatform::CloseFileHandle(FileHandle file) {
  close(static_cast<int>(file));
}

int PosixPlatform::FlushFileToDisk(FileHandle file) {
  return fsync(static_cast<int>(file)) == 0 ? 1 : Failed();
}

namespace {

// Windows refuses to replace a file that has the read-only attribute, even
// for an administrator, or that another process holds open. The owner's
// write bit plays the attribute: such a file is replaced only with
// replace_read_only, and not when it has other names, as on Windows, where
// the attribute would have to be cleared first (rename(2) itself needs no
// mode change). The lock taken here plays the sharing check, and is held
// until the old file is gone. A link is replaced itself and so never
// opened. Returns the descriptor that holds the lock, -1 when there is
// nothing to hold, -2 when the target is refused (errno says why).
int LockTargetForReplace(int dir, const char* name, bool replace_read_only) {
  int fd = openat(dir, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ELOOP ? -1 : -2;
  struct stat st;
  int refused = 0;
  if (fstat(fd, &st) != 0) {
    refused = errno;
  } else if (!S_ISREG(st.st_mode)) {
    refused = EISDIR;
  } else if ((st.st_mode & S_IWUSR) == 0 && !replace_read_only) {
    refused = EROFS;  // refused whoever holds it: not "busy"
  } else if ((st.st_mode & S_IWUSR) == 0 && st.st_nlink > 1) {
    refused = EMLINK;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    refused = EWOULDBLOCK;
  }
  if (refused == 0) return fd;
  close(fd);
  errno = refused;
  return -2;
}

PathKind KindOfMode(mode_t mode) {
  if (S_ISLNK(mode)) return kPathLink;
  if (S_ISDIR(mode)) return kPathFolder;
  return S_ISREG(mode) ? kPathFile : kPathOther;
}

}  // namespace

FolderHandle PosixPlatform::OpenFolder(FolderHandle folder, const char* name) {
  char posix_name[PATH_MAX];
  int dir;
  if (!PlaceOf(folder, name, &dir, posix_name, sizeof(posix_name))) {
    Failed();
    return kNoFolder;
  }
  return OpenFolderAt(dir, posix_name, folder != kNoFolder);
}

FolderHandle PosixPlatform::OpenFolderAt(int dir, const char* posix_name,
                                         bool below_held) {
  // Below a held folder a link is never followed; a path's links are.
  int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  if (below_held) flags |= O_NOFOLLOW;
  int fd = openat(dir, posix_name, flags);
  if (fd < 0) {
    Failed();
    return kNoFolder;
  }
  return fd;
}

FolderHandle PosixPlatform::OpenFolderOf(const char* path) {
  char posix_path[PATH_MAX];
  if (!ToPosixPath(path, posix_path, sizeof(posix_path))) {
    Failed();
    return kNoFolder;
  }
  char* slash = strrchr(posix_path, '/');
  if (slash == nullptr) return OpenFolderAt(AT_FDCWD, ".", false);
  slash[slash == posix_path ? 1 : 0] = '\0';  // the root keeps its slash
  return OpenFolderAt(AT_FDCWD, posix_path, false);
}

namespace {

// The absolute form of a POSIX path as the system takes it apart, without
// asking the disk: the working folder before a relative one, no empty or
// "." part, ".." taking the part before it away.
bool AbsolutePath(const char* path, std::string* out) {
  std::string whole;
  if (path[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof(cwd)) == nullptr) return false;
    whole = std::string(cwd) + "/";
  }
  whole += path;
  out->clear();
  for (size_t start = 0; start < whole.size();) {
    size_t end = whole.find('/', start);
    if (end == std::string::npos) end = whole.size();
    std::string part = whole.substr(start, end - start);
    if (part == "..") {
      out->resize(out->rfind('/') == std::string::npos ? 0 : out->rfind('/'));
    } else if (!part.empty() && part != ".") {
      *out += "/" + part;
    }
    start = end + 1;
  }
  if (out->empty()) *out = "/";
  return true;
}

}  // namespace

FolderHandle PosixPlatform::OpenFolderWithoutLinks(const char* path) {
  char posix_path[PATH_MAX];
  int dir;
  std::string wanted;
  if (!PlaceOf(kNoFolder, path, &dir, posix_path, sizeof(posix_path)) ||
      !AbsolutePath(posix_path, &wanted)) {
    Failed();
    return kNoFolder;
  }
  int fd = openat(dir, posix_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Failed();
    return kNoFolder;
  }
  // The kernel names a descriptor's folder by the way to it that has no
  // link: the same as the path only when no part of the path is one.
  char proc[32];
  char real[PATH_MAX];
  snprintf(proc, sizeof(proc), "/proc/self/fd/%d", fd);
  ssize_t n = readlink(proc, real, sizeof(real));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof(real) ||
      wanted != std::string(real, static_cast<size_t>(n))) {
    close(fd);
    errno = ELOOP;
    Failed();
    return kNoFolder;
  }
  return fd;
}

void PosixPlatform::CloseFolder(FolderHandle folder) {
  if (folder != kNoFolder) close(static_cast<int>(folder));
}

int PosixPlatform::FlushFolder(FolderHandle folder) {
  // A folder's entries reach the disk only when the folder itself is
  // synced; its descriptor is the folder, wherever its name went.
  while (replaced_count_ > 0) close(replaced_[--replaced_count_]);
  if (folder == kNoFolder) {
    errno = EBADF;
    return Failed();
  }
  return fsync(static_cast<int>(folder)) == 0 ? 1 : Failed();
}

int PosixPlatform::ListFolder(FolderHandle folder, FolderEntryFn fn,
                              void* context) {
  int fd = folder == kNoFolder ? -1 : dup(static_cast<int>(folder));
  DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
  if (listing == nullptr) {
    if (fd >= 0) close(fd);
    return Failed();
  }
  rewinddir(listing);  // the duplicate shares the held descriptor's place
  int listed = 1;
  errno = 0;
  while (struct dirent* entry = readdir(listing)) {
    char name[NAME_MAX + 1];
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0 ||
        !ListedName(entry->d_name, name, sizeof(name))) {
      errno = 0;
      continue;
    }
    struct stat st;
    PathKind kind = fstatat(static_cast<int>(folder), entry->d_name, &st,
                            AT_SYMLINK_NOFOLLOW) == 0
                        ? KindOfMode(st.st_mode)
                        : kPathOther;
    if (fn(context, name, kind) != 0) break;
    errno = 0;
  }
  if (errno != 0) listed = Failed();
  closedir(listing);
  return listed;
}

int PosixPlatform::MoveFileOver(FolderHandle folder, const char* from,
                                const char* to, bool replace_read_only) {
  char posix_from[PATH_MAX];
  char posix_to[PATH_MAX];
  int dir_from;
  int dir_to;
  struct stat st;
  if (!PlaceOf(folder, from, &dir_from, posix_from, sizeof(posix_from)) ||
      !PlaceOf(folder, to, &dir_to, posix_to, sizeof(posix_to))) {
    return Failed();
  }
  // Only a file is moved, as the Win32 backend does; rename(2) would move a
  // link itself, never what it leads to.
  if (fstatat(dir_from, posix_from, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode)) {
    if (errno != ENOENT) errno = EINVAL;
    return Failed();
  }
  int target = LockTargetForReplace(dir_to, posix_to, replace_read_only);
  if (target == -2) return Failed();
  int moved = renameat(dir_from, posix_from, dir_to, posix_to) == 0;
  if (!moved) Failed();
  // The replaced file's last descriptor: closing it frees its blocks, some
  // milliseconds for a large file, which would hold the next move back.
  // It is closed once the moves are over, at the next FlushFolder.
  if (target >= 0 && (!moved || replaced_count_ == kMaxReplaced)) {
    close(target);
  } else if (target >= 0) {
    replaced_[replaced_count_++] = target;
  }
  return moved;
}

int PosixPlatform::RemoveFile(FolderHandle folder, const char* name) {
  char posix_name[PATH_MAX];
  int dir;
  struct stat st;
  if (!PlaceOf(folder, name, &dir, posix_name, sizeof(posix_name))) {
    return Failed();
  }
  // unlink(2) needs no mode change, and removes a link itself; a read-only
  // file with other names is refused as the Win32 backend must.
  if (fstatat(dir, posix_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0 && st.st_nlink > 1) {
    errno = EMLINK;
    return Failed();
  }
  return unlinkat(dir, posix_name, 0) == 0 ? 1 : Failed();
}

PathKind PosixPlatform::GetPathKind(FolderHandle folder, const char* name) {
  char posix_name[PATH_MAX];
  int dir;
  struct stat st;
  if (!PlaceOf(folder, name, &dir, posix_name, sizeof(posix_name))) {
    return kPathOther;
  }
  if (fstatat(dir, posix_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? kPathMissing : kPathOther;
  }
  return KindOfMode(st.st_mode);
}

int PosixPlatform::CanMoveOver(FolderHandle folder, const char* name,
                               bool replace_read_only) {
  char posix_name[PATH_MAX];
  int dir;
  if (!PlaceOf(folder, name, &dir, posix_name, sizeof(posix_name))) {
    return Failed();
  }
  int fd = LockTargetForReplace(dir, posix_name, replace_read_only);
  if (fd == -2) return Failed();
  if (fd >= 0) close(fd);
  return 1;
}

int PosixPlatform::MakeExecutable(const char* path) {
  char posix_path[PATH_MAX];
  if (!ToPosixPath(path, posix_path, sizeof(posix_path))) return Failed();
  // Single-threaded, so reading the umask this way is safe.
  mode_t mask = umask(0);
  umask(mask);
  return chmod(posix_path, 0777 & ~mask) == 0 ? 1 : Failed();
}

void PosixPlatform::Sleep(uint32_t milliseconds) {
  struct timespec t;
  t.tv_sec = milliseconds / 1000;
  t.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

void* PosixPlatform::AllocatePages(size_t size) {
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

void PosixPlatform::FreePages(void* pages, size_t size) {
  if (pages != nullptr) munmap(pages, size);
}

MutexHandle PosixPlatform::CreateNamedMutex(const char* name,
                                            uint32_t* last_error) {
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

void PosixPlatform::CloseNamedMutex(MutexHandle mutex) {
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

int32_t PosixPlatform::OpenMachineRegistryKey(const char* path,
                                              RegistryKey* key) {
  char root[PATH_MAX];
  char utf8[PATH_MAX];
  char posix_key[PATH_MAX];
  char* dir = static_cast<char*>(malloc(PATH_MAX));
  if (dir == nullptr) return kErrorInvalidParameter;
  struct stat st;
  int n = -1;
  if (RegistryRoot(root, sizeof(root)) &&
      Cp932ToUtf8(path, utf8, sizeof(utf8)) &&
      CopyPath(utf8, true, posix_key, sizeof(posix_key))) {
    n = snprintf(dir, PATH_MAX, "%s/HKEY_LOCAL_MACHINE/%s", root, posix_key);
  }
  if (n < 0 || n >= PATH_MAX || stat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) {
    free(dir);
    return kErrorFileNotFound;
  }
  *key = reinterpret_cast<RegistryKey>(dir);
  return 0;
}

int32_t PosixPlatform::QueryRegistryValue(RegistryKey key, const char* name,
                                          uint32_t* type, uint8_t* data,
                                          uint32_t* size) {
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
      uint32_t got = ReadWhole(fd, data, static_cast<uint32_t>(st.st_size));
      *size = got;
      *type = t.type;
    }
    close(fd);
    return status;
  }
  return kErrorFileNotFound;
}

void PosixPlatform::CloseRegistryKey(RegistryKey key) {
  free(reinterpret_cast<char*>(key));
}

int PosixPlatform::ShowMessageBox(const char* text, const char* caption,
                                  uint32_t style) {
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

void PosixPlatform::HardenProcess() {}

Platform* SystemPlatform() { return &g_posix; }

void UsePathCoding(PathCoding coding) { g_path_coding = coding; }
