// The 16-byte block step of the checksum kernels, in SSE2, and the folding
// of their byte sums into EntryChecksum, shared by the kernels.
//
// Each kernel file is compiled for its own instruction set, so each must
// keep its own copy of these functions: everything here has internal
// linkage. Were they inline functions with external linkage, the linker
// would keep one copy for the whole program, possibly the one compiled for
// AVX2, and the SSE2 kernel would then fault on processors without AVX2.
// Include this file only from the kernel files.
#ifndef PAYLOAD_ENTRY_CHECKSUM_BLOCK_H_
#define PAYLOAD_ENTRY_CHECKSUM_BLOCK_H_

#include <emmintrin.h>
#include <stddef.h>
#include <stdint.h>

#include "payload/entry_checksum_kernels.h"

namespace {

// 233 * 256: multiplying a 16-bit lane (b0 + 256 b1) by it leaves
// 233 b0 mod 256 in the high byte.
const short kPairStep = static_cast<short>(0xE900);

inline __m128i Load128(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// The hardware prefetchers fall behind these loops on some processors, over
// buffers larger than the cache (docs/performance.md has the
// figures). Each run asks for its cache lines four runs ahead. The address
// is formed as an integer, since it may lie past the end of the buffer: a
// prefetch never faults, but a pointer may not point there.
const size_t kPrefetchBytes = 1024;
const size_t kCacheLineBytes = 64;

inline void PrefetchAhead(const uint8_t* run) {
  uintptr_t ahead = reinterpret_cast<uintptr_t>(run) + kPrefetchBytes;
  for (size_t line = 0; line < kRunBytes; line += kCacheLineBytes) {
    _mm_prefetch(reinterpret_cast<const char*>(ahead + line), _MM_HINT_T0);
  }
}

// The running sums of one kernel call, folded into EntryChecksum at its end.
struct Sse2Sums {
  __m128i s1, x1, s2, x2;
};

// c_i for one block: the low-byte chain over its 16 bytes started from 0.
inline __m128i BlockChain(__m128i v) {
  // The high byte of each 16-bit lane becomes the chain over its pair,
  // 233 b0 + b1; the low byte keeps b0.
  __m128i y = _mm_add_epi16(v, _mm_mullo_epi16(v, _mm_set1_epi16(kPairStep)));
  // Scan the pairs, high bytes only, by 1, 2 and 4 lanes: 233^2, ^4, ^8.
  __m128i h = _mm_and_si128(y, _mm_set1_epi16(static_cast<short>(0xFF00)));
  h = _mm_add_epi16(h,
                    _mm_mullo_epi16(_mm_slli_si128(h, 2), _mm_set1_epi16(17)));
  h = _mm_add_epi16(h,
                    _mm_mullo_epi16(_mm_slli_si128(h, 4), _mm_set1_epi16(33)));
  h = _mm_add_epi16(h,
                    _mm_mullo_epi16(_mm_slli_si128(h, 8), _mm_set1_epi16(65)));
  // Each even byte follows the odd byte before it: 233 c + b0.
  __m128i e = _mm_add_epi16(
      y, _mm_mullo_epi16(_mm_slli_si128(h, 1), _mm_set1_epi16(233)));
  return _mm_or_si128(h, _mm_and_si128(e, _mm_set1_epi16(0x00FF)));
}

// Adds one block's bytes times their weights (starting at pair q) into the
// 32-bit sums of the low halves and the 16-bit sums of the high halves.
inline void BlockWeights(const KernelTables& t, __m128i v, size_t q,
                         __m128i* low, __m128i* high) {
  __m128i even = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
  __m128i odd = _mm_srli_epi16(v, 8);
  *low = _mm_add_epi32(*low, _mm_madd_epi16(even, Load128(t.low_even + q)));
  *low = _mm_add_epi32(*low, _mm_madd_epi16(odd, Load128(t.low_odd + q)));
  *high = _mm_add_epi16(*high, _mm_mullo_epi16(even, Load128(t.high_even + q)));
  *high = _mm_add_epi16(*high, _mm_mullo_epi16(odd, Load128(t.high_odd + q)));
}

// The weighted sum of a run from its two halves' running sums.
inline uint32_t RunWeightedSum(__m128i low, __m128i high) {
  // Only the low 16 bits of the sum of the high halves count.
  __m128i total = _mm_add_epi32(
      low, _mm_slli_epi32(_mm_madd_epi16(high, _mm_set1_epi16(1)), 16));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(total));
}

// One block: the data sums, the weights, and the low bytes from L_0 = *low.
inline void Sse2Block(const KernelTables& t, const uint8_t* data, size_t q,
                      uint32_t* low, Sse2Sums* sums, __m128i* weighted_low,
                      __m128i* weighted_high) {
  __m128i v = Load128(data);
  sums->s2 = _mm_add_epi8(sums->s2, v);
  sums->x2 = _mm_xor_si128(sums->x2, v);
  BlockWeights(t, v, q, weighted_low, weighted_high);
  __m128i c = BlockChain(v);
  __m128i l = _mm_add_epi8(c, Load128(t.low_step[*low]));
  sums->s1 = _mm_add_epi8(sums->s1, l);
  sums->x1 = _mm_xor_si128(sums->x1, l);
  uint32_t c_last = static_cast<uint32_t>(_mm_extract_epi16(c, 7)) >> 8;
  // 129 L, taken mod 128 (entry_checksum_kernels.h tells why).
  *low = (*low + c_last) & 0xFFu;
}

inline uint8_t ByteSum(__m128i v) {
  __m128i s = _mm_sad_epu8(v, _mm_setzero_si128());
  s = _mm_add_epi64(s, _mm_srli_si128(s, 8));
  return static_cast<uint8_t>(_mm_cvtsi128_si32(s));
}

inline uint8_t ByteXor(__m128i v) {
  v = _mm_xor_si128(v, _mm_srli_si128(v, 8));
  v = _mm_xor_si128(v, _mm_srli_si128(v, 4));
  v = _mm_xor_si128(v, _mm_srli_si128(v, 2));
  v = _mm_xor_si128(v, _mm_srli_si128(v, 1));
  return static_cast<uint8_t>(_mm_cvtsi128_si32(v));
}

inline void FoldSums(const Sse2Sums& sums, EntryChecksum* sum) {
  sum->s1 = static_cast<uint8_t>(sum->s1 + ByteSum(sums.s1));
  sum->x1 ^= ByteXor(sums.x1);
  sum->s2 = static_cast<uint8_t>(sum->s2 + ByteSum(sums.s2));
  sum->x2 ^= ByteXor(sums.x2);
}

}  // namespace

#endif  // PAYLOAD_ENTRY_CHECKSUM_BLOCK_H_
