#include "tools/mkupdate/verification_list_file.h"

#include <string.h>

#include "tools/mkupdate/names.h"
#include "tools/mkupdate/report.h"

VerificationRecord MakeRecord(const std::string& name,
                              const EntryChecksum& sum) {
  VerificationRecord record;
  memset(&record, 0, sizeof(record));
  memcpy(record.name, name.data(),
         name.size() < kRecordNameSize ? name.size() : kRecordNameSize - 1);
  record.checksum = sum;
  return record;
}

uint64_t VerificationListSize(uint64_t count) {
  return sizeof(VerificationHeader) + count * sizeof(VerificationRecord);
}

std::string SerializeVerificationList(
    const std::vector<VerificationRecord>& records) {
  VerificationHeader header;
  memcpy(header.magic, kVerificationMagic, sizeof(header.magic));
  header.reserved = 0;
  header.count = static_cast<uint32_t>(records.size());
  std::string out(reinterpret_cast<const char*>(&header), sizeof(header));
  if (!records.empty()) {
    out.append(reinterpret_cast<const char*>(records.data()),
               records.size() * sizeof(VerificationRecord));
  }
  return out;
}

bool HasVerificationMagic(const std::string& bytes) {
  return bytes.size() >= sizeof(kVerificationMagic) &&
         memcmp(bytes.data(), kVerificationMagic, sizeof(kVerificationMagic)) ==
             0;
}

namespace {

bool CheckRecords(const std::vector<VerificationRecord>& records,
                  std::string* why) {
  for (size_t i = 0; i < records.size(); i++) {
    const VerificationRecord& r = records[i];
    std::string label = "record " + std::to_string(i);
    if (memchr(r.name, '\0', kRecordNameSize) == nullptr) {
      *why = label + " has a name without end";
      return false;
    }
    std::string problem;
    if (!CheckRecordName(r.name, &problem)) {
      *why = label + " (" + ShownName(r.name) + "): " + problem;
      return false;
    }
    for (size_t j = 0; j < i; j++) {
      if (SameUpdaterName(r.name, records[j].name)) {
        *why = "records " + std::to_string(j) + " and " + std::to_string(i) +
               " have the same name (" + ShownName(r.name) + ")";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

bool ParseVerificationList(const std::string& bytes,
                           std::vector<VerificationRecord>* records,
                           std::string* why) {
  VerificationHeader header;
  if (!HasVerificationMagic(bytes)) {
    *why = "not a verification list: it does not start with KPL_____";
    return false;
  }
  if (bytes.size() < sizeof(header)) {
    *why = "too short for a verification list (" +
           std::to_string(bytes.size()) + " bytes)";
    return false;
  }
  memcpy(&header, bytes.data(), sizeof(header));
  uint64_t expected = VerificationListSize(header.count);
  if (expected != bytes.size()) {
    *why = "the list declares " + Counted(header.count, "record", "records") +
           ", which take " + std::to_string(expected) + " bytes, but it has " +
           std::to_string(bytes.size());
    return false;
  }
  records->resize(header.count);
  if (header.count != 0) {
    memcpy(records->data(), bytes.data() + sizeof(header),
           header.count * sizeof(VerificationRecord));
  }
  return CheckRecords(*records, why);
}

VerificationList ToVerificationList(
    const std::vector<VerificationRecord>& records) {
  VerificationList list;
  list.count = static_cast<uint32_t>(records.size());
  list.records.reset(new VerificationRecord[records.size()]);
  for (size_t i = 0; i < records.size(); i++) list.records[i] = records[i];
  return list;
}

std::string ChecksumHex(const EntryChecksum& sum) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&sum);
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < sizeof(sum); i++) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}
