#include "tools/mkupdate/list_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include "tools/mkupdate/names.h"

VerificationRecord MakeRecord(const std::string& name,
                              const EntryChecksum& sum) {
  VerificationRecord record;
  memset(&record, 0, sizeof(record));
  memcpy(record.name, name.data(),
         name.size() < kRecordNameSize ? name.size() : kRecordNameSize - 1);
  record.checksum = sum;
  return record;
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

std::string ParseVerificationList(const std::string& bytes,
                                  std::vector<VerificationRecord>* records) {
  VerificationHeader header;
  if (bytes.size() < sizeof(header)) {
    return "too short for a verification list (" +
           std::to_string(bytes.size()) + " bytes)";
  }
  memcpy(&header, bytes.data(), sizeof(header));
  if (memcmp(header.magic, kVerificationMagic, sizeof(header.magic)) != 0) {
    return "not a verification list: the magic is not KPL_____";
  }
  uint64_t expected = sizeof(header) + static_cast<uint64_t>(header.count) *
                                           sizeof(VerificationRecord);
  if (expected != bytes.size()) {
    return "the list declares " + std::to_string(header.count) +
           " records, which take " + std::to_string(expected) +
           " bytes, but it has " + std::to_string(bytes.size());
  }
  records->resize(header.count);
  if (header.count != 0) {
    memcpy(records->data(), bytes.data() + sizeof(header),
           header.count * sizeof(VerificationRecord));
  }
  for (uint32_t i = 0; i < header.count; i++) {
    const VerificationRecord& r = (*records)[i];
    if (memchr(r.name, '\0', kRecordNameSize) == nullptr) {
      return "record " + std::to_string(i) + " has a name without end";
    }
    std::string problem = RecordNameProblem(r.name);
    if (!problem.empty()) {
      return "record " + std::to_string(i) + " (" + r.name + "): " + problem;
    }
    for (uint32_t j = 0; j < i; j++) {
      if (SameUpdaterName(r.name, (*records)[j].name)) {
        return "records " + std::to_string(j) + " and " + std::to_string(i) +
               " have the same name (" + r.name + ")";
      }
    }
  }
  return "";
}

VerificationList ToVerificationList(
    const std::vector<VerificationRecord>& records) {
  VerificationList list;
  list.count = static_cast<uint32_t>(records.size());
  list.records.reset(new VerificationRecord[records.size()]);
  for (size_t i = 0; i < records.size(); i++) list.records[i] = records[i];
  return list;
}

namespace {

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileCloser> FilePtr;

std::string OpenProblem(const std::string& path, FilePtr* file) {
  file->reset(fopen(path.c_str(), "rb"));
  if (!*file) return std::string("cannot open it: ") + strerror(errno);
  return "";
}

}  // namespace

std::string ReadSmallFile(const std::string& path, std::string* bytes) {
  FilePtr file;
  std::string problem = OpenProblem(path, &file);
  if (!problem.empty()) return problem;
  bytes->clear();
  std::unique_ptr<char[]> block(new char[kCopyBlockSize]);
  size_t n;
  while ((n = fread(block.get(), 1, kCopyBlockSize, file.get())) > 0) {
    bytes->append(block.get(), n);
  }
  if (ferror(file.get()))
    return std::string("cannot read it: ") + strerror(errno);
  return "";
}

std::string ChecksumFile(const std::string& path, EntryChecksum* sum) {
  FilePtr file;
  std::string problem = OpenProblem(path, &file);
  if (!problem.empty()) return problem;
  *sum = NewEntryChecksum();
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlockSize]);
  size_t n;
  while ((n = fread(block.get(), 1, kCopyBlockSize, file.get())) > 0) {
    UpdateEntryChecksum(sum, block.get(), n);
  }
  if (ferror(file.get()))
    return std::string("cannot read it: ") + strerror(errno);
  return "";
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
