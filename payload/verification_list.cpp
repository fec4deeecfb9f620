#include "payload/verification_list.h"

#include <string.h>

#include <new>

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

}  // namespace

bool SameNameIgnoringCase(const char* a, size_t a_size, const char* b,
                          size_t b_size) {
  for (size_t i = 0; i < a_size && i < b_size; i++) {
    if (Lower(a[i]) != Lower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return false;
}

namespace {

// Loads the list from the given entry; any failure leaves it absent.
void LoadListEntry(SeqFile* file, const Payload& payload,
                   const PayloadEntry& entry, VerificationList* list) {
  uint32_t position;
  VerificationHeader header;
  if (!EntryInsideFile(payload, entry) ||
      !EntryDataPosition(payload, entry, &position) || !file->Seek(position) ||
      file->Read(&header, sizeof(header)) != sizeof(header) ||
      memcmp(header.magic, kVerificationMagic, sizeof(header.magic)) != 0) {
    return;
  }
  // The table lies within the list's own entry, and the entry within the
  // file, or the list is damaged: the count bounds the allocation below
  // only once it is checked against bytes that are really there.
  uint64_t table_size =
      static_cast<uint64_t>(header.count) * sizeof(VerificationRecord);
  if (entry.size < sizeof(header) || table_size > entry.size - sizeof(header)) {
    return;
  }
  std::unique_ptr<VerificationRecord[]> records(
      new (std::nothrow) VerificationRecord[header.count]);
  uint32_t size = static_cast<uint32_t>(table_size);
  if (!records || file->Read(records.get(), size) != size) return;
  list->count = header.count;
  list->records = std::move(records);
}

}  // namespace

void LoadVerificationList(SeqFile* file, const Payload& payload,
                          VerificationList* list) {
  list->count = 0;
  list->records.reset();
  for (uint32_t i = 0; i < payload.count; i++) {
    const PayloadEntry& entry = payload.entries[i];
    if (SameNameIgnoringCase(entry.name, kEntryNameSize, kVerificationListName,
                             sizeof(kVerificationListName))) {
      // Only the first entry of that name counts, whatever it holds.
      LoadListEntry(file, payload, entry, list);
      return;
    }
  }
}

VerifyResult VerifyEntry(const VerificationList& list, const char* name,
                         const EntryChecksum& sum) {
  size_t name_size = strlen(name) + 1;
  for (uint32_t i = 0; i < list.count; i++) {
    const VerificationRecord& record = list.records[i];
    if (SameNameIgnoringCase(name, name_size, record.name, kRecordNameSize)) {
      return SameChecksum(record.checksum, sum) ? kVerified : kMismatch;
    }
  }
  return kNotListed;
}
