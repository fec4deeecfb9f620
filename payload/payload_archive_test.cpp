#include "payload/payload_archive.h"

#include <stdio.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/child_process.h"
#include "testing/scratch_files.h"
#include "testing/update_bytes.h"

namespace {

class PayloadArchiveTest : public ::testing::Test {
 protected:
  ResultCode Open(const std::string& file_bytes) {
    WriteFileOrDie(path_, file_bytes);
    return OpenPayload(path_.c_str(), &file_, &payload_);
  }
  // Entry i read into buffer, or into a buffer of its own.
  std::string Entry(uint32_t i, EntryBuffer* buffer = nullptr) {
    EntryBuffer own;
    EntryBuffer* data = buffer != nullptr ? buffer : &own;
    if (!ReadEntryData(&file_, payload_, payload_.entries[i], data)) {
      return "<failed>";
    }
    return std::string(reinterpret_cast<char*>(data->get()),
                       payload_.entries[i].size);
  }
  ScratchDir dir_;
  std::string path_ = dir_.Sub("setup.exe");
  SeqFile file_;
  Payload payload_;
};

TEST_F(PayloadArchiveTest, ReadsDirectoryAndEntries) {
  std::string payload =
      BuildPayload({{"a.arc", "alpha"}, {"B.ARC", ""}, {"c", "gamma!"}});
  ASSERT_EQ(Open(UpdaterFile(payload, "MZ stub")), kResultOk);
  ASSERT_EQ(payload_.count, 3u);
  EXPECT_EQ(payload_.data_base, kPayloadOffset + 16 + 3 * 32);
  EXPECT_STREQ(payload_.entries[1].name, "B.ARC");
  EXPECT_EQ(Entry(0), "alpha");
  EXPECT_EQ(Entry(1), "");
  EXPECT_EQ(Entry(2), "gamma!");
}

TEST_F(PayloadArchiveTest, NoPayloadIsUnreadable) {
  EXPECT_EQ(Open("MZ just a program"), kResultPayloadUnreadable);
  file_.Close();
  EXPECT_EQ(Open(std::string(kPayloadOffset, '\0')), kResultPayloadUnreadable);
  file_.Close();
  // Header cut short at every length.
  std::string payload = BuildPayload({{"a", "x"}});
  for (size_t n = 0; n < 16; n++) {
    file_.Close();
    EXPECT_EQ(Open(UpdaterFile(payload.substr(0, n))), kResultPayloadUnreadable)
        << n;
  }
}

TEST_F(PayloadArchiveTest, MissingFileIsUnreadable) {
  EXPECT_EQ(OpenPayload(dir_.Sub("nothing.exe").c_str(), &file_, &payload_),
            kResultPayloadUnreadable);
}

TEST_F(PayloadArchiveTest, EntryCountLimit) {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 25; i++) entries.push_back({"f" + std::to_string(i), ""});
  std::vector<TestEntry> first24(entries.begin(), entries.begin() + 24);
  EXPECT_EQ(Open(UpdaterFile(BuildPayload(first24))), kResultOk);
  EXPECT_EQ(payload_.count, 24u);
  file_.Close();
  // 25 is refused from the header alone: no directory bytes are needed.
  EXPECT_EQ(Open(UpdaterFile(BuildPayload({}, 25))), kResultTooManyEntries);
  file_.Close();
  EXPECT_EQ(Open(UpdaterFile(BuildPayload({}, 0xFFFFFFFF))),
            kResultTooManyEntries);
}

TEST_F(PayloadArchiveTest, EmptyDirectoryAndOddMagicAreAccepted) {
  std::string payload = BuildPayload({});
  payload.replace(0, 12, "NotAPackFile");
  ASSERT_EQ(Open(UpdaterFile(payload)), kResultOk);
  EXPECT_EQ(payload_.count, 0u);
}

TEST_F(PayloadArchiveTest, ShortDirectoryIsUnreadable) {
  std::string payload = BuildPayload({{"a", "1"}, {"b", "2"}});
  EXPECT_EQ(Open(UpdaterFile(payload.substr(0, 16 + 32 + 31))),
            kResultPayloadUnreadable);
}

TEST_F(PayloadArchiveTest, NameFillingItsFieldIsRefused) {
  std::string payload = BuildPayload({{"ok", "1"}, {"sixteen-chars.xx", "2"}});
  EXPECT_EQ(Open(UpdaterFile(payload)), kResultPayloadUnreadable);
  file_.Close();
  payload = BuildPayload({{"fifteen-chars.x", "2"}});
  EXPECT_EQ(Open(UpdaterFile(payload)), kResultOk);
}

TEST_F(PayloadArchiveTest, NameOutsideTheFolderRefusesThePayload) {
  // Wherever it stands in the directory, before any entry is read.
  for (const char* bad : {"..\\evil.dll", "C:\\x", "a.arc:ads", "\\x",
                          "movie\\..\\..\\x", "NUL", ""}) {
    file_.Close();
    std::string payload = BuildPayload({{"ok.arc", "1"}, {bad, "2"}});
    EXPECT_EQ(Open(UpdaterFile(payload)), kResultPayloadUnreadable) << bad;
  }
  file_.Close();
  EXPECT_EQ(Open(UpdaterFile(BuildPayload({{"movie\\op.dat", "1"}}))),
            kResultOk);
}

TEST_F(PayloadArchiveTest, EntryPastTheEndFailsItsRead) {
  std::string payload = BuildPayload({{"a", "alpha"}, {"b", "beta"}});
  PatchEntry(&payload, 1, 5, 5);  // one byte more than the file holds
  ASSERT_EQ(Open(UpdaterFile(payload)), kResultOk);
  EXPECT_EQ(Entry(0), "alpha");
  EXPECT_EQ(Entry(1), "<failed>");
}

TEST_F(PayloadArchiveTest, EmptyEntryReadsWhereverItCanBeReached) {
  // An entry of no bytes is read in full at any position the file pointer
  // can reach, past the end of the file too, as a read of nothing is.
  std::string payload = BuildPayload({{"a", ""}});
  PatchEntry(&payload, 0, 0x40000000u, 0);
  ASSERT_EQ(Open(UpdaterFile(payload)), kResultOk);
  EXPECT_EQ(Entry(0), "");
  file_.Close();
  PatchEntry(&payload, 0, 0x80000000u - (kPayloadOffset + 16 + 32), 0);
  ASSERT_EQ(Open(UpdaterFile(payload)), kResultOk);
  EXPECT_EQ(Entry(0), "<failed>");
}

TEST_F(PayloadArchiveTest, OneBufferServesEveryEntry) {
  std::string big(3u << 20, 'b');
  big[12345] = 'x';
  ASSERT_EQ(Open(UpdaterFile(BuildPayload(
                {{"a", "alpha"}, {"b", big}, {"c", ""}, {"d", "delta"}}))),
            kResultOk);
  EntryBuffer buffer;
  EXPECT_EQ(Entry(0, &buffer), "alpha");
  EXPECT_TRUE(Entry(1, &buffer) == big);
  uint8_t* grown = buffer.get();
  EXPECT_GE(buffer.get_deleter().size, big.size());
  // Smaller entries reuse the pages, and see none of the earlier bytes.
  EXPECT_EQ(Entry(2, &buffer), "");
  EXPECT_EQ(Entry(3, &buffer), "delta");
  EXPECT_EQ(buffer.get(), grown);
}

// Under an address-space limit the buffer cannot grow for a large entry; it
// must then be left empty, not keep the size of pages it no longer has.
TEST_F(PayloadArchiveTest, BufferThatCannotGrowIsLeftEmpty) {
  std::string big(32u << 20, 'b');
  ASSERT_EQ(Open(UpdaterFile(BuildPayload({{"a", "alpha"}, {"b", big}}))),
            kResultOk);
  // In a child, which alone takes the limit: 0, or the step that failed.
  uint32_t failed_step = CallInChild([&]() -> uint32_t {
    EntryBuffer buffer;
    if (Entry(0, &buffer) != "alpha") return 1;
    struct rlimit old_limit, limit;
    getrlimit(RLIMIT_AS, &old_limit);
    long pages = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) return 2;
    fclose(statm);
    limit = old_limit;
    limit.rlim_cur = static_cast<rlim_t>(pages) * 4096 + (8u << 20);
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 3;
    int grew = ReadEntryData(&file_, payload_, payload_.entries[1], &buffer);
    setrlimit(RLIMIT_AS, &old_limit);
    if (grew) return 4;  // the limit did not bite
    if (buffer.get() != nullptr || buffer.get_deleter().size != 0) return 5;
    if (Entry(0, &buffer) != "alpha") return 6;
    return Entry(1, &buffer) == big ? 0 : 7;
  });
  EXPECT_EQ(failed_step, 0u);
}

TEST_F(PayloadArchiveTest, DataPositionNeverWraps) {
  std::string payload = BuildPayload({{"a", "alpha"}});
  // offset + base wraps around 2^32 to the start of the data area.
  uint32_t base = kPayloadOffset + 16 + 32;
  PatchEntry(&payload, 0, 0u - base, 5);
  ASSERT_EQ(Open(UpdaterFile(payload)), kResultOk);
  uint32_t position = 0;
  EXPECT_EQ(EntryDataPosition(payload_, payload_.entries[0], &position), 0);
  EXPECT_EQ(Entry(0), "<failed>");
  // The last reachable position, and the first that is not.
  PayloadEntry e = payload_.entries[0];
  e.offset = 0x7FFFFFFFu - base;
  EXPECT_EQ(EntryDataPosition(payload_, e, &position), 1);
  EXPECT_EQ(position, 0x7FFFFFFFu);
  e.offset++;
  EXPECT_EQ(EntryDataPosition(payload_, e, &position), 0);
}

}  // namespace
