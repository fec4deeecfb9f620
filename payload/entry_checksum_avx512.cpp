// The AVX-512 kernel of EntryChecksum: four 16-byte blocks per step, one in
// each 128-bit lane, with L carried in a vector from step to step (see
// entry_checksum_kernels.h for the scheme). Compiled with AVX-512 F and BW
// enabled, and run only on processors that have them and systems that save
// the ZMM registers; what is left over, fewer than four blocks, is for the
// AVX2 and SSE2 kernels.
//
// The pair digests and the chain within each block are those of the AVX2
// kernel. What differs is how each block gets the low byte L before it: the
// SSE2 and AVX2 kernels carry L from block to block in a general register
// and look its multiples up in a table, which costs as much as the rest of
// the step. Here each lane starts from L plus the running sum of the last
// chain values of the lanes before it.
#include <immintrin.h>

#include "payload/entry_checksum_block.h"
#include "payload/entry_checksum_kernels.h"

namespace {

const size_t kStepBytes = 4 * kBlockBytes;

// vpternlog's truth table for A | (B & C), with A, B and C its operands in
// order.
const int kAOrBAndC = 0xF8;

inline __m512i Load512(const void* p) { return _mm512_loadu_si512(p); }

inline __m512i Bytes(int byte) {
  return _mm512_set1_epi8(static_cast<char>(byte));
}

inline __m512i Words(int word) {
  return _mm512_set1_epi16(static_cast<short>(word));
}

// The lanes moved up by one (lane 0 cleared) and by two (lanes 0 and 1).
inline __m512i LanesUpOne(__m512i x) {
  return _mm512_maskz_shuffle_i64x2(0xFC, x, x, _MM_SHUFFLE(2, 1, 0, 0));
}

inline __m512i LanesUpTwo(__m512i x) {
  return _mm512_maskz_shuffle_i64x2(0xF0, x, x, _MM_SHUFFLE(1, 0, 0, 0));
}

// c over each of the four blocks from their pair digests, as in the AVX2
// kernel: the pairs' chain values (high bytes) scanned by 1, 2 and 4 lanes,
// then the even bytes.
inline __m512i QuadBlockChain(__m512i v, __m512i pairs) {
  __m512i h = _mm512_slli_epi16(pairs, 8);
  h = _mm512_add_epi16(
      h, _mm512_mullo_epi16(_mm512_bslli_epi128(h, 2), Words(17)));
  h = _mm512_add_epi16(
      h, _mm512_mullo_epi16(_mm512_bslli_epi128(h, 4), Words(33)));
  h = _mm512_add_epi16(
      h, _mm512_mullo_epi16(_mm512_bslli_epi128(h, 8), Words(65)));
  __m512i e = _mm512_add_epi16(
      v, _mm512_mullo_epi16(_mm512_bslli_epi128(h, 1), Words(233)));
  return _mm512_ternarylogic_epi32(h, e, Words(0x00FF), kAOrBAndC);
}

// The powers 233^(i+1) mod 256 of each byte position of a block, apart for
// even and odd positions.
struct Avx512Constants {
  __m512i power_even;  // the even positions' powers in the low bytes
  __m512i power_odd;   // the odd positions' powers in the high bytes
};

// Low bytes of A for the four blocks: c plus 233^(i+1) L_k, where every
// byte of lane k of start holds L_k (mod 128). Since both bytes of each 16-bit
// word of start are equal, one multiply gives each half its product.
inline __m512i LowBytes(const Avx512Constants& k, __m512i c, __m512i start) {
  __m512i even = _mm512_mullo_epi16(start, k.power_even);
  __m512i odd = _mm512_mullo_epi16(start, k.power_odd);
  return _mm512_add_epi8(
      c, _mm512_ternarylogic_epi32(odd, even, Words(0x00FF), kAOrBAndC));
}

struct Avx512Sums {
  __m512i s1, x1, s2, x2;
  __m512i weighted_low, weighted_high;
};

// The part of a step of four blocks that needs only its bytes: the data
// sums, the weights of its pair digests starting at pair q, the chain c
// within each block, and in lane k the sum of e_j over j <= k.
inline void QuadBlockData(const KernelTables& t, const uint8_t* data, size_t q,
                          Avx512Sums* sums, __m512i* c, __m512i* scan) {
  __m512i v = Load512(data);
  sums->s2 = _mm512_add_epi8(sums->s2, v);
  sums->x2 = _mm512_xor_si512(sums->x2, v);
  __m512i pairs =
      _mm512_maddubs_epi16(Words(0x01E9), _mm512_xor_si512(v, Bytes(0x80)));
  sums->weighted_low = _mm512_add_epi32(
      sums->weighted_low, _mm512_madd_epi16(pairs, Load512(t.low_odd + q)));
  sums->weighted_high = _mm512_add_epi16(
      sums->weighted_high, _mm512_mullo_epi16(pairs, Load512(t.high_odd + q)));
  *c = QuadBlockChain(v, pairs);
  __m512i x = _mm512_shuffle_epi8(*c, Bytes(15));
  x = _mm512_add_epi8(x, LanesUpOne(x));
  *scan = _mm512_add_epi8(x, LanesUpTwo(x));
}

// The rest of the step: the low bytes of A from *start, which holds the low
// byte before the step (mod 128) in all its bytes and is moved on past it.
inline void QuadBlockLow(const Avx512Constants& k, __m512i c, __m512i scan,
                         __m512i* start, Avx512Sums* sums) {
  __m512i l = LowBytes(k, c, _mm512_add_epi8(*start, LanesUpOne(scan)));
  sums->s1 = _mm512_add_epi8(sums->s1, l);
  sums->x1 = _mm512_xor_si512(sums->x1, l);
  __m512i advance = _mm512_shuffle_i64x2(scan, scan, _MM_SHUFFLE(3, 3, 3, 3));
  *start = _mm512_add_epi8(*start, advance);
}

// How FoldLanes combines lanes.
enum LaneFold { kAddBytes, kAddWords, kAddDwords, kXorBytes };

inline __m512i Combine(LaneFold fold, __m512i a, __m512i b) {
  switch (fold) {
    case kAddBytes:
      return _mm512_add_epi8(a, b);
    case kAddWords:
      return _mm512_add_epi16(a, b);
    case kAddDwords:
      return _mm512_add_epi32(a, b);
    default:
      return _mm512_xor_si512(a, b);
  }
}

// The four 128-bit lanes combined into one, in vectors, which wrap: no
// _mm512_reduce_add_epi32, which sums in signed ints that overflow.
inline __m128i FoldLanes(__m512i v, LaneFold fold) {
  v = Combine(fold, v, _mm512_shuffle_i64x2(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = Combine(fold, v, _mm512_shuffle_i64x2(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm512_castsi512_si128(v);
}

}  // namespace

size_t UpdateChecksumAvx512(const KernelTables& tables, EntryChecksum* sum,
                            const uint8_t* data, size_t length) {
  size_t blocks = length / kStepBytes * 4;
  __m512i power = _mm512_broadcast_i32x4(_mm_loadu_si128(
      reinterpret_cast<const __m128i*>(tables.low_step[1])));  // 233^(i+1) * 1
  Avx512Constants k = {
      _mm512_and_si512(power, Words(0x00FF)),
      _mm512_and_si512(power, Words(static_cast<short>(0xFF00)))};
  __m512i zero = _mm512_setzero_si512();
  Avx512Sums sums = {zero, zero, zero, zero, zero, zero};
  uint32_t a = sum->a;
  while (blocks > 0) {
    // kRunBlocks is a multiple of four, so every run is whole steps.
    PrefetchAhead(data);
    size_t m = blocks < kRunBlocks ? blocks : kRunBlocks;
    size_t q = (kRunBlocks - m) * kBlockBytes / 2;
    sums.weighted_low = zero;
    sums.weighted_high = zero;
    __m512i start = Bytes(a & 0xFFu);
    // Two steps at a time, their byte-only parts first: each step's chain
    // is long, and the two can then overlap.
    size_t n = 0;
    for (; n + 8 <= m; n += 8) {
      __m512i c0, scan0, c1, scan1;
      QuadBlockData(tables, data, q, &sums, &c0, &scan0);
      QuadBlockData(tables, data + kStepBytes, q + kStepBytes / 2, &sums, &c1,
                    &scan1);
      QuadBlockLow(k, c0, scan0, &start, &sums);
      QuadBlockLow(k, c1, scan1, &start, &sums);
      data += 2 * kStepBytes;
      q += kStepBytes;
    }
    for (; n < m; n += 4) {
      __m512i c, scan;
      QuadBlockData(tables, data, q, &sums, &c, &scan);
      QuadBlockLow(k, c, scan, &start, &sums);
      data += kStepBytes;
      q += kStepBytes / 2;
    }
    a = a * tables.run_factor[m] +
        RunWeightedSum(FoldLanes(sums.weighted_low, kAddDwords),
                       FoldLanes(sums.weighted_high, kAddWords)) +
        tables.pair_bias[m];
    blocks -= m;
  }
  sum->a = a;
  Sse2Sums narrow = {
      FoldLanes(sums.s1, kAddBytes), FoldLanes(sums.x1, kXorBytes),
      FoldLanes(sums.s2, kAddBytes), FoldLanes(sums.x2, kXorBytes)};
  FoldSums(narrow, sum);
  // As after the AVX2 kernel: SSE2 code without VEX may run next.
  _mm256_zeroupper();
  return length / kStepBytes * kStepBytes;
}
