// Inside EntryChecksum: the tables its fast kernels read and the kernels
// themselves. entry_checksum.cpp makes the tables and picks the kernel;
// each kernel lives in a file of its own, compiled for its instruction set
// (entry_checksum_sse2.cpp, entry_checksum_avx2.cpp,
// entry_checksum_avx512.cpp), or, on processors
// without them, in entry_checksum_generic.cpp. Not for use elsewhere.
#ifndef PAYLOAD_ENTRY_CHECKSUM_KERNELS_H_
#define PAYLOAD_ENTRY_CHECKSUM_KERNELS_H_

#include <stddef.h>
#include <stdint.h>

#include "payload/verification_list.h"

// The kernels take blocks of kBlockBytes, and fold the sum of A in once per
// run of up to kRunBlocks blocks.
const size_t kBlockBytes = 16;
const size_t kRunBlocks = 16;
const size_t kRunBytes = kBlockBytes * kRunBlocks;
const size_t kRunPairs = kRunBytes / 2;
static_assert(kRunBlocks % 4 == 0, "the AVX-512 kernel's runs are whole steps");

// The pair digests of the AVX2 kernel carry a bias (see there).
const short kPairBias = 29952;

// Weights of a run: the byte at position p of a run of kRunBytes counts
// 233^(kRunBytes - 1 - p); a shorter run of n bytes uses the last n weights.
// The bytes are taken in pairs (even and odd positions apart), and each
// weight is split into 16-bit halves so that SSE2's multiplies can use it:
// weight = high * 65536 + low, low taken as signed.
struct KernelTables {
  uint8_t low_step[256][kBlockBytes];  // [L][i]: 233^(i+1) * L mod 256
  int16_t low_even[kRunPairs];
  int16_t low_odd[kRunPairs];
  uint16_t high_even[kRunPairs];
  uint16_t high_odd[kRunPairs];
  uint32_t run_factor[kRunBlocks + 1];  // [m]: 233^(16 m) mod 2^32
  uint32_t pair_bias[kRunBlocks + 1];   // [m]: of the last m blocks of a run
};

// The kernels advance *sum over the start of data and return the bytes they
// took: 0 where they are not built in. The caller makes sure the processor
// runs their instructions, and continues from where they stopped.

// Takes the whole blocks, leaving fewer than kBlockBytes.
size_t UpdateChecksumSse2(const KernelTables& tables, EntryChecksum* sum,
                          const uint8_t* data, size_t length);

// Takes the whole pairs of blocks, leaving fewer than 2 * kBlockBytes: an
// odd last block is for the SSE2 kernel, rather than a second copy of the
// block step compiled for AVX2, which would cost the program 512 bytes.
size_t UpdateChecksumAvx2(const KernelTables& tables, EntryChecksum* sum,
                          const uint8_t* data, size_t length);

// Takes whole steps of four blocks, leaving fewer than 4 * kBlockBytes for
// the AVX2 and SSE2 kernels. kRunBlocks must be a multiple of four.
size_t UpdateChecksumAvx512(const KernelTables& tables, EntryChecksum* sum,
                            const uint8_t* data, size_t length);

#endif  // PAYLOAD_ENTRY_CHECKSUM_KERNELS_H_
