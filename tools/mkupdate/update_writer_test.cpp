// The update as mkupdate pack writes it: its layout byte for byte, the
// same bytes from the same inputs, and a temporary file beside the output
// that becomes it only whole, and is gone after a failure or an interruption.
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "payload/stub_marker.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"
#include "tools/mkupdate/mkupdate_fixture.h"

namespace {

TEST_F(MkupdateTest, LayoutAndListOfAFolder) {
  mkdir((src_ + "/sub").c_str(), 0755);
  WriteFileOrDie(src_ + "/sub/x.txt", "x");
  mkdir((src_ + "/sub2").c_str(), 0755);
  WriteFileOrDie(src_ + "/sub2/y.txt", "yy");
  WriteFileOrDie(src_ + "/B.txt", "b");
  WriteFileOrDie(src_ + "/VRX.HVL", "an old list: never a record");
  WriteFileOrDie(src_ + "/sub/uninst.lst", "deeper down: an ordinary file");
  ASSERT_EQ(Pack({src_ + "/a.arc", "d=" + src_ + "/Data.ARC"}, update_).status,
            0);
  std::string stub = ReadFileOrEmpty(stub_);
  std::string file = ReadFileOrEmpty(update_);
  ASSERT_GT(file.size(), kPayloadOffset + 16u + 3 * 32);
  EXPECT_EQ(file.substr(0, stub.size()), stub);
  EXPECT_EQ(file.substr(stub.size(), kPayloadOffset - stub.size()),
            std::string(kPayloadOffset - stub.size(), '\0'));
  std::string payload = file.substr(kPayloadOffset);
  EXPECT_EQ(payload.substr(0, 12), "PackFile    ");
  ASSERT_EQ(U32At(payload, 12), 3u);
  const char* names[] = {"a.arc", "d", "vrx.hvl"};
  uint32_t offset = 0;
  size_t data_base = 16 + 3 * 32;
  for (int i = 0; i < 3; i++) {
    std::string record = payload.substr(16 + 32 * i, 32);
    EXPECT_EQ(record.substr(0, 16),
              names[i] + std::string(16 - strlen(names[i]), '\0'));
    EXPECT_EQ(U32At(record, 16), offset) << names[i];
    EXPECT_EQ(record.substr(24), std::string(8, '\0'));
    offset += U32At(record, 20);
  }
  EXPECT_EQ(data_base + offset, payload.size())
      << "the last entry ends the file";
  EXPECT_EQ(payload.substr(data_base, 5), "alpha");
  std::string list = payload.substr(payload.size() - (16 + 6 * 64));
  // Bytewise order of the names with backslashes: '2' sorts before '\'.
  std::vector<TestRecord> expected;
  for (const char* name : {"B.txt", "Data.ARC", "a.arc", "sub2\\y.txt",
                           "sub\\uninst.lst", "sub\\x.txt"}) {
    std::string path = name;
    for (char& c : path) c = c == '\\' ? '/' : c;
    expected.push_back({name, ChecksumOf(ReadFileOrEmpty(src_ + "/" + path))});
  }
  EXPECT_EQ(list, BuildVerificationList(expected));
}

TEST_F(MkupdateTest, SameInputsGiveTheSameBytes) {
  std::vector<std::string> entries = {src_ + "/Data.ARC", src_ + "/a.arc"};
  ASSERT_EQ(Pack(entries, update_).status, 0);
  // Another output name and a fresh copy of the folder, with new times.
  ASSERT_EQ(system(("cp -r '" + src_ + "' '" + src_ + ".copy' && rm -r '" +
                    src_ + "' && mv '" + src_ + ".copy' '" + src_ + "'")
                       .c_str()),
            0);
  ASSERT_EQ(Pack(entries, update_ + "2").status, 0);
  std::string first = ReadFileOrEmpty(update_);
  EXPECT_GT(first.size(), 4u << 20);
  EXPECT_EQ(first, ReadFileOrEmpty(update_ + "2"));
  // A different order is a different update.
  ASSERT_EQ(Pack({entries[1], entries[0]}, update_ + "3").status, 0);
  EXPECT_NE(first, ReadFileOrEmpty(update_ + "3"));
}

TEST_F(MkupdateTest, FailedWritesLeaveTheOldOutputAlone) {
  WriteFileOrDie(update_, "the previous update");
  // The file size limit makes the copy of the 3 MiB entry fail.
  ProcessOptions limited;
  limited.file_size_limit = 2 << 20;
  ProcessResult r = Mk(
      {"pack", "--stub", stub_, "--out", update_, src_ + "/Data.ARC"}, limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(update_ + ": cannot write it"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFileOrEmpty(update_), "the previous update");
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>{"setup"});
  r = Mk({"pack", "--stub", stub_, "--out", dir_.Sub("no/setup"),
          src_ + "/a.arc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot create a file in its folder"), std::string::npos)
      << r.err;
  // An input that cannot be read.
  chmod((src_ + "/a.arc").c_str(), 0);
  r = MkWithoutOverride(
      {"pack", "--stub", stub_, "--out", update_, src_ + "/a.arc"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(src_ + "/a.arc: cannot open it: Permission denied"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFileOrEmpty(update_), "the previous update");
}

// Interrupts pack while it copies a large entry: the temporary file must
// go, and the tool must end by the signal, as interrupted programs do.
class MkupdateInterruptTest : public MkupdateTest,
                              public ::testing::WithParamInterface<int> {};

TEST_P(MkupdateInterruptTest, LeavesNoTemporaryFile) {
  int sig = GetParam();
  std::string big = dir_.Sub("big.arc");
  WriteFileOrDie(big, "");
  ASSERT_EQ(truncate(big.c_str(), 512 << 20), 0);  // sparse
  bool caught = false;
  for (int attempt = 0; attempt < 3 && !caught; attempt++) {
    ChildProcess child = SpawnProcess(
        {MKUPDATE_BINARY, "pack", "--stub", stub_, "--out", update_, big},
        ProcessOptions());
    // Wait until the temporary file holds more than the stub's megabyte,
    // then stop the tool there.
    std::string temp;
    for (int i = 0; i < 20000 && temp.empty(); i++) {
      for (const std::string& name : FolderNames(out_dir_)) {
        struct stat st;
        if (name != "setup" &&
            stat((out_dir_ + "/" + name).c_str(), &st) == 0 &&
            st.st_size > (2 << 20)) {
          temp = name;
        }
      }
      if (temp.empty()) usleep(500);
    }
    kill(child.pid, SIGSTOP);
    int status = 0;
    bool running = waitpid(child.pid, &status, WUNTRACED) == child.pid &&
                   WIFSTOPPED(status);
    caught = running && !temp.empty() && FileExists(out_dir_ + "/" + temp);
    close(child.in);
    close(child.err);
    if (!running) {  // it ended before it was stopped; reaped above
      unlink(update_.c_str());
      continue;
    }
    kill(child.pid, sig);
    kill(child.pid, SIGCONT);
    waitpid(child.pid, &status, 0);
    if (!caught) {
      unlink(update_.c_str());
      continue;
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
        << "status " << status;
    EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>())
        << "the temporary file " << temp << " stayed";
  }
  EXPECT_TRUE(caught) << "pack finished each time before it was stopped";
}

INSTANTIATE_TEST_SUITE_P(Signals, MkupdateInterruptTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP));

}  // namespace
