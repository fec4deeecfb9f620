// EntryChecksum: the 8-byte checksum that the verification list records for
// each file, shared by the updater and mkupdate.
#ifndef PAYLOAD_ENTRY_CHECKSUM_H_
#define PAYLOAD_ENTRY_CHECKSUM_H_

#include <stddef.h>
#include <stdint.h>

// The checksum as stored: A = A * 233 + b over the bytes (little-endian),
// the sum and exclusive-or of A's low bytes, and of the data bytes.
struct EntryChecksum {
  uint32_t a;
  uint8_t s1;
  uint8_t x1;
  uint8_t s2;
  uint8_t x2;
};

static_assert(sizeof(EntryChecksum) == 8, "checksum is 8 bytes on disk");

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
// several bytes per step (entry_checksum_kernels.h tells how).
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

#endif  // PAYLOAD_ENTRY_CHECKSUM_H_
