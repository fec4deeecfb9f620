// A whole updater file: the input is everything after the 1 MiB mark. Opens
// the payload, loads the verification list, reads and checksums every entry
// whole and streamed in pieces and looks it up, checking each step against
// where the bytes really are; then, when every name is a plain file name,
// runs the installation into a scratch folder and checks that it installed
// the whole update or changed nothing.
#include <ctype.h>
#include <dirent.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"
#include "payload/entry_name.h"
#include "payload/installation_run.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "uninstall/uninstall_list.h"

namespace {

// The header of the given record type at p, as stored.
template <typename Header>
Header HeaderAt(const uint8_t* p) {
  Header header;
  memcpy(&header, p, sizeof(header));
  return header;
}

// What OpenPayload must answer for this archive.
ResultCode ExpectedOpen(const uint8_t* data, size_t size) {
  if (size < sizeof(PayloadHeader)) return kResultPayloadUnreadable;
  uint32_t count = HeaderAt<PayloadHeader>(data).count;
  if (count > kMaxEntries) return kResultTooManyEntries;
  if (size < sizeof(PayloadHeader) + count * sizeof(PayloadEntry)) {
    return kResultPayloadUnreadable;
  }
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* name =
        data + sizeof(PayloadHeader) + i * sizeof(PayloadEntry);
    if (memchr(name, '\0', kEntryNameSize) == nullptr ||
        FindEntryNameFault(reinterpret_cast<const char*>(name)) != kNameSound) {
      return kResultPayloadUnreadable;
    }
    for (uint32_t j = 0; j < i; j++) {
      const uint8_t* other =
          data + sizeof(PayloadHeader) + j * sizeof(PayloadEntry);
      if (SameEntryFile(reinterpret_cast<const char*>(name),
                        reinterpret_cast<const char*>(other))) {
        return kResultPayloadUnreadable;
      }
    }
  }
  return kResultOk;
}

// Where an entry's data starts in the input, if the reader may reach it.
bool InputOffset(const Payload& payload, const PayloadEntry& entry,
                 uint64_t* at) {
  uint64_t absolute = uint64_t{payload.data_base} + entry.offset;
  if (absolute >= kMaxDataPosition) return false;
  *at = absolute - kPayloadOffset;
  return true;
}

void CheckList(const uint8_t* data, size_t size, const Payload& payload,
               const VerificationList& list) {
  const PayloadEntry* found = nullptr;
  for (uint32_t i = 0; i < payload.count && found == nullptr; i++) {
    std::string lower(payload.entries[i].name);
    for (char& c : lower) c = c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (lower == "vrx.hvl") found = &payload.entries[i];
  }
  uint64_t at = 0;
  uint64_t expected = 0;
  if (found != nullptr && InputOffset(payload, *found, &at) &&
      at + sizeof(VerificationHeader) <= size &&
      memcmp(data + at, kVerificationMagic, 8) == 0) {
    uint64_t count = HeaderAt<VerificationHeader>(data + at).count;
    uint64_t table = count * sizeof(VerificationRecord);
    if (at + found->size <= size && found->size >= sizeof(VerificationHeader) &&
        table <= found->size - sizeof(VerificationHeader) &&
        at + sizeof(VerificationHeader) + table <= size) {
      expected = count;
    }
  }
  Check(list.count == expected,
        "list loaded exactly when its entry holds it whole");
  if (expected == 0) return;
  Check(memcmp(list.records.get(), data + at + sizeof(VerificationHeader),
               list.count * sizeof(VerificationRecord)) == 0,
        "list records as stored");
}

// What the run must do with one entry: install it, or stop with failure;
// and whether the entry lies within the file, as the run checks first.
struct Outcome {
  ResultCode failure;
  std::string data;
  bool inside;
};

// Reads, checks and looks up every entry as the run would.
std::vector<Outcome> CheckEntries(SeqFile* file, const uint8_t* data,
                                  size_t size, const Payload& payload,
                                  const VerificationList& list) {
  std::vector<Outcome> outcomes;
  EntryBuffer bytes;  // reused, as the run reuses it
  EntryBuffer pieces;
  Check(AllocatePieceBuffer(&pieces) != 0, "piece buffer");
  for (uint32_t i = 0; i < payload.count; i++) {
    const PayloadEntry& entry = payload.entries[i];
    int read = ReadEntryData(file, payload, entry, &bytes);
    uint64_t at = 0;
    // An empty entry reads in full wherever it is, even past the end, as
    // long as the position itself can be reached.
    bool whole = InputOffset(payload, entry, &at) &&
                 (entry.size == 0 || at + entry.size <= size);
    Check(read == (whole ? 1 : 0), "entry read exactly when it is whole");
    bool inside = InputOffset(payload, entry, &at) && at + entry.size <= size;
    Check(EntryInsideFile(payload, entry) == inside, "entry inside the file");
    EntryChecksum streamed;
    CopyResult copied =
        CopyEntryData(file, payload, entry, pieces, nullptr, &streamed);
    Check((copied == kCopyDone) == whole, "streamed exactly when whole");
    if (!read) {
      outcomes.push_back({kResultPayloadUnreadable, "", inside});
      continue;
    }
    std::string text(reinterpret_cast<char*>(bytes.get()), entry.size);
    Check(text.compare(0, entry.size, reinterpret_cast<const char*>(data + at),
                       entry.size) == 0,
          "entry data");
    EntryChecksum sum = ComputeEntryChecksum(bytes.get(), entry.size);
    Check(SameChecksum(sum, streamed), "streamed checksum");
    VerifyResult verdict = VerifyEntry(list, entry.name, sum);
    Check(list.count > 0 || verdict == kNotListed, "no list, no verdict");
    outcomes.push_back(
        {verdict == kMismatch ? kResultChecksumMismatch : kResultOk, text,
         inside});
  }
  return outcomes;
}

// A name the run may be let loose with: a plain file name that stays in the
// scratch folder and is not the uninstall list's.
bool PlainName(const char* name) {
  if (name[0] == '\0' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0 ||
      strcmp(name, kUninstallListName) == 0) {
    return false;
  }
  for (const char* p = name; *p != '\0'; p++) {
    if (!isalnum(static_cast<unsigned char>(*p)) && !strchr("._-", *p)) {
      return false;
    }
  }
  return true;
}

std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  DIR* dir = opendir(folder.c_str());
  Check(dir != nullptr, "the install folder is still there");
  while (struct dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") {
      files[name] = ReadWholeFile(folder + "/" + name);
    }
  }
  closedir(dir);
  return files;
}

// The run itself: the whole update or nothing. An entry outside the file
// stops it before anything is written; otherwise the first entry that
// fails does; only when none fails is every entry installed and every new
// name a line of the uninstall list.
void CheckRun(const std::string& path, const Payload& payload,
              const std::vector<Outcome>& outcomes) {
  for (uint32_t i = 0; i < payload.count; i++) {
    if (!PlainName(payload.entries[i].name)) return;
  }
  static const std::string folder = FuzzFolder() + "/Game";
  mkdir(folder.c_str(), 0755);
  for (const auto& file : FolderFiles(folder)) {
    unlink((folder + "/" + file.first).c_str());
  }
  const std::string list("game.exe\n\0", 10);
  WriteFileAt(folder + "/" + kUninstallListName, list.data(), list.size(), 0);
  std::map<std::string, std::string> files = {{kUninstallListName, list}};
  ResultCode expected = kResultOk;
  for (const Outcome& outcome : outcomes) {
    if (!outcome.inside) expected = kResultPayloadUnreadable;
  }
  for (size_t i = 0; i < outcomes.size() && expected == kResultOk; i++) {
    expected = outcomes[i].failure;
  }
  if (expected == kResultOk) {
    std::string text = "game.exe\n";
    for (uint32_t i = 0; i < payload.count; i++) {
      std::string name = payload.entries[i].name;
      files[name] = outcomes[i].data;
      if (("\n" + text).find("\n" + name + "\n") == std::string::npos) {
        text += name + "\n";
      }
    }
    files[kUninstallListName] = text + '\0';
  }
  Check(InstallPayload(path.c_str(), folder.c_str()) == expected, "run result");
  Check(FolderFiles(folder) == files, "the folder as the failure table says");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzFolder() + "/setup.exe";
  WriteFileAt(path, data, size, kPayloadOffset);
  SeqFile file;
  Payload payload;
  ResultCode result = OpenPayload(path.c_str(), &file, &payload);
  Check(result == ExpectedOpen(data, size), "OpenPayload result");
  if (result != kResultOk) return 0;
  Check(memcmp(payload.entries.get(), data + sizeof(PayloadHeader),
               payload.count * sizeof(PayloadEntry)) == 0,
        "directory as stored");
  VerificationList list;
  LoadVerificationList(&file, payload, &list);
  CheckList(data, size, payload, list);
  std::vector<Outcome> outcomes =
      CheckEntries(&file, data, size, payload, list);
  CheckRun(path, payload, outcomes);
  return 0;
}
