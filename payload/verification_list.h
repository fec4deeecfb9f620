// The verification list "vrx.hvl" carried among the payload's entries: the
// EntryChecksum of each file it names.
#ifndef PAYLOAD_VERIFICATION_LIST_H_
#define PAYLOAD_VERIFICATION_LIST_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "payload/entry_checksum.h"
#include "payload/payload_archive.h"
#include "platform/seq_file.h"

const size_t kRecordNameSize = 56;

// One record of the list as stored: NUL-terminated, zero-filled name and the
// checksum of the file's complete contents.
struct VerificationRecord {
  char name[kRecordNameSize];
  EntryChecksum checksum;
};

// The list header as stored: magic "KPL_____", a reserved word, the count.
struct VerificationHeader {
  char magic[8];
  uint32_t reserved;
  uint32_t count;
};

const char kVerificationListName[] = "vrx.hvl";
const char kVerificationMagic[8] = {'K', 'P', 'L', '_', '_', '_', '_', '_'};

static_assert(sizeof(VerificationRecord) == 64, "record is 64 bytes on disk");
static_assert(sizeof(VerificationHeader) == 16, "header is 16 bytes on disk");

// The loaded list: count records exactly as read; count 0 means no list.
struct VerificationList {
  uint32_t count = 0;
  std::unique_ptr<VerificationRecord[]> records;
};

enum VerifyResult { kVerified, kMismatch, kNotListed };

// Compares two names of at most the given sizes with capitals A-Z lowered,
// up to and including the terminator. A name without a terminator within its
// size equals nothing.
bool SameNameIgnoringCase(const char* a, size_t a_size, const char* b,
                          size_t b_size);

// Finds the first entry named "vrx.hvl" (any case) and loads its records.
// Any problem leaves the list absent, an entry that ends past the file or a
// record table larger than what the entry holds among them; it never fails
// the run.
void LoadVerificationList(SeqFile* file, const Payload& payload,
                          VerificationList* list);

// The first record of the same name (any case) decides.
VerifyResult VerifyEntry(const VerificationList& list, const char* name,
                         const EntryChecksum& sum);

#endif  // PAYLOAD_VERIFICATION_LIST_H_
