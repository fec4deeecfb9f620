// The update as mkupdate pack writes it: its layout byte for byte, the
// same bytes from the same inputs, and a temporary file beside the output
// that becomes it only whole, and is gone after a failure or an
// interruption; on the fake system, at every call the writing makes.
#include "tools/mkupdate/update_writer.h"

#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "payload/payload_archive.h"
#include "payload/stub_marker.h"
#include "platform/tool_system.h"
#include "testing/child_process.h"
#include "testing/fake_platform.h"
#include "testing/mkupdate_fixture.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"
#include "testing/updater_world.h"
#include "tools/mkupdate/verification_list_file.h"

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

// The tool's paths are the system's own: on POSIX systems a backslash is a
// character of a name, for the writing and for the updater's reader alike.
TEST_F(MkupdateTest, ABackslashInAPathIsACharacterOfTheName) {
  std::string out = out_dir_ + "/set\\up";
  ProcessResult r = Pack({src_ + "/a.arc"}, out);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>{"set\\up"});
  r = Mk({"list", out});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(out_text_.find("2 entries"), std::string::npos) << out_text_;
}

TEST_F(MkupdateTest, AReadOnlyOldOutputIsReplaced) {
  WriteFileOrDie(update_, "the previous update");
  ASSERT_EQ(chmod(update_.c_str(), 0444), 0);
  ProcessResult r = Pack({src_ + "/a.arc"}, update_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_GT(ReadFileOrEmpty(update_).size(), size_t{kPayloadOffset});
  EXPECT_EQ(FolderNames(out_dir_), std::vector<std::string>{"setup"});
}

const char kOutFolder[] = "C:\\Publish";
const char kOut[] = "C:\\Publish\\setup.exe";
const char kOldOutput[] = "the previous update";

// The plan of an update of two files and a list that records one of them.
PackPlan FaultPlan(const ScratchDir& dir) {
  PackPlan plan;
  plan.stub_bytes = "MZ stub";
  for (const char* name : {"a.arc", "b.arc"}) {
    PackInput input;
    input.name = input.label = name;
    input.path = dir.Sub(name);
    std::string data = Pattern(name[0] == 'a' ? 3 << 20 : 100, name[0]);
    WriteFileOrDie(input.path, data);
    input.size = data.size();
    plan.entries.push_back(input);
  }
  plan.list.source = "list";
  plan.list.prebuilt = true;
  plan.list.bytes = BuildVerificationList(
      {{"b.arc", ChecksumOf(ReadFileOrEmpty(dir.Sub("b.arc")))}});
  std::string why;
  EXPECT_TRUE(ParseVerificationList(plan.list.bytes, &plan.list.records, &why));
  return plan;
}

// Writes the plan's update over the old output on a fresh fake system;
// fault sets a fault on it first. Returns WriteUpdate's result.
template <typename Fault>
bool WriteOnFake(FakePlatform* fake, const ScratchDir& dir, Fault fault) {
  fake->AddFolder(kOutFolder);
  fake->AddFile(kOut, kOldOutput);
  fault(fake);
  PackPlan plan = FaultPlan(dir);
  UsePlatform(fake);
  bool written = WriteUpdate(kOut, &plan);
  UsePlatform(nullptr);
  return written;
}

// Each call the writing makes, failed once and with the power cut there or
// after the last: the output is the old one or the new one whole, never one
// cut short, and the new one whenever the writing said it was done. After a
// failure nothing else is left and nothing open; after a power cut at most
// the tool's own temporary file.
TEST(UpdateWriterFaultTest, EveryCallFailedOrCutLeavesTheOldOutputOrTheNew) {
  ScratchDir dir;
  FakePlatform clean;
  ASSERT_TRUE(WriteOnFake(&clean, dir, [](FakePlatform*) {}));
  const std::string written = clean.DataOf(kOut);
  ASSERT_GT(written.size(), kPayloadOffset + (3u << 20));
  const std::string temp_start =
      "setup.exe." + std::to_string(CurrentProcessId()) + "-";
  for (uint64_t n = 1; n <= clean.calls() + 1; n++) {
    std::string call = n <= clean.calls() ? clean.trace()[n - 1].name : "none";
    FakePlatform fake;
    bool done = WriteOnFake(
        &fake, dir, [n](FakePlatform* f) { f->FailCall(n, kFileErrorOther); });
    std::string now = fake.DataOf(kOut);
    EXPECT_TRUE(now == written || (now == kOldOutput && !done))
        << "call " << n << " failed: " << call;
    EXPECT_EQ(fake.Snapshot(kOutFolder).size(), 1u) << "call " << n << call;
    EXPECT_EQ(fake.OpenHandles(), 0u) << "call " << n << " " << call;

    FakePlatform running;
    done = WriteOnFake(&running, dir,
                       [n](FakePlatform* f) { f->CutPowerAtCall(n); });
    // Whatever a real disk may keep of what was not flushed.
    for (CrashNames names : {kNamesNone, kNamesHalf, kNamesAll}) {
      for (CrashData data : {kDataDropped, kDataPrefix, kDataZeros}) {
        FakePlatform cut = running;
        CrashState state;
        state.names = names;
        state.data = data;
        cut.PowerCut(state);
        now = cut.DataOf(kOut);
        EXPECT_TRUE(now == written || (now == kOldOutput && !done))
            << "power cut at call " << n << " (" << call << "), state " << names
            << "/" << data << ": " << now.size() << " bytes";
        for (const auto& file : cut.Snapshot(kOutFolder)) {
          EXPECT_TRUE(file.first == "setup.exe" ||
                      file.first.compare(0, temp_start.size(), temp_start) == 0)
              << file.first;
        }
      }
    }
  }
}

// What a killed pack left beside its output goes with the next pack to
// that output; other files that only look alike stay.
TEST_F(MkupdateTest, AKilledPacksTemporaryFileGoesWithTheNext) {
  std::vector<std::string> left = {"setup.12345-0.tmp", "setup.7-3.tmp"};
  std::vector<std::string> stay = {"setup.x-0.tmp", "setup.1-.tmp",
                                   "other.1-0.tmp", "setup.1-0.tmp.keep"};
  for (const std::string& name : left)
    WriteFileOrDie(out_dir_ + "/" + name, "x");
  for (const std::string& name : stay)
    WriteFileOrDie(out_dir_ + "/" + name, "x");
  ASSERT_EQ(Pack({src_ + "/a.arc"}, update_).status, 0);
  std::vector<std::string> names = stay;
  names.push_back("setup");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(FolderNames(out_dir_), names);
}

}  // namespace
