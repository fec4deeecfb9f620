#include "platform/seq_file.h"

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
  EXPECT_EQ(f.Size(), 0xFFFFFFFFu);
  EXPECT_EQ(f.Seek(0), 0);
  f.Close();
  f.Close();  // closing twice is harmless
}

TEST(SeqFileTest, OpenWriteTruncatesAndWrites) {
  ScratchDir dir;
  std::string path = dir.Sub("out.bin");
  WriteFileOrDie(path, "a much longer old content");
  {
    SeqFile f;
    ASSERT_NE(f.OpenWrite(path.c_str()), 0);
    EXPECT_EQ(ReadFileOrEmpty(path), "");  // emptied before any write
    EXPECT_EQ(f.Write("new", 3), 3u);
  }
  EXPECT_EQ(ReadFileOrEmpty(path), "new");
}

TEST(SeqFileTest, OpenWriteFailsWhileAnotherProcessHoldsTheFile) {
  ScratchDir dir;
  std::string path = dir.Sub("held.bin");
  WriteFileOrDie(path, "keep me");
  pid_t holder = HoldFlock(path);
  SeqFile f;
  EXPECT_EQ(f.OpenWrite(path.c_str()), 0);
  StopProcess(holder);
  EXPECT_EQ(ReadFileOrEmpty(path), "keep me");  // not truncated either
  EXPECT_NE(f.OpenWrite(path.c_str()), 0);
}

TEST(SeqFileTest, ReadersShareButWritersDoNot) {
  ScratchDir dir;
  std::string path = dir.Sub("shared.bin");
  WriteFileOrDie(path, "data");
  SeqFile reader1, reader2, writer;
  ASSERT_NE(reader1.OpenRead(path.c_str()), 0);
  EXPECT_NE(reader2.OpenRead(path.c_str()), 0);
  EXPECT_EQ(writer.OpenWrite(path.c_str()), 0);
}

TEST(SeqFileTest, SecondOpenLeavesFirstFileUsable) {
  ScratchDir dir;
  WriteFileOrDie(dir.Sub("a"), "first");
  WriteFileOrDie(dir.Sub("b"), "second");
  SeqFile f;
  ASSERT_NE(f.OpenRead(dir.Sub("a").c_str()), 0);
  EXPECT_EQ(f.OpenRead(dir.Sub("b").c_str()), 0);
  EXPECT_EQ(f.OpenWrite(dir.Sub("b").c_str()), 0);
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
  EXPECT_EQ(f.OpenWrite(dir.path().c_str()), 0);
}

TEST(SeqFileTest, FullDiskShortensTheWrite) {
  SeqFile f;
  ASSERT_NE(f.OpenWrite("/dev/full"), 0);
  EXPECT_EQ(f.Write("abc", 3), 0u);
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
    ASSERT_NE(f.OpenWrite(whole.c_str()), 0);
    EXPECT_EQ(f.Write(data.data(), data.size()), data.size());
  }
  EXPECT_TRUE(ReadFileOrEmpty(whole) == data);

  const uint32_t kLimit = 2 * (1u << 20) + (1u << 19);  // within the third MiB
  ChildLimits limits;
  limits.file_size_limit = kLimit;
  uint32_t written = CallInChild(
      [&] {
        SeqFile f;
        if (!f.OpenWrite(cut.c_str())) return kChildSaidNothing;
        return f.Write(data.data(), static_cast<uint32_t>(data.size()));
      },
      limits);
  EXPECT_EQ(written, kLimit);
  EXPECT_TRUE(ReadFileOrEmpty(cut) == data.substr(0, kLimit));
}

}  // namespace
