// The verification list with arbitrary names: the input's names are looked
// up (VerifyEntry) in a list made of the rest of the input, carried as the
// only entry "vrx.hvl" of an updater file and loaded by the real reader.
#include <string.h>

#include <string>

#include "fuzz/fuzz_util.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "testing/update_bytes.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = c >= 'A' && c <= 'Z' ? c + 32 : c;
  return s;
}

// The first record whose name equals name in any case, or null.
const VerificationRecord* FindRecord(const VerificationList& list,
                                     const std::string& name) {
  for (uint32_t i = 0; i < list.count; i++) {
    const char* record = list.records[i].name;
    const void* end = memchr(record, '\0', kRecordNameSize);
    if (end == nullptr) continue;  // breaks the format: equals nothing
    std::string text(record, static_cast<const char*>(end) - record);
    if (Lower(text) == Lower(name)) return &list.records[i];
  }
  return nullptr;
}

void CheckLoaded(const std::string& bytes, const VerificationList& list) {
  uint64_t expected = 0;
  if (bytes.size() >= sizeof(VerificationHeader) &&
      memcmp(bytes.data(), kVerificationMagic, 8) == 0) {
    VerificationHeader header;
    memcpy(&header, bytes.data(), sizeof(header));
    uint64_t count = header.count;
    if (sizeof(VerificationHeader) + count * sizeof(VerificationRecord) <=
        bytes.size()) {
      expected = count;
    }
  }
  Check(list.count == expected, "list loaded exactly when it is whole");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = FuzzFolder() + "/setup.exe";
  NamesAndBytes input = SplitInput(data, size);
  std::string payload = BuildPayload({{kVerificationListName, input.rest}});
  WriteFileAt(path, payload.data(), payload.size(), kPayloadOffset);
  SeqFile file;
  Payload directory;
  Check(OpenPayload(path.c_str(), &file, &directory) == kResultOk,
        "payload with one entry opens");
  VerificationList list;
  LoadVerificationList(&file, directory, &list);
  CheckLoaded(input.rest, list);
  for (const std::string& name : input.names) {
    const VerificationRecord* record = FindRecord(list, name);
    EntryChecksum own = ComputeEntryChecksum(
        reinterpret_cast<const uint8_t*>(name.data()), name.size());
    if (record == nullptr) {
      Check(VerifyEntry(list, name.c_str(), own) == kNotListed, "not listed");
      continue;
    }
    EntryChecksum sum = record->checksum;
    Check(VerifyEntry(list, name.c_str(), sum) == kVerified,
          "the first record of the name verifies its checksum");
    sum.x2 ^= 1;
    Check(VerifyEntry(list, name.c_str(), sum) == kMismatch,
          "any other checksum is a mismatch");
  }
  return 0;
}
