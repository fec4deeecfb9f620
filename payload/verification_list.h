// The verification list "vrx.hvl" carried among the payload's entries, and
// EntryChecksum, the 8-byte checksum it records for each file.
#ifndef PAYLOAD_VERIFICATION_LIST_H_
#define PAYLOAD_VERIFICATION_LIST_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "payload/payload_archive.h"
#include "platform/seq_file.h"

// The checksum as stored: A = A * 233 + b over the bytes (little-endian),
// the sum and exclusive-or of A's low bytes, and of the data bytes.
struct EntryChecksum {
  uint32_t a;
  uint8_t s1;
  uint8_t x1;
  uint8_t s2;
  uint8_t x2;
};

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

static_assert(sizeof(EntryChecksum) == 8, "checksum is 8 bytes on disk");
static_assert(sizeof(VerificationRecord) == 64, "record is 64 bytes on disk");
static_assert(sizeof(VerificationHeader) == 16, "header is 16 bytes on disk");

// The loaded list: count records exactly as read; count 0 means no list.
struct VerificationList {
  uint32_t count = 0;
  std::unique_ptr<VerificationRecord[]> records;
};

enum VerifyResult { kVerified, kMismatch, kNotListed };

// Starts a checksum: all eight bytes zero.
EntryChecksum NewEntryChecksum();

// Continues a checksum over more bytes, as if they followed the earlier ones,
// with the fastest kernel this processor runs.
void UpdateEntryChecksum(EntryChecksum* sum, const uint8_t* data,
                         size_t length);

// The checksum of a whole buffer.
EntryChecksum ComputeEntryChecksum(const uint8_t* data, size_t length);

// The ways of computing the checksum; every one gives the same eight bytes.
// kKernelByteLoop is the definition, one byte per step; the others advance
// several bytes per step (entry_checksum.cpp tells how).
enum ChecksumKernel {
  kKernelByteLoop,
  kKernelSse2,
  kKernelAvx2,
  kKernelAvx512
};

// UpdateEntryChecksum with the given kernel. Returns 0, leaving the sum
// unchanged, if this processor lacks the instructions it needs.
int UpdateEntryChecksumWith(ChecksumKernel kernel, EntryChecksum* sum,
                            const uint8_t* data, size_t length);

// Byte-for-byte equality of two checksums.
bool SameChecksum(const EntryChecksum& a, const EntryChecksum& b);

// Compares two names of at most the given sizes with capitals A-Z lowered,
// up to and including the terminator. A name without a terminator within its
// size equals nothing.
bool SameNameIgnoringCase(const char* a, size_t a_size, const char* b,
                          size_t b_size);

// Finds the first entry named "vrx.hvl" (any case) and loads its records.
// Any problem leaves the list absent; it never fails the run.
void LoadVerificationList(SeqFile* file, const Payload& payload,
                          VerificationList* list);

// The first record of the same name (any case) decides.
VerifyResult VerifyEntry(const VerificationList& list, const char* name,
                         const EntryChecksum& sum);

#endif  // PAYLOAD_VERIFICATION_LIST_H_
