// The AVX2 kernel of EntryChecksum: two 16-byte blocks per step, one in each
// 128-bit half, from pair digests (see entry_checksum_kernels.h for how); an
// odd last block is left to the SSE2 kernel. Compiled with AVX2 enabled, and
// run only on processors that have it and systems that save its registers;
// on 32-bit x86 its entry realigns the stack, which 32-bit Windows keeps
// aligned to 4 bytes only.
#include <immintrin.h>

#include "payload/entry_checksum_block.h"
#include "payload/entry_checksum_kernels.h"

namespace {

struct Avx2Sums {
  __m256i s1, x1, s2, x2;
};

inline __m256i Load256(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// c over each of the two blocks from their pair digests: scan the pairs'
// chain values (high bytes) by 1, 2 and 4 lanes within each half, then the
// even bytes.
inline __m256i DoubleBlockChain(__m256i v, __m256i pairs) {
  __m256i h = _mm256_slli_epi16(pairs, 8);
  h = _mm256_add_epi16(
      h, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 2), _mm256_set1_epi16(17)));
  h = _mm256_add_epi16(
      h, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 4), _mm256_set1_epi16(33)));
  h = _mm256_add_epi16(
      h, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 8), _mm256_set1_epi16(65)));
  __m256i e = _mm256_add_epi16(
      v, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 1), _mm256_set1_epi16(233)));
  return _mm256_or_si256(h, _mm256_and_si256(e, _mm256_set1_epi16(0x00FF)));
}

// Two blocks from the low byte *low before them: data sums, the weights of
// pair digests starting at pair q, and the low bytes of A.
inline void Avx2DoubleBlock(const KernelTables& t, const uint8_t* data,
                            size_t q, uint32_t* low, Avx2Sums* sums,
                            __m256i* weighted_low, __m256i* weighted_high) {
  __m256i v = Load256(data);
  sums->s2 = _mm256_add_epi8(sums->s2, v);
  sums->x2 = _mm256_xor_si256(sums->x2, v);
  __m256i pairs = _mm256_maddubs_epi16(
      _mm256_set1_epi16(0x01E9),
      _mm256_xor_si256(v, _mm256_set1_epi8(static_cast<char>(0x80))));
  *weighted_low = _mm256_add_epi32(
      *weighted_low, _mm256_madd_epi16(pairs, Load256(t.low_odd + q)));
  *weighted_high = _mm256_add_epi16(
      *weighted_high, _mm256_mullo_epi16(pairs, Load256(t.high_odd + q)));
  __m256i c = DoubleBlockChain(v, pairs);
  // The last c of each block.
  uint32_t first = static_cast<uint8_t>(_mm256_extract_epi8(c, 15));
  uint32_t second = static_cast<uint8_t>(_mm256_extract_epi8(c, 31));
  // L only counts mod 128 (see entry_checksum_kernels.h), where 129 L = L.
  uint32_t second_low = (*low + first) & 0xFFu;
  __m256i step =
      _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(t.low_step[*low])),
                              Load128(t.low_step[second_low]), 1);
  __m256i l = _mm256_add_epi8(c, step);
  sums->s1 = _mm256_add_epi8(sums->s1, l);
  sums->x1 = _mm256_xor_si256(sums->x1, l);
  *low = (*low + first + second) & 0xFFu;
}

inline __m128i Halves8(__m256i v) {
  return _mm_add_epi8(_mm256_castsi256_si128(v),
                      _mm256_extracti128_si256(v, 1));
}

inline __m128i HalvesXor(__m256i v) {
  return _mm_xor_si128(_mm256_castsi256_si128(v),
                       _mm256_extracti128_si256(v, 1));
}

}  // namespace

size_t UpdateChecksumAvx2(const KernelTables& tables, EntryChecksum* sum,
                          const uint8_t* data, size_t length) {
  size_t blocks = length / (2 * kBlockBytes) * 2;
  __m256i zero = _mm256_setzero_si256();
  Avx2Sums wide = {zero, zero, zero, zero};
  uint32_t a = sum->a;
  while (blocks > 0) {
    PrefetchAhead(data);
    size_t m = blocks < kRunBlocks ? blocks : kRunBlocks;
    size_t q = (kRunBlocks - m) * kBlockBytes / 2;
    __m256i weighted_low = zero, weighted_high = zero;
    uint32_t low = a & 0xFFu;
    for (size_t k = 0; k < m; k += 2) {
      Avx2DoubleBlock(tables, data, q, &low, &wide, &weighted_low,
                      &weighted_high);
      data += 2 * kBlockBytes;
      q += kBlockBytes;
    }
    __m128i run_low = _mm_add_epi32(_mm256_castsi256_si128(weighted_low),
                                    _mm256_extracti128_si256(weighted_low, 1));
    __m128i run_high =
        _mm_add_epi16(_mm256_castsi256_si128(weighted_high),
                      _mm256_extracti128_si256(weighted_high, 1));
    a = a * tables.run_factor[m] + RunWeightedSum(run_low, run_high) +
        tables.pair_bias[m];
    blocks -= m;
  }
  sum->a = a;
  Sse2Sums narrow = {Halves8(wide.s1), HalvesXor(wide.x1), Halves8(wide.s2),
                     HalvesXor(wide.x2)};
  FoldSums(narrow, sum);
  // SSE2 code without VEX runs next (the SSE2 kernel, the C library), and
  // some processors slow it down while the upper halves are in use.
  // Compilers optimizing for size leave this out.
  _mm256_zeroupper();
  return length / (2 * kBlockBytes) * (2 * kBlockBytes);
}
