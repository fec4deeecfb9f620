#include "platform/seq_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "gtest/gtest.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"

namespace {

TEST(SeqFileTest, MissingFileStaysClosed) {
  ScratchDir dir;
  SeqFile f;
  EXPECT_EQ(f.OpenRead(dir.Sub("missing").c_str()), 0);
  EXPECT_FALSE(f.IsOpen());
  char buf[4];
  EXPECT_EQ(f.Read(buf, sizeof(buf)), 0u);
  EXPECT_EQ(f.Size(), kInvalidFileLength);
  EXPECT_EQ(f.Seek(0), 0);
  f.Close();
  f.Close();  // closing twice is harmless
}

// A new file is only ever created where nothing stands: not over a file,
// not over a folder, and never through a link, dangling or not, whose
// target stays as it was.
TEST(SeqFileTest, CreateNewRefusesAnythingAtTheName) {
  ScratchDir dir;
  std::string outside = dir.Sub("outside"), path = dir.Sub("new");
  WriteFileOrDie(outside, "keep me");
  WriteFileOrDie(dir.Sub("file"), "old");
  ASSERT_EQ(mkdir(dir.Sub("folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink(outside.c_str(), dir.Sub("link").c_str()), 0);
  ASSERT_EQ(symlink(dir.Sub("gone").c_str(), dir.Sub("dangling").c_str()), 0);
  for (const char* name : {"file", "folder", "link", "dangling"}) {
    SeqFile f;
    EXPECT_EQ(f.CreateNew(kNoFolder, dir.Sub(name).c_str()), 0) << name;
    EXPECT_EQ(Sys()->LastFileError(), kFileErrorExists) << name;
  }
  EXPECT_EQ(ReadFileOrEmpty(outside), "keep me");
  EXPECT_EQ(ReadFileOrEmpty(dir.Sub("file")), "old");
  EXPECT_FALSE(FileExists(dir.Sub("gone")));
  SeqFile f;
  ASSERT_NE(f.CreateNew(kNoFolder, path.c_str()), 0);
  EXPECT_EQ(f.Write("new", 3), 3u);
  EXPECT_NE(f.Flush(), 0);
  f.Close();
  EXPECT_EQ(ReadFileOrEmpty(path), "new");
}

// Another process holding a file (its flock) keeps it from being moved
// over, as a sharing violation would; readers share with each other, and a
// file being written shares with nobody.
TEST(SeqFileTest, HeldFilesAndSharing) {
  ScratchDir dir;
  std::string path = dir.Sub("held.bin"), temp = dir.Sub("temp");
  WriteFileOrDie(path, "keep me");
  WriteFileOrDie(temp, "new");
  pid_t holder = HoldFlock(path);
  EXPECT_EQ(Sys()->CanMoveOver(kNoFolder, path.c_str(), false), 0);
  EXPECT_EQ(Sys()->MoveFileOver(kNoFolder, temp.c_str(), path.c_str(), false),
            0);
  EXPECT_EQ(Sys()->LastFileError(), kFileErrorBusy);
  StopProcess(holder);
  EXPECT_EQ(ReadFileOrEmpty(path), "keep me");
  EXPECT_NE(Sys()->CanMoveOver(kNoFolder, path.c_str(), false), 0);

  SeqFile reader1, reader2, writer, late_reader;
  ASSERT_NE(reader1.OpenRead(path.c_str()), 0);
  EXPECT_NE(reader2.OpenRead(path.c_str()), 0);
  ASSERT_NE(writer.CreateNew(kNoFolder, dir.Sub("w").c_str()), 0);
  EXPECT_EQ(late_reader.OpenRead(dir.Sub("w").c_str()), 0);
}

TEST(SeqFileTest, SecondOpenLeavesFirstFileUsable) {
  ScratchDir dir;
  WriteFileOrDie(dir.Sub("a"), "first");
  WriteFileOrDie(dir.Sub("b"), "second");
  SeqFile f;
  ASSERT_NE(f.OpenRead(dir.Sub("a").c_str()), 0);
  EXPECT_EQ(f.OpenRead(dir.Sub("b").c_str()), 0);
  EXPECT_EQ(f.CreateNew(kNoFolder, dir.Sub("c").c_str()), 0);
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, sizeof(buf)), 5u);
  EXPECT_EQ(std::string(buf), "first");
  f.Close();
  EXPECT_NE(f.OpenRead(dir.Sub("b").c_str()), 0);  // reopened after Close
}

TEST(SeqFileTest, SeekLimits) {
  ScratchDir dir;
  std::string path = dir.Sub("f");
  WriteFileOrDie(path, "0123456789");
  SeqFile f;
  ASSERT_NE(f.OpenRead(path.c_str()), 0);
  EXPECT_EQ(f.Size(), 10u);
  char c;
  EXPECT_NE(f.Seek(4), 0);
  EXPECT_EQ(f.Read(&c, 1), 1u);
  EXPECT_EQ(c, '4');
  EXPECT_NE(f.Seek(10), 0);  // exactly the end
  EXPECT_EQ(f.Read(&c, 1), 0u);
  EXPECT_NE(f.Seek(1000), 0);  // beyond the end is allowed
  EXPECT_EQ(f.Read(&c, 1), 0u);
  EXPECT_NE(f.Seek(0x7FFFFFFFu), 0);
  EXPECT_EQ(f.Seek(0x80000000u), 0);  // 2^31 cannot be reached
  EXPECT_EQ(f.Seek(0xFFFFFFFFu), 0);
}

TEST(SeqFileTest, BackslashesAreFolderSeparators) {
  ScratchDir dir;
  WriteFileOrDie(dir.Sub("x.txt"), "inside");
  std::string windows_path = dir.path() + "\\x.txt";
  SeqFile f;
  ASSERT_NE(f.OpenRead(windows_path.c_str()), 0);
  EXPECT_EQ(f.Size(), 6u);
}

TEST(SeqFileTest, FolderIsNotAFile) {
  ScratchDir dir;
  SeqFile f;
  EXPECT_EQ(f.OpenRead(dir.path().c_str()), 0);
}

TEST(SeqFileTest, FullDiskShortensTheWrite) {
  int fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Sys()->WriteFileBytes(fd, "abc", 3), 0u);
  close(fd);
}

// A large write goes out in pieces: every piece lands, in order, and when
// the disk stops taking bytes within a later piece, the count is what the
// file holds.
TEST(SeqFileTest, LargeWriteLandsWholeOrCountsWhatItStored) {
  ScratchDir dir;
  std::string data(3 * (1u << 20) + 5, '\0');
  for (size_t i = 0; i < data.size(); i++) {
    data[i] = static_cast<char>(i * 7 + (i >> 20));
  }
  std::string whole = dir.Sub("whole"), cut = dir.Sub("cut");
  {
    SeqFile f;
    ASSERT_NE(f.CreateNew(kNoFolder, whole.c_str()), 0);
    EXPECT_EQ(f.Write(data.data(), data.size()), data.size());
  }
  EXPECT_TRUE(ReadFileOrEmpty(whole) == data);

  const uint32_t kLimit = 2 * (1u << 20) + (1u << 19);  // within the third MiB
  ChildLimits limits;
  limits.file_size_limit = kLimit;
  uint32_t written = CallInChild(
      [&] {
        SeqFile f;
        if (!f.CreateNew(kNoFolder, cut.c_str())) return kChildSaidNothing;
        return f.Write(data.data(), static_cast<uint32_t>(data.size()));
      },
      limits);
  EXPECT_EQ(written, kLimit);
  EXPECT_TRUE(ReadFileOrEmpty(cut) == data.substr(0, kLimit));
}

}  // namespace
