// A whole updater file: the input is everything after the 1 MiB mark. Opens
// the payload, loads the verification list, reads and checksums every entry
// and looks it up, checking each step against where the bytes really are.
#include <string.h>

#include <memory>
#include <string>

#include "fuzz/fuzz_util.h"
#include "payload/payload_archive.h"
#include "payload/verification_list.h"

namespace {

uint32_t U32At(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// What OpenPayload must answer for this archive.
ResultCode ExpectedOpen(const uint8_t* data, size_t size) {
  if (size < sizeof(PayloadHeader)) return kResultPayloadUnreadable;
  uint32_t count = U32At(data + 12);
  if (count > kMaxEntries) return kResultTooManyEntries;
  if (size < sizeof(PayloadHeader) + count * sizeof(PayloadEntry)) {
    return kResultPayloadUnreadable;
  }
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* name =
        data + sizeof(PayloadHeader) + i * sizeof(PayloadEntry);
    if (memchr(name, '\0', kEntryNameSize) == nullptr) {
      return kResultPayloadUnreadable;
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
    uint64_t count = U32At(data + at + 12);
    if (at + sizeof(VerificationHeader) + count * 64 <= size) expected = count;
  }
  Check(list.count == expected, "list loaded exactly when it is whole");
  if (expected == 0) return;
  Check(memcmp(list.records.get(), data + at + sizeof(VerificationHeader),
               list.count * sizeof(VerificationRecord)) == 0,
        "list records as stored");
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
  for (uint32_t i = 0; i < payload.count; i++) {
    const PayloadEntry& entry = payload.entries[i];
    std::unique_ptr<uint8_t[]> bytes;
    int read = ReadEntryData(&file, payload, entry, &bytes);
    uint64_t at = 0;
    // An empty entry reads in full wherever it is, even past the end, as
    // long as the position itself can be reached.
    bool whole = InputOffset(payload, entry, &at) &&
                 (entry.size == 0 || at + entry.size <= size);
    Check(read == (whole ? 1 : 0), "entry read exactly when it is whole");
    if (!read) continue;
    Check(entry.size == 0 || memcmp(bytes.get(), data + at, entry.size) == 0,
          "entry data");
    EntryChecksum sum = ComputeEntryChecksum(bytes.get(), entry.size);
    VerifyResult verdict = VerifyEntry(list, entry.name, sum);
    Check(list.count > 0 || verdict == kNotListed, "no list, no verdict");
  }
  return 0;
}
