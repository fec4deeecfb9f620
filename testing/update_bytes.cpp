#include "testing/update_bytes.h"

#include <stddef.h>
#include <string.h>

#include <algorithm>

#include "payload/payload_archive.h"
#include "payload/verification_list.h"

namespace {

template <typename Record>
std::string BytesOf(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof(record));
}

}  // namespace

std::string BuildPayload(const std::vector<TestEntry>& entries,
                         int64_t count_override) {
  PayloadHeader header;
  memcpy(header.magic, kPayloadMagic, sizeof(header.magic));
  header.count = count_override >= 0 ? static_cast<uint32_t>(count_override)
                                     : static_cast<uint32_t>(entries.size());
  std::string out = BytesOf(header);
  uint32_t offset = 0;
  for (const TestEntry& e : entries) {
    PayloadEntry record;
    memset(&record, 0, sizeof(record));
    memcpy(record.name, e.name.data(),
           std::min(e.name.size(), sizeof(record.name)));
    record.offset = offset;
    record.size = static_cast<uint32_t>(e.data.size());
    out += BytesOf(record);
    offset += record.size;
  }
  for (const TestEntry& e : entries) out += e.data;
  return out;
}

void PatchEntry(std::string* payload, uint32_t i, uint32_t offset,
                uint32_t size) {
  size_t at = sizeof(PayloadHeader) + size_t{i} * sizeof(PayloadEntry);
  memcpy(&(*payload)[at + offsetof(PayloadEntry, offset)], &offset,
         sizeof(offset));
  memcpy(&(*payload)[at + offsetof(PayloadEntry, size)], &size, sizeof(size));
}

std::string BuildVerificationList(const std::vector<TestRecord>& records,
                                  const char* magic) {
  VerificationHeader header;
  memcpy(header.magic, magic, sizeof(header.magic));
  header.reserved = 0;
  header.count = static_cast<uint32_t>(records.size());
  std::string out = BytesOf(header);
  for (const TestRecord& r : records) {
    VerificationRecord record;
    memset(&record, 0, sizeof(record));
    memcpy(record.name, r.name.data(),
           std::min(r.name.size(), sizeof(record.name)));
    record.checksum = r.checksum;
    out += BytesOf(record);
  }
  return out;
}

std::vector<TestEntry> WithListOfAll(std::vector<TestEntry> entries) {
  std::vector<TestRecord> records;
  for (const TestEntry& e : entries) {
    records.push_back({e.name, ChecksumOf(e.data)});
  }
  entries.push_back({"vrx.hvl", BuildVerificationList(records)});
  return entries;
}

std::string Z(const std::string& text) { return text + std::string(1, '\0'); }

std::string Pattern(size_t size, uint32_t state) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; i++) {
    state = state * 1103515245u + 12345u;
    out[i] = static_cast<char>(state >> 16);
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
