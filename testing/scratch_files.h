// Scratch folders and the files in them, for the tests.
#ifndef TESTING_SCRATCH_FILES_H_
#define TESTING_SCRATCH_FILES_H_

#include <string>

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the
// object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A tmpfs of the given size on dir (root only); unmounted at the end.
class SmallFilesystem {
 public:
  SmallFilesystem(const std::string& dir, int kib);
  ~SmallFilesystem();
  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string dir_;
  bool mounted_;
};

// Writes the file whole, failing the test if it cannot.
void WriteFileOrDie(const std::string& path, const std::string& bytes);

// The file's contents, or "" if it cannot be read.
std::string ReadFileOrEmpty(const std::string& path);

// True when anything, even a dangling link, is at path.
bool FileExists(const std::string& path);

// Every regular file under dir, relative name -> contents, for comparing a
// folder before and after a run.
std::string SnapshotDir(const std::string& dir);

#endif  // TESTING_SCRATCH_FILES_H_
