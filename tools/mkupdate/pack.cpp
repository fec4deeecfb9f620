#include "tools/mkupdate/pack.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "tools/mkupdate/list_file.h"
#include "tools/mkupdate/names.h"
#include "tools/mkupdate/tool_os.h"

namespace fs = std::filesystem;

namespace {

// Inputs at least this large show their progress on a terminal.
const uint64_t kProgressSize = 16 << 20;

struct PackInput {
  std::string name;  // the entry name, with backslashes
  std::string path;  // the file it comes from; empty for the list
  uint64_t size = 0;
  EntryChecksum sum;
};

// The verification list to add as the last entry.
struct ListInput {
  std::string source;  // the folder or file it comes from
  std::string bytes;
  std::vector<VerificationRecord> records;
};

int Refuse(const std::string& file, const std::string& reason) {
  fprintf(stderr, "mkupdate: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

std::string SystemError(const std::error_code& ec) { return ec.message(); }

// Splits each ENTRY argument into name and path and checks the names.
int ParseEntries(const std::vector<std::string>& args,
                 std::vector<PackInput>* inputs) {
  for (const std::string& arg : args) {
    PackInput input;
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      input.name = arg.substr(0, eq);
      input.path = arg.substr(eq + 1);
      if (input.path.empty()) return Refuse(arg, "no file after the '='");
    } else {
      input.path = arg;
      input.name = fs::path(arg).filename().string();
    }
    input.name = WithBackslashes(input.name);
    std::string problem = EntryNameProblem(input.name);
    if (!problem.empty()) {
      return Refuse(arg, "entry name '" + input.name + "': " + problem);
    }
    if (SameUpdaterName(input.name, kVerificationListName)) {
      return Refuse(arg, std::string("the entry name ") +
                             kVerificationListName +
                             " is the verification list's; give the list "
                             "with --verify-list or --verify-dir");
    }
    inputs->push_back(input);
  }
  return 0;
}

int CheckDuplicates(const std::vector<PackInput>& inputs,
                    const std::vector<std::string>& args) {
  for (size_t i = 0; i < inputs.size(); i++) {
    for (size_t j = 0; j < i; j++) {
      if (SameUpdaterName(inputs[i].name, inputs[j].name)) {
        return Refuse(args[i], "entry name '" + inputs[i].name +
                                   "' is already used by " + args[j] +
                                   " (letter case does not count)");
      }
    }
  }
  return 0;
}

// A regular file that can be opened; *size receives its length.
int CheckReadable(const std::string& path, uint64_t* size) {
  std::error_code ec;
  fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) return Refuse(path, "no such file");
  if (!fs::is_regular_file(status)) return Refuse(path, "not a regular file");
  *size = fs::file_size(path, ec);
  if (ec) return Refuse(path, "cannot tell its size: " + SystemError(ec));
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return Refuse(path, std::string("cannot open it: ") + strerror(errno));
  }
  fclose(f);
  return 0;
}

int CheckStub(const std::string& path, uint64_t* size) {
  if (CheckReadable(path, size) != 0) return 1;
  if (*size == 0) return Refuse(path, "the stub is empty");
  if (*size < kPayloadOffset) return 0;
  char magic[sizeof(kPayloadMagic)] = {};
  FILE* f = fopen(path.c_str(), "rb");
  bool packed = f != nullptr && fseek(f, kPayloadOffset, SEEK_SET) == 0 &&
                fread(magic, 1, sizeof(magic), f) == sizeof(magic) &&
                memcmp(magic, kPayloadMagic, sizeof(magic)) == 0;
  if (f != nullptr) fclose(f);
  if (packed) {
    return Refuse(path,
                  "the stub already carries a payload; use the updater "
                  "built without one");
  }
  return Refuse(path, "the stub is " + std::to_string(*size) +
                          " bytes; it must be smaller than 1 MiB (1048576 "
                          "bytes), where the payload starts");
}

// Every regular file under dir, by name relative to it with backslashes,
// in bytewise order.
int ListFolder(const std::string& dir,
               std::vector<std::pair<std::string, std::string>>* files) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Refuse(dir, "not a folder");
  fs::recursive_directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    std::string name;
    for (const fs::path& part : it->path().lexically_relative(dir)) {
      name += (name.empty() ? "" : "\\") + part.string();
    }
    if (SameUpdaterName(name, kVerificationListName)) {
      // The list never names itself: a record for it would fail the update
      // at the list's own entry.
      fprintf(stderr, "mkupdate: %s: left out of the list\n",
              it->path().string().c_str());
      continue;
    }
    files->push_back({name, it->path().string()});
  }
  if (ec) return Refuse(dir, "cannot read the folder: " + SystemError(ec));
  std::sort(files->begin(), files->end());
  return 0;
}

int BuildListFromFolder(const std::string& dir, ListInput* list) {
  std::vector<std::pair<std::string, std::string>> files;
  if (ListFolder(dir, &files) != 0) return 1;
  for (const auto& file : files) {
    std::string problem = RecordNameProblem(file.first);
    if (!problem.empty()) {
      return Refuse(file.second,
                    "record name '" + file.first + "': " + problem);
    }
    for (const VerificationRecord& r : list->records) {
      if (SameUpdaterName(r.name, file.first)) {
        return Refuse(file.second, std::string("same name as ") + r.name +
                                       " for the updater, which ignores "
                                       "letter case");
      }
    }
    EntryChecksum sum;
    problem = ChecksumFile(file.second, &sum);
    if (!problem.empty()) return Refuse(file.second, problem);
    list->records.push_back(MakeRecord(file.first, sum));
  }
  list->bytes = SerializeVerificationList(list->records);
  return 0;
}

int LoadListFile(const std::string& path, ListInput* list) {
  uint64_t size;
  if (CheckReadable(path, &size) != 0) return 1;
  std::string problem = ReadSmallFile(path, &list->bytes);
  if (problem.empty())
    problem = ParseVerificationList(list->bytes, &list->records);
  return problem.empty() ? 0 : Refuse(path, problem);
}

}  // namespace

namespace {

// The update being written: a temporary file beside the output that
// becomes the output only when it is complete.
class OutputFile {
 public:
  explicit OutputFile(const std::string& out) : out_(out) {}
  ~OutputFile() { Discard(); }

  int Create() {
    fs::path out(out_);
    std::string folder = out.parent_path().string();
    file_ = CreateTempFile(folder.empty() ? "." : folder,
                           out.filename().string(), &temp_);
    if (file_ == nullptr) {
      return Refuse(out_, std::string("cannot create a file in its folder: ") +
                              strerror(errno));
    }
    return 0;
  }

  int Write(const void* data, size_t n) {
    if (n != 0 && fwrite(data, 1, n, file_) != n) {
      return Refuse(out_, std::string("cannot write it: ") + strerror(errno));
    }
    return 0;
  }

  int Finish() {
    bool synced = SyncFile(file_);
    int closed = fclose(file_);
    file_ = nullptr;
    if (!synced || closed != 0) {
      return Refuse(out_, std::string("cannot write it: ") + strerror(errno));
    }
    if (!MakeExecutable(temp_) || !MoveIntoPlace(temp_, out_)) {
      return Refuse(out_,
                    std::string("cannot put it in place: ") + strerror(errno));
    }
    temp_.clear();
    return 0;
  }

  // Removes the unfinished file.
  void Discard() {
    if (file_ != nullptr) fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) remove(temp_.c_str());
    temp_.clear();
  }

 private:
  std::string out_;
  std::string temp_;
  FILE* file_ = nullptr;
};

void ShowProgress(const PackInput& input, uint64_t done) {
  fprintf(stderr, "\r  %s: %llu of %llu MiB", input.name.c_str(),
          static_cast<unsigned long long>(done >> 20),
          static_cast<unsigned long long>(input.size >> 20));
  if (done == input.size) fputc('\n', stderr);
}

// Copies exactly input->size bytes of input->path in blocks, and takes
// their checksum on the way.
int CopyInput(PackInput* input, OutputFile* out) {
  FILE* f = fopen(input->path.c_str(), "rb");
  if (f == nullptr) {
    return Refuse(input->path,
                  std::string("cannot open it: ") + strerror(errno));
  }
  std::unique_ptr<FILE, int (*)(FILE*)> closer(f, fclose);
  bool progress = input->size >= kProgressSize && IsTerminal(stderr);
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlockSize]);
  input->sum = NewEntryChecksum();
  for (uint64_t done = 0; done < input->size;) {
    size_t n = static_cast<size_t>(
        std::min<uint64_t>(kCopyBlockSize, input->size - done));
    if (fread(block.get(), 1, n, f) != n) {
      return Refuse(input->path, ferror(f) ? std::string("cannot read it: ") +
                                                 strerror(errno)
                                           : "it became shorter while it was "
                                             "being packed");
    }
    UpdateEntryChecksum(&input->sum, block.get(), n);
    if (out->Write(block.get(), n) != 0) return 1;
    done += n;
    if (progress) ShowProgress(*input, done);
  }
  if (fgetc(f) != EOF) {
    return Refuse(input->path, "it grew while it was being packed");
  }
  return 0;
}

// Lays the entries out back to back, the first at data offset 0, and
// fills the directory. labels name the inputs in messages.
int LayOut(const std::vector<PackInput>& inputs,
           const std::vector<std::string>& labels,
           std::vector<PayloadEntry>* directory) {
  uint64_t data_base = kPayloadOffset + sizeof(PayloadHeader) +
                       inputs.size() * sizeof(PayloadEntry);
  uint64_t offset = 0;
  for (size_t i = 0; i < inputs.size(); i++) {
    if (inputs[i].size > 0xFFFFFFFFu) {
      return Refuse(labels[i], "it is " + std::to_string(inputs[i].size) +
                                   " bytes; an entry must be smaller than "
                                   "4 GiB");
    }
    if (data_base + offset >= kMaxDataPosition) {
      return Refuse(labels[i], "its data would start at byte " +
                                   std::to_string(data_base + offset) +
                                   " of the update, at or beyond 2 GiB, "
                                   "where the updater cannot reach");
    }
    PayloadEntry entry;
    memset(&entry, 0, sizeof(entry));
    memcpy(entry.name, inputs[i].name.data(), inputs[i].name.size());
    entry.offset = static_cast<uint32_t>(offset);
    entry.size = static_cast<uint32_t>(inputs[i].size);
    directory->push_back(entry);
    offset += inputs[i].size;
  }
  return 0;
}

// A data entry whose list record has another checksum would stop every
// user's update with a checksum mismatch.
int CheckAgainstList(const VerificationList& list, const PackInput& input,
                     const std::string& label, const std::string& source) {
  if (VerifyEntry(list, input.name.c_str(), input.sum) != kMismatch) return 0;
  return Refuse(label, "entry " + input.name + " differs from its record in " +
                           source + "; the updater would refuse it");
}

// Everything that can be checked before writing: names, inputs, the list.
int Prepare(const PackOptions& o, std::vector<PackInput>* inputs,
            std::vector<std::string>* labels, ListInput* list) {
  if (ParseEntries(o.entries, inputs) != 0 ||
      CheckDuplicates(*inputs, o.entries) != 0) {
    return 1;
  }
  bool has_list = !o.verify_dir.empty() || !o.verify_list.empty();
  if (inputs->size() + has_list > kMaxEntries) {
    return Refuse(o.entries[kMaxEntries - has_list],
                  "an update holds at most " + std::to_string(kMaxEntries) +
                      " entries (the verification list counts as one); " +
                      "this would be entry " + std::to_string(kMaxEntries + 1));
  }
  uint64_t size;
  if (CheckStub(o.stub, &size) != 0) return 1;
  for (PackInput& input : *inputs) {
    if (CheckReadable(input.path, &input.size) != 0) return 1;
  }
  *labels = o.entries;
  if (!has_list) return 0;
  int failed = o.verify_dir.empty() ? LoadListFile(o.verify_list, list)
                                    : BuildListFromFolder(o.verify_dir, list);
  if (failed) return 1;
  list->source = o.verify_dir.empty() ? o.verify_list : o.verify_dir;
  PackInput entry;
  entry.name = kVerificationListName;
  entry.size = list->bytes.size();
  entry.sum = ComputeEntryChecksum(
      reinterpret_cast<const uint8_t*>(list->bytes.data()), list->bytes.size());
  inputs->push_back(entry);
  labels->push_back(list->source);
  return 0;
}

int WriteUpdate(const PackOptions& o, std::vector<PackInput>* inputs,
                const std::vector<std::string>& labels,
                const std::vector<PayloadEntry>& directory,
                const ListInput& list, OutputFile* out) {
  PackInput stub;
  stub.path = o.stub;
  std::error_code ec;
  stub.size = fs::file_size(o.stub, ec);
  if (ec || stub.size >= kPayloadOffset) {
    return Refuse(o.stub, "it changed while it was being packed");
  }
  if (CopyInput(&stub, out) != 0) return 1;
  std::string zeros(kPayloadOffset - stub.size, '\0');
  PayloadHeader header;
  memcpy(header.magic, kPayloadMagic, sizeof(header.magic));
  header.count = static_cast<uint32_t>(directory.size());
  if (out->Write(zeros.data(), zeros.size()) != 0 ||
      out->Write(&header, sizeof(header)) != 0 ||
      out->Write(directory.data(), directory.size() * sizeof(PayloadEntry))) {
    return 1;
  }
  VerificationList vlist = ToVerificationList(list.records);
  for (size_t i = 0; i < inputs->size(); i++) {
    PackInput& input = (*inputs)[i];
    int failed = input.path.empty()
                     ? out->Write(list.bytes.data(), list.bytes.size())
                     : CopyInput(&input, out);
    if (failed || CheckAgainstList(vlist, input, labels[i], list.source) != 0)
      return 1;
  }
  return out->Finish();
}

void PrintSummary(const PackOptions& o, const std::vector<PackInput>& inputs,
                  const ListInput& list) {
  uint64_t bytes = 0;
  size_t listed = 0;
  VerificationList vlist = ToVerificationList(list.records);
  for (const PackInput& input : inputs) {
    bytes += input.size;
    if (VerifyEntry(vlist, input.name.c_str(), input.sum) == kVerified) {
      listed++;
    }
  }
  printf("mkupdate: wrote %s: %zu entries, %llu bytes of data, ", o.out.c_str(),
         inputs.size(), static_cast<unsigned long long>(bytes));
  if (list.source.empty()) {
    printf("no verification list\n");
  } else {
    printf(
        "verification list %s with %zu records (%zu of %zu entries "
        "verified by it)\n",
        kVerificationListName, list.records.size(), listed, inputs.size() - 1);
  }
}

}  // namespace

int RunPack(const PackOptions& options) {
  std::vector<PackInput> inputs;
  std::vector<std::string> labels;
  ListInput list;
  std::vector<PayloadEntry> directory;
  if (Prepare(options, &inputs, &labels, &list) != 0 ||
      LayOut(inputs, labels, &directory) != 0) {
    return 1;
  }
  std::error_code ec;
  if (fs::is_directory(options.out, ec)) {
    return Refuse(options.out, "the output is a folder");
  }
  OutputFile out(options.out);
  if (out.Create() != 0 ||
      WriteUpdate(options, &inputs, labels, directory, list, &out) != 0) {
    return 1;
  }
  PrintSummary(options, inputs, list);
  return 0;
}
