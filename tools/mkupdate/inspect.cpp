#include "tools/mkupdate/inspect.h"

#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "payload/payload_archive.h"
#include "payload/verification_list.h"
#include "tools/mkupdate/list_file.h"
#include "tools/mkupdate/names.h"

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& file, const std::string& reason) {
  fprintf(stderr, "mkupdate: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

// The entry's checksum, its data read in blocks as the updater would reach
// it. Returns 0 if the data cannot be reached or read in full.
int ChecksumEntry(SeqFile* file, const Payload& payload,
                  const PayloadEntry& entry, EntryChecksum* sum) {
  uint32_t position;
  if (!EntryDataPosition(payload, entry, &position) || !file->Seek(position)) {
    return 0;
  }
  std::unique_ptr<uint8_t[]> block(new uint8_t[kCopyBlockSize]);
  *sum = NewEntryChecksum();
  for (uint32_t left = entry.size; left > 0;) {
    uint32_t n = std::min<uint32_t>(left, kCopyBlockSize);
    if (file->Read(block.get(), n) != n) return 0;
    UpdateEntryChecksum(sum, block.get(), n);
    left -= n;
  }
  return 1;
}

// Checks the first entry named vrx.hvl as a list file. Returns "" when
// there is none or it is sound, otherwise its problem.
std::string ListProblem(SeqFile* file, const Payload& payload) {
  for (uint32_t i = 0; i < payload.count; i++) {
    const PayloadEntry& entry = payload.entries[i];
    if (!SameUpdaterName(entry.name, kVerificationListName)) continue;
    EntryBuffer data;
    if (!ReadEntryData(file, payload, entry, &data)) return "cannot be read";
    std::vector<VerificationRecord> records;
    return ParseVerificationList(
        std::string(reinterpret_cast<char*>(data.get()), entry.size), &records);
  }
  return "";
}

const char* StateName(VerifyResult result) {
  switch (result) {
    case kVerified:
      return "verified";
    case kMismatch:
      return "MISMATCH";
    default:
      return "not listed";
  }
}

// Prints one line per entry; returns the number of bad entries.
int PrintEntries(SeqFile* file, const Payload& payload,
                 const VerificationList& list, uint64_t* data_end) {
  int bad = 0;
  printf("%-15s %10s %10s  %-16s  %s\n", "name", "offset", "size", "checksum",
         "state");
  for (uint32_t i = 0; i < payload.count; i++) {
    const PayloadEntry& entry = payload.entries[i];
    EntryChecksum sum;
    const char* state = "UNREADABLE";
    std::string hex(16, '-');
    if (ChecksumEntry(file, payload, entry, &sum)) {
      VerifyResult result = VerifyEntry(list, entry.name, sum);
      state = StateName(result);
      hex = ChecksumHex(sum);
      if (result == kMismatch) bad++;
    } else {
      bad++;
    }
    printf("%-15s %10u %10u  %s  %s\n", entry.name, entry.offset, entry.size,
           hex.c_str(), state);
    *data_end =
        std::max<uint64_t>(*data_end, static_cast<uint64_t>(payload.data_base) +
                                          entry.offset + entry.size);
  }
  return bad;
}

}  // namespace

int RunList(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return Fail(path, "no such file");
  SeqFile file;
  Payload payload;
  ResultCode result = OpenPayload(path.c_str(), &file, &payload);
  if (result == kResultTooManyEntries) {
    return Fail(path, "the payload declares more than 24 entries");
  }
  if (result != kResultOk) {
    return Fail(path,
                "no readable payload at 1 MiB (too short, or its "
                "header or directory is damaged)");
  }
  VerificationList list;
  LoadVerificationList(&file, payload, &list);
  std::string problem = ListProblem(&file, payload);
  printf("%s: %u entries, ", path.c_str(), payload.count);
  if (list.count != 0 || problem.empty()) {
    printf("verification list with %u records\n", list.count);
  } else {
    printf("no usable verification list\n");
  }
  uint64_t data_end = payload.data_base;
  int bad = PrintEntries(&file, payload, list, &data_end);
  uint64_t size = fs::file_size(path, ec);
  if (!ec && size > data_end) {
    printf("%llu bytes follow the entries' data (a signature, for one)\n",
           static_cast<unsigned long long>(size - data_end));
  }
  if (!problem.empty()) {
    Fail(path, std::string(kVerificationListName) + " is damaged: " + problem +
                   (list.count == 0 ? "; the updater would install every "
                                      "entry unchecked"
                                    : ""));
    bad++;
  }
  if (bad != 0) return Fail(path, std::to_string(bad) + " problems");
  return 0;
}

namespace {

// The file that record name (folders separated by '\') names under dir.
// Windows ignores letter case, so when no file has the exact name, one
// that differs only in letter case counts. Returns "" when none exists.
std::string FindListedFile(const std::string& dir, const std::string& name) {
  fs::path path(dir);
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = std::min(name.find('\\', start), name.size());
    std::string part = name.substr(start, end - start);
    std::error_code ec;
    if (fs::exists(path / part, ec)) {
      path /= part;
    } else {
      fs::path found;
      for (fs::directory_iterator it(path, ec), last; !ec && it != last;
           it.increment(ec)) {
        if (SameUpdaterName(it->path().filename().string(), part)) {
          found = it->path();
          break;
        }
      }
      if (found.empty()) return "";
      path = found;
    }
    start = end + 1;
  }
  std::error_code ec;
  return fs::is_regular_file(path, ec) ? path.string() : "";
}

}  // namespace

int RunVerify(const std::string& list_path, const std::string& dir) {
  std::string bytes;
  std::vector<VerificationRecord> records;
  std::string problem = ReadSmallFile(list_path, &bytes);
  if (problem.empty()) problem = ParseVerificationList(bytes, &records);
  if (!problem.empty()) return Fail(list_path, problem);
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Fail(dir, "not a folder");
  size_t missing = 0, differing = 0;
  for (const VerificationRecord& record : records) {
    std::string path = FindListedFile(dir, record.name);
    if (path.empty()) {
      printf("missing    %s\n", record.name);
      missing++;
      continue;
    }
    EntryChecksum sum;
    problem = ChecksumFile(path, &sum);
    if (!problem.empty()) {
      printf("unreadable %s: %s\n", record.name, problem.c_str());
      differing++;
    } else if (!SameChecksum(sum, record.checksum)) {
      printf("differs    %s\n", record.name);
      differing++;
    }
  }
  if (missing + differing != 0) {
    return Fail(dir, std::to_string(records.size()) + " files listed: " +
                         std::to_string(missing) + " missing, " +
                         std::to_string(differing) + " differing");
  }
  printf("%s: all %zu listed files match\n", dir.c_str(), records.size());
  return 0;
}
