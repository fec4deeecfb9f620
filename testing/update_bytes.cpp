#include "testing/update_bytes.h"

#include <string.h>

#include <algorithm>

#include "payload/payload_archive.h"

namespace {

void PutU32(std::string* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*out)[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

std::string BuildPayload(const std::vector<TestEntry>& entries,
                         int64_t count_override) {
  std::string out("PackFile    ", 12);
  out.append(4, '\0');
  PutU32(&out, 12,
         count_override >= 0 ? static_cast<uint32_t>(count_override)
                             : static_cast<uint32_t>(entries.size()));
  uint32_t offset = 0;
  for (const TestEntry& e : entries) {
    std::string record(32, '\0');
    memcpy(&record[0], e.name.data(), std::min<size_t>(e.name.size(), 16));
    PutU32(&record, 16, offset);
    PutU32(&record, 20, static_cast<uint32_t>(e.data.size()));
    out += record;
    offset += static_cast<uint32_t>(e.data.size());
  }
  for (const TestEntry& e : entries) out += e.data;
  return out;
}

void PatchEntry(std::string* payload, uint32_t i, uint32_t offset,
                uint32_t size) {
  PutU32(payload, 16 + 32 * i + 16, offset);
  PutU32(payload, 16 + 32 * i + 20, size);
}

std::string BuildVerificationList(const std::vector<TestRecord>& records,
                                  const char* magic) {
  std::string out(magic, 8);
  out.append(8, '\0');
  PutU32(&out, 12, static_cast<uint32_t>(records.size()));
  for (const TestRecord& r : records) {
    std::string record(64, '\0');
    memcpy(&record[0], r.name.data(), std::min<size_t>(r.name.size(), 56));
    memcpy(&record[56], &r.checksum, 8);
    out += record;
  }
  return out;
}

EntryChecksum ChecksumOf(const std::string& data) {
  EntryChecksum sum = NewEntryChecksum();
  UpdateEntryChecksumWith(kKernelByteLoop, &sum,
                          reinterpret_cast<const uint8_t*>(data.data()),
                          data.size());
  return sum;
}

std::string UpdaterFile(const std::string& payload, const std::string& prefix) {
  std::string out = prefix;
  out.resize(kPayloadOffset, '\0');
  return out + payload;
}
