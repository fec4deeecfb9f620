#include "uninstall/uninstall_list.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/child_process.h"
#include "testing/list_merge.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

namespace {

class UninstallListTest : public ::testing::Test {
 protected:
  int Merge(std::vector<const char*> names) {
    names.push_back(nullptr);
    return MergeUninstallList(dir_.path().c_str(), names.data());
  }
  void SetList(const std::string& bytes) { WriteFileOrDie(list_, bytes); }
  std::string List() { return ReadFileOrEmpty(list_); }

  ScratchDir dir_;
  std::string list_ = dir_.Sub("uninst.lst");
};

TEST_F(UninstallListTest, AppendsNewNamesOnce) {
  SetList(Z("a.arc\n"));
  EXPECT_NE(Merge({"b.arc", "a.arc"}), 0);
  EXPECT_EQ(List(), Z("a.arc\nb.arc\n"));
  EXPECT_NE(Merge({"b.arc", "a.arc"}), 0);  // repeated: byte for byte same
  EXPECT_EQ(List(), Z("a.arc\nb.arc\n"));
}

// A name counts as present only as a whole line, byte for byte: a longer
// name or a path that holds it, or the same name in other letters, does
// not hide it, so the uninstaller learns of every new file. A last line
// without its line feed gets one before the first new name.
TEST_F(UninstallListTest, WholeLinesOnly) {
  const struct {
    const char* list;
    std::vector<const char*> names;
    const char* merged;
  } cases[] = {
      {"x\n", {"new.arc", "new.arc", "ew.ar"}, "x\nnew.arc\new.ar\n"},
      {"xdata1.arc\nold\\data1.arc\n",
       {"data1.arc"},
       "xdata1.arc\nold\\data1.arc\ndata1.arc\n"},
      {"data\\olddata.arc\n",
       {"data.arc", "OLDDATA.ARC"},
       "data\\olddata.arc\ndata.arc\nOLDDATA.ARC\n"},
      {"old.arc", {"data1.arc", "x"}, "old.arc\ndata1.arc\nx\n"},
      {"a\nb", {"b", "a"}, "a\nb"},
      {"", {"a"}, "a\n"},
  };
  for (const auto& c : cases) {
    SetList(Z(c.list));
    EXPECT_NE(Merge(c.names), 0) << c.list;
    EXPECT_EQ(List(), Z(c.merged)) << c.list;
  }
}

TEST_F(UninstallListTest, EmptyNameListRewritesUnchanged) {
  SetList(Z("a\nb\n"));
  EXPECT_NE(Merge({}), 0);
  EXPECT_EQ(List(), Z("a\nb\n"));
  SetList(Z(""));  // just the terminator is a valid, empty list
  EXPECT_NE(Merge({"a"}), 0);
  EXPECT_EQ(List(), Z("a\n"));
}

TEST_F(UninstallListTest, MissingListIsNotCreated) {
  EXPECT_EQ(Merge({"a"}), 0);
  EXPECT_FALSE(FileExists(list_));
}

TEST_F(UninstallListTest, MalformedListsAreLeftAlone) {
  for (const std::string& bad :
       {std::string(), std::string("a.arc\n"), std::string("a\0b\n\0", 5)}) {
    SetList(bad);
    EXPECT_EQ(Merge({"new"}), 0);
    EXPECT_EQ(List(), bad);
  }
}

TEST_F(UninstallListTest, ListThatWouldOutgrowTheBufferIsLeftAlone) {
  // The text leaves 8 bytes of the buffer: "abcdef", its line feed and the
  // terminator fit exactly, one more byte does not.
  std::string text = std::string(kUninstallBufferSize - 9, 'x') + "\n";
  SetList(Z(text));
  EXPECT_NE(Merge({"abcdef"}), 0);
  EXPECT_EQ(List().size(), kUninstallBufferSize);
  SetList(Z(text));
  EXPECT_EQ(Merge({"abcdefg"}), 0);
  EXPECT_EQ(List(), Z(text));
  // A file larger than the buffer is not read at all.
  SetList(Z(std::string(kUninstallBufferSize, 'y')));
  EXPECT_EQ(Merge({}), 0);
  EXPECT_EQ(List().size(), kUninstallBufferSize + 1);
}

TEST_F(UninstallListTest, FolderTooLongForThePathBuffer) {
  std::string folder(300, 'f');
  const char* names[] = {"a", nullptr};
  EXPECT_EQ(MergeUninstallList(folder.c_str(), names), 0);
}

TEST_F(UninstallListTest, ListHeldByAnotherProcessIsUnchanged) {
  SetList(Z("a\n"));
  pid_t holder = HoldFlock(list_);
  EXPECT_EQ(Merge({"b"}), 0);
  StopProcess(holder);
  EXPECT_EQ(List(), Z("a\n"));
}

TEST_F(UninstallListTest, ShortRewritePutsTheOriginalBack) {
  // A file size limit of 1,000 bytes lets the 990-byte list be written
  // back but not the merged one: the rewrite comes up short.
  std::string original = Z(std::string(989, 'o') + "\n");
  SetList(original);
  ChildLimits limits;
  limits.file_size_limit = 1000;
  uint32_t merged = CallInChild(
      [this] {
        const char* names[] = {"twenty-byte-name.arc", nullptr};
        return static_cast<uint32_t>(
            MergeUninstallList(dir_.path().c_str(), names));
      },
      limits);
  EXPECT_EQ(merged, 0u) << "the short rewrite must fail";
  EXPECT_EQ(List(), original);
}

}  // namespace
