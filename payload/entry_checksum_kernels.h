// Inside EntryChecksum: the tables its fast kernels read, the kernels
// themselves, and why they give the byte loop's eight bytes.
// entry_checksum.cpp makes the tables and picks the kernel; each kernel
// lives in a file of its own, compiled for its instruction set
// (entry_checksum_sse2.cpp, entry_checksum_avx2.cpp,
// entry_checksum_avx512.cpp), or, on processors without them, in
// entry_checksum_generic.cpp. Not for use elsewhere.
//
// The byte loop is held back by its chain: A = A * 233 + b must finish
// before the next byte can start. The kernels split the work:
//
// - S2 and X2 see only the data bytes: byte-wise sums and exclusive-ors.
// - A over a run of n bytes is A * 233^n + sum of b_i * 233^(n-1-i)
//   (mod 2^32): a dot product with fixed weights, folded in once per run of
//   up to kRunBytes bytes.
// - S1 and X1 need the low byte L of every intermediate A. L depends only on
//   the previous L and the data byte: L_i = 233 L_(i-1) + b_i (mod 256).
//   Within a 16-byte block, L_i = 233^i L_0 + c_i, where c_i is the same
//   chain started from 0 and depends on the block's bytes alone; it is a
//   prefix scan, computed in a few vector steps. The powers of 233 mod 256
//   are small (233^2 = 17, 233^4 = 33, 233^8 = 65, 233^16 = 129), so the
//   only chain left from block to block is L_0' = 129 L_0 + c_16, and the
//   term 233^i L_0 comes from a table (low_step).
// - L_0 only counts mod 128. With 128 more, each of the block's sixteen low
//   bytes gets 128 * 233^i more, that is 128 (233^i is odd): the top bit of
//   all sixteen flips, which changes neither their sum mod 256 nor their
//   exclusive-or. And 129 = 1 (mod 128), so the kernels carry
//   L_0' = L_0 + c_16 instead. A itself is summed apart, in full.
// - The AVX2 and AVX-512 kernels start from pair digests: vpmaddubsw of the
//   bytes (as b - 128) with (233, 1) gives 233 b0 + b1 - 29952 exactly,
//   which is both the pair's share of A (the pair's two weights are 233 w
//   and w) and, since 29952 = 117 * 256, the low-byte chain over the pair.
// - The AVX-512 kernel takes four blocks per step and keeps L in a vector
//   rather than looking its multiples up for each block. Block k of a step
//   starts from L_k = 129^k L + sum over j < k of 129^(k-1-j) e_j
//   (mod 256), where e_j is the last chain value of block j; mod 128 that
//   is L plus a running sum of the e_j across the lanes, and L for the next
//   step is L plus the sum over all four blocks: one vector add from step
//   to step.
#ifndef PAYLOAD_ENTRY_CHECKSUM_KERNELS_H_
#define PAYLOAD_ENTRY_CHECKSUM_KERNELS_H_

#include <stddef.h>
#include <stdint.h>

#include "payload/entry_checksum.h"

// The kernels take blocks of kBlockBytes, and fold the sum of A in once per
// run of up to kRunBlocks blocks.
const size_t kBlockBytes = 16;
const size_t kRunBlocks = 16;
const size_t kRunBytes = kBlockBytes * kRunBlocks;
const size_t kRunPairs = kRunBytes / 2;
static_assert(kRunBlocks % 4 == 0, "the AVX-512 kernel's runs are whole steps");

// The bias that the pair digests carry (above).
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
// block step compiled for AVX2, which would only make the program larger.
size_t UpdateChecksumAvx2(const KernelTables& tables, EntryChecksum* sum,
                          const uint8_t* data, size_t length);

// Takes whole steps of four blocks, leaving fewer than 4 * kBlockBytes for
// the AVX2 and SSE2 kernels. kRunBlocks must be a multiple of four.
size_t UpdateChecksumAvx512(const KernelTables& tables, EntryChecksum* sum,
                            const uint8_t* data, size_t length);

#endif  // PAYLOAD_ENTRY_CHECKSUM_KERNELS_H_
