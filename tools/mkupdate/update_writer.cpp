#include "tools/mkupdate/update_writer.h"

#include <string.h>

#include <filesystem>
#include <memory>

#include "payload/payload_archive.h"
#include "platform/file_replace.h"
#include "platform/tool_system.h"
#include "tools/mkupdate/file_blocks.h"
#include "tools/mkupdate/progress.h"
#include "tools/mkupdate/report.h"
#include "tools/mkupdate/verification_list_file.h"

namespace fs = std::filesystem;

namespace {

// The update being written: a temporary file beside the output that
// becomes the output only when it is complete, through the same calls by
// which the updater replaces a game file.
class OutputFile {
 public:
  explicit OutputFile(const std::string& out) : out_(out) {}
  ~OutputFile() { Discard(); }

  bool Create();

  bool Write(const void* data, size_t n) {
    if (n != 0 && file_.Write(data, static_cast<uint32_t>(n)) != n) {
      return Refuse(out_, SystemReason("cannot write it"));
    }
    return true;
  }

  bool Finish();

  // Removes the unfinished file.
  void Discard() {
    file_.Close();
    if (!temp_.empty()) Sys()->RemoveFile(kNoFolder, temp_.c_str());
    ForgetOnInterrupt();
    temp_.clear();
  }

 private:
  std::string out_;
  std::string temp_;
  SeqFile file_;
};

// Removes what killed packs to the same output left: "<out>.<n>-<n>.tmp".
// A pack that still runs keeps its file where the system will not remove an
// open one (Windows), and else fails at its move, as it would have failed
// its race for out anyway.
void RemoveLeftovers(const std::string& out) {
  fs::path path = fs::u8path(out);
  fs::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string prefix = path.filename().u8string() + ".";
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string name = it->path().filename().u8string();
    if (name.size() <= prefix.size() + 4 ||
        name.compare(0, prefix.size(), prefix) ||
        name.compare(name.size() - 4, 4, ".tmp")) {
      continue;
    }
    std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t dash = middle.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == middle.size() ||
        middle.find_first_not_of("0123456789-") != std::string::npos ||
        middle.find('-', dash + 1) != std::string::npos) {
      continue;
    }
    Sys()->RemoveFile(kNoFolder, it->path().u8string().c_str());
  }
}

bool OutputFile::Create() {
  // Plainly the tool's, and no other running process's: the process's
  // number and a count of the files it made. One that a killed run of the
  // same number left is replaced; those of other numbers are removed.
  static unsigned made = 0;
  if (made == 0) RemoveLeftovers(out_);
  temp_ = out_ + "." + std::to_string(CurrentProcessId()) + "-" +
          std::to_string(made++) + ".tmp";
  if (!CreateTempFile(kNoFolder, temp_.c_str(), &file_)) {
    temp_.clear();
    return Refuse(out_, SystemReason("cannot create a file in its folder"));
  }
  RemoveOnInterrupt(temp_, file_.handle());
  return true;
}

bool OutputFile::Finish() {
  bool flushed = file_.Flush();
  // Closed before the interrupt cleanup forgets the handle: in between it
  // would close a handle that is no more, rather than fail to remove a
  // file that is still open.
  file_.Close();
  RemoveOnInterrupt(temp_, kInvalidFileHandle);
  if (!flushed) return Refuse(out_, SystemReason("cannot write it"));
  // An old output that is read-only is replaced all the same, as rename(2)
  // would replace it.
  if (!Sys()->MakeExecutable(temp_.c_str()) ||
      !MoveTempOver(kNoFolder, temp_.c_str(), out_.c_str(), true)) {
    return Refuse(out_, SystemReason("cannot put it in place"));
  }
  ForgetOnInterrupt();
  temp_.clear();
  // Moved whole, but its name is on the disk only once its folder is.
  FolderHandle folder = Sys()->OpenFolderOf(out_.c_str());
  int synced = folder != kNoFolder && Sys()->FlushFolder(folder);
  if (folder != kNoFolder) Sys()->CloseFolder(folder);
  if (!synced) {
    return Refuse(out_, SystemReason("cannot put it in place"));
  }
  return true;
}

// Copies exactly input->size bytes of input->path, and takes their
// checksum on the way.
bool CopyInput(PackInput* input, OutputFile* out) {
  FILE* f = OpenFile(input->path, "rb");
  if (f == nullptr) return Refuse(input->path, SystemReason("cannot open it"));
  std::unique_ptr<FILE, int (*)(FILE*)> closer(f, fclose);
  input->sum = NewEntryChecksum();
  uint64_t done = 0;
  bool stopped;
  ReadBlocks(
      StreamSource(f), input->size,
      [&](const uint8_t* data, size_t n) {
        UpdateEntryChecksum(&input->sum, data, n);
        done += n;
        return out->Write(data, n);
      },
      &stopped);
  if (stopped) return false;
  if (ferror(f)) return Refuse(input->path, SystemReason("cannot read it"));
  if (done != input->size) {
    return Refuse(input->path, "it became shorter while it was being packed");
  }
  if (fgetc(f) != EOF) {
    return Refuse(input->path, "it grew while it was being packed");
  }
  return true;
}

// The directory: the entries back to back, the first at data offset 0,
// the list last.
std::vector<PayloadEntry> Directory(const PackPlan& plan) {
  std::vector<PayloadEntry> directory;
  uint64_t offset = 0;
  auto add = [&](const std::string& name, uint64_t size) {
    PayloadEntry entry;
    memset(&entry, 0, sizeof(entry));
    memcpy(entry.name, name.data(),
           std::min<size_t>(name.size(), kEntryNameSize - 1));
    entry.offset = static_cast<uint32_t>(offset);
    entry.size = static_cast<uint32_t>(size);
    directory.push_back(entry);
    offset += size;
  };
  for (const PackInput& input : plan.entries) add(input.name, input.size);
  if (plan.list.present()) add(kVerificationListName, plan.list.Size());
  return directory;
}

// The entry that is the same file as a listed one, or nullptr.
const PackInput* EntryOf(const ListFile& file, const PackPlan& plan) {
  for (const PackInput& e : plan.entries) {
    if (e.has_id && e.id == file.id) return &e;
  }
  return nullptr;
}

// The bytes the writing reads: every entry's, and those of the listed files
// that are no entry and whose checksum is not known yet.
uint64_t BytesToRead(const PackPlan& plan) {
  uint64_t total = 0;
  for (const PackInput& e : plan.entries) total += e.size;
  if (plan.list.prebuilt) return total;
  for (const ListFile& file : plan.list.files) {
    if (!file.summed && EntryOf(file, plan) == nullptr) total += file.size;
  }
  return total;
}

// The records of a list built from a folder. A listed file that was packed
// as an entry (the same file) takes the checksum of that copy.
bool BuildRecords(PackPlan* plan) {
  std::vector<VerificationRecord> records;
  for (ListFile& file : plan->list.files) {
    const PackInput* entry = file.summed ? nullptr : EntryOf(file, *plan);
    if (entry != nullptr) {
      file.sum = entry->sum;
      file.summed = true;
    }
    std::string why;
    if (!file.summed && !ChecksumFile(file.path, &file.sum, &why)) {
      return Refuse(file.path, why);
    }
    file.summed = true;
    records.push_back(MakeRecord(file.name, file.sum));
  }
  plan->list.records = records;
  plan->list.bytes = SerializeVerificationList(records);
  return true;
}

// A data entry whose record has another checksum would stop every user's
// update with a checksum mismatch.
bool CheckAgainstList(const PackPlan& plan) {
  VerificationList list = ToVerificationList(plan.list.records);
  bool ok = true;
  // The updater checks the list entry too, should the list name it.
  EntryChecksum own = ComputeEntryChecksum(
      reinterpret_cast<const uint8_t*>(plan.list.bytes.data()),
      plan.list.bytes.size());
  if (VerifyEntry(list, kVerificationListName, own) == kMismatch) {
    ok = Refuse(plan.list.source,
                "it has a record for vrx.hvl, the list itself, which no "
                "list can match; the updater would refuse it");
  }
  for (const PackInput& input : plan.entries) {
    if (VerifyEntry(list, input.name.c_str(), input.sum) != kMismatch) continue;
    ok = Refuse(input.label, "it differs from its record in " +
                                 plan.list.source +
                                 "; the updater would refuse it");
  }
  return ok;
}

// Writes the update; WriteUpdate's contract.
bool WriteAll(const std::string& out_path, PackPlan* plan) {
  std::vector<PayloadEntry> directory = Directory(*plan);
  PayloadHeader header;
  memcpy(header.magic, kPayloadMagic, sizeof(header.magic));
  header.count = static_cast<uint32_t>(directory.size());
  std::string zeros(kPayloadOffset - plan->stub_bytes.size(), '\0');
  OutputFile out(out_path);
  if (!out.Create() ||
      !out.Write(plan->stub_bytes.data(), plan->stub_bytes.size()) ||
      !out.Write(zeros.data(), zeros.size()) ||
      !out.Write(&header, sizeof(header)) ||
      !out.Write(directory.data(), directory.size() * sizeof(PayloadEntry))) {
    return false;
  }
  for (PackInput& input : plan->entries) {
    if (!CopyInput(&input, &out)) return false;
  }
  if (plan->list.present()) {
    if (!plan->list.prebuilt && !BuildRecords(plan)) return false;
    if (!CheckAgainstList(*plan) ||
        !out.Write(plan->list.bytes.data(), plan->list.bytes.size())) {
      return false;
    }
  }
  return out.Finish();
}

}  // namespace

bool CheckLayout(const PackPlan& plan) {
  size_t count = plan.entries.size() + plan.list.present();
  uint64_t position =
      kPayloadOffset + sizeof(PayloadHeader) + count * sizeof(PayloadEntry);
  bool ok = true;
  for (size_t i = 0; i <= plan.entries.size(); i++) {
    bool is_list = i == plan.entries.size();
    if (is_list && !plan.list.present()) break;
    std::string label = is_list ? std::string(kVerificationListName) +
                                      " (the verification list from " +
                                      plan.list.source + ")"
                                : plan.entries[i].label;
    uint64_t size = is_list ? plan.list.Size() : plan.entries[i].size;
    if (size > 0xFFFFFFFFu) {
      ok = Refuse(label, "it is " + std::to_string(size) +
                             " bytes; an entry must be smaller than 4 GiB");
    } else if (position >= kMaxDataPosition) {
      ok = Refuse(label, "its data would start at byte " +
                             std::to_string(position) +
                             " of the update, at or beyond 2 GiB, where the "
                             "updater cannot reach");
    }
    position += size;
  }
  return ok;
}

bool WriteUpdate(const std::string& out_path, PackPlan* plan) {
  StartProgress("writing " + out_path, BytesToRead(*plan));
  bool written = WriteAll(out_path, plan);
  EndProgress();
  return written;
}
