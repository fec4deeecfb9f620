// The SSE2 kernel of EntryChecksum: one 16-byte block per step (see
// entry_checksum_kernels.h for how). Compiled with SSE2 enabled, and run only
// on processors that have it; on 32-bit x86 its entry realigns the stack, which
// 32-bit Windows keeps aligned to 4 bytes only.
#include <emmintrin.h>

#include "payload/entry_checksum_block.h"
#include "payload/entry_checksum_kernels.h"

size_t UpdateChecksumSse2(const KernelTables& tables, EntryChecksum* sum,
                          const uint8_t* data, size_t length) {
  size_t blocks = length / kBlockBytes;
  __m128i zero = _mm_setzero_si128();
  Sse2Sums sums = {zero, zero, zero, zero};
  uint32_t a = sum->a;
  while (blocks > 0) {
    PrefetchAhead(data);
    size_t m = blocks < kRunBlocks ? blocks : kRunBlocks;
    size_t q = (kRunBlocks - m) * kBlockBytes / 2;
    __m128i weighted_low = zero, weighted_high = zero;
    uint32_t low = a & 0xFFu;
    for (size_t k = 0; k < m; k++) {
      Sse2Block(tables, data, q, &low, &sums, &weighted_low, &weighted_high);
      data += kBlockBytes;
      q += kBlockBytes / 2;
    }
    a = a * tables.run_factor[m] + RunWeightedSum(weighted_low, weighted_high);
    blocks -= m;
  }
  sum->a = a;
  FoldSums(sums, sum);
  return length / kBlockBytes * kBlockBytes;
}
