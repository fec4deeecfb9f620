// EntryChecksum, by the definition (one byte per step) and by kernels that
// take 16 bytes per step.
//
// The byte loop is held back by its chain: A = A * 233 + b must finish before
// the next byte can start. The kernels split the work:
//
// - S2 and X2 see only the data bytes: byte-wise sums and exclusive-ors.
// - A over a run of n bytes is A * 233^n + sum of b_i * 233^(n-1-i)
//   (mod 2^32): a dot product with fixed weights, folded in once per run of
//   up to 256 bytes.
// - S1 and X1 need the low byte L of every intermediate A. L depends only on
//   the previous L and the data byte: L_i = 233 L_(i-1) + b_i (mod 256).
//   Within a 16-byte block, L_i = 233^i L_0 + c_i, where c_i is the same
//   chain started from 0 and depends on the block's bytes alone; it is a
//   prefix scan, computed in a few vector steps. The powers of 233 mod 256
//   are small (233^2 = 17, 233^4 = 33, 233^8 = 65, 233^16 = 129), so the
//   only chain left from block to block is L_0' = 129 L_0 + c_16, and the
//   term 233^i L_0 comes from a table.
#include <string.h>

#include <atomic>
#include <new>

#include "payload/verification_list.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define UPDATER_X86_KERNELS 1
#endif

namespace {

const size_t kBlockBytes = 16;
const size_t kRunBlocks = 16;
const size_t kRunBytes = kBlockBytes * kRunBlocks;
const size_t kRunPairs = kRunBytes / 2;

void UpdateByteLoop(EntryChecksum* sum, const uint8_t* data, size_t length) {
  uint32_t a = sum->a;
  uint8_t s1 = sum->s1, x1 = sum->x1, s2 = sum->s2, x2 = sum->x2;
  for (size_t i = 0; i < length; i++) {
    uint8_t b = data[i];
    a = a * 233u + b;
    uint8_t low = static_cast<uint8_t>(a);
    s1 = static_cast<uint8_t>(s1 + low);
    x1 ^= low;
    s2 = static_cast<uint8_t>(s2 + b);
    x2 ^= b;
  }
  sum->a = a;
  sum->s1 = s1;
  sum->x1 = x1;
  sum->s2 = s2;
  sum->x2 = x2;
}

#ifdef UPDATER_X86_KERNELS

// Weights of a run: the byte at position p of a run of kRunBytes counts
// 233^(kRunBytes - 1 - p); a shorter run of n bytes uses the last n weights.
// The bytes are taken in pairs (even and odd positions apart), and each
// weight is split into 16-bit halves so that SSE2's multiplies can use it:
// weight = high * 65536 + low, low taken as signed.
struct Tables {
  uint8_t low_step[256][kBlockBytes];  // [L][i]: 233^(i+1) * L mod 256
  int16_t low_even[kRunPairs];
  int16_t low_odd[kRunPairs];
  uint16_t high_even[kRunPairs];
  uint16_t high_odd[kRunPairs];
  uint32_t run_factor[kRunBlocks + 1];  // [m]: 233^(16 m) mod 2^32
  uint32_t pair_bias[kRunBlocks + 1];
};

// The pair digests of the AVX2 kernel carry a bias (see there).
const short kPairBias = 29952;

// Made once, before any kernel runs (see Features), and kept for the rest of
// the process: on the heap, not in the program file, where it would take
// 5 KB.
const Tables* g_tables = nullptr;

void FillTables(Tables* t) {
  uint32_t power[kRunBytes + 1];
  power[0] = 1;
  for (size_t n = 1; n <= kRunBytes; n++) power[n] = power[n - 1] * 233u;
  for (uint32_t low = 0; low < 256; low++) {
    for (size_t i = 0; i < kBlockBytes; i++) {
      t->low_step[low][i] = static_cast<uint8_t>(power[i + 1] * low);
    }
  }
  for (size_t p = 0; p < kRunBytes; p++) {
    uint32_t w = power[kRunBytes - 1 - p];
    uint32_t low = w & 0xFFFFu;
    uint32_t high = (w >> 16) + (low >= 0x8000u ? 1 : 0);  // low - 65536
    int16_t signed_low = static_cast<int16_t>(
        low >= 0x8000u ? static_cast<int32_t>(low) - 0x10000
                       : static_cast<int32_t>(low));
    (p % 2 == 0 ? t->low_even : t->low_odd)[p / 2] = signed_low;
    (p % 2 == 0 ? t->high_even : t->high_odd)[p / 2] =
        static_cast<uint16_t>(high);
  }
  for (size_t m = 0; m <= kRunBlocks; m++) {
    t->run_factor[m] = power[m * kBlockBytes];
    // The bias of the pairs of the last m blocks of a run, at their weights.
    uint32_t bias = 0;
    for (size_t p = kRunBytes - m * kBlockBytes + 1; p < kRunBytes; p += 2) {
      bias += power[kRunBytes - 1 - p] * static_cast<uint32_t>(kPairBias);
    }
    t->pair_bias[m] = bias;
  }
}

// 233 * 256: multiplying a 16-bit lane (b0 + 256 b1) by it leaves
// 233 b0 mod 256 in the high byte.
const short kPairStep = static_cast<short>(0xE900);

#define SSE2_FUNCTION __attribute__((target("sse2")))
#define AVX2_FUNCTION __attribute__((target("avx2")))
// 32-bit Windows keeps the stack aligned to 4 bytes only, and the vectors
// the kernels keep on it must be aligned to their size.
#define KERNEL_ENTRY __attribute__((force_align_arg_pointer))

SSE2_FUNCTION inline __m128i Load128(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

AVX2_FUNCTION inline __m256i Load256(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

// The running sums of one kernel call, folded into EntryChecksum at its end.
struct Sse2Sums {
  __m128i s1, x1, s2, x2;
};

// c_i for one block: the low-byte chain over its 16 bytes started from 0.
SSE2_FUNCTION inline __m128i BlockChain(__m128i v) {
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
SSE2_FUNCTION inline void BlockWeights(__m128i v, size_t q, __m128i* low,
                                       __m128i* high) {
  const Tables& t = *g_tables;
  __m128i even = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
  __m128i odd = _mm_srli_epi16(v, 8);
  *low = _mm_add_epi32(*low, _mm_madd_epi16(even, Load128(t.low_even + q)));
  *low = _mm_add_epi32(*low, _mm_madd_epi16(odd, Load128(t.low_odd + q)));
  *high = _mm_add_epi16(*high, _mm_mullo_epi16(even, Load128(t.high_even + q)));
  *high = _mm_add_epi16(*high, _mm_mullo_epi16(odd, Load128(t.high_odd + q)));
}

// The weighted sum of a run from its two halves' running sums.
SSE2_FUNCTION inline uint32_t RunWeightedSum(__m128i low, __m128i high) {
  // Only the low 16 bits of the sum of the high halves count.
  __m128i total = _mm_add_epi32(
      low, _mm_slli_epi32(_mm_madd_epi16(high, _mm_set1_epi16(1)), 16));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0x4E));
  total = _mm_add_epi32(total, _mm_shuffle_epi32(total, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(total));
}

// One block: the data sums, the weights, and the low bytes from L_0 = *low.
SSE2_FUNCTION inline void Sse2Block(const uint8_t* data, size_t q,
                                    uint32_t* low, Sse2Sums* sums,
                                    __m128i* weighted_low,
                                    __m128i* weighted_high) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
  sums->s2 = _mm_add_epi8(sums->s2, v);
  sums->x2 = _mm_xor_si128(sums->x2, v);
  BlockWeights(v, q, weighted_low, weighted_high);
  __m128i c = BlockChain(v);
  __m128i l = _mm_add_epi8(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                  g_tables->low_step[*low])));
  sums->s1 = _mm_add_epi8(sums->s1, l);
  sums->x1 = _mm_xor_si128(sums->x1, l);
  uint32_t c_last = static_cast<uint32_t>(_mm_extract_epi16(c, 7)) >> 8;
  *low = (*low * 129u + c_last) & 0xFFu;
}

SSE2_FUNCTION inline uint8_t ByteSum(__m128i v) {
  __m128i s = _mm_sad_epu8(v, _mm_setzero_si128());
  s = _mm_add_epi64(s, _mm_srli_si128(s, 8));
  return static_cast<uint8_t>(_mm_cvtsi128_si32(s));
}

SSE2_FUNCTION inline uint8_t ByteXor(__m128i v) {
  v = _mm_xor_si128(v, _mm_srli_si128(v, 8));
  v = _mm_xor_si128(v, _mm_srli_si128(v, 4));
  v = _mm_xor_si128(v, _mm_srli_si128(v, 2));
  v = _mm_xor_si128(v, _mm_srli_si128(v, 1));
  return static_cast<uint8_t>(_mm_cvtsi128_si32(v));
}

SSE2_FUNCTION inline void FoldSums(const Sse2Sums& sums, EntryChecksum* sum) {
  sum->s1 = static_cast<uint8_t>(sum->s1 + ByteSum(sums.s1));
  sum->x1 ^= ByteXor(sums.x1);
  sum->s2 = static_cast<uint8_t>(sum->s2 + ByteSum(sums.s2));
  sum->x2 ^= ByteXor(sums.x2);
}

// Whole blocks only; returns the bytes taken.
KERNEL_ENTRY SSE2_FUNCTION size_t UpdateSse2(EntryChecksum* sum,
                                             const uint8_t* data,
                                             size_t length) {
  size_t blocks = length / kBlockBytes;
  __m128i zero = _mm_setzero_si128();
  Sse2Sums sums = {zero, zero, zero, zero};
  uint32_t a = sum->a;
  while (blocks > 0) {
    size_t m = blocks < kRunBlocks ? blocks : kRunBlocks;
    size_t q = (kRunBlocks - m) * kBlockBytes / 2;
    __m128i weighted_low = zero, weighted_high = zero;
    uint32_t low = a & 0xFFu;
    for (size_t k = 0; k < m; k++) {
      Sse2Block(data, q, &low, &sums, &weighted_low, &weighted_high);
      data += kBlockBytes;
      q += kBlockBytes / 2;
    }
    a = a * g_tables->run_factor[m] +
        RunWeightedSum(weighted_low, weighted_high);
    blocks -= m;
  }
  sum->a = a;
  FoldSums(sums, sum);
  return length / kBlockBytes * kBlockBytes;
}

// The AVX2 kernel takes two blocks per step, one in each 128-bit half, and
// starts from pair digests: vpmaddubsw of the bytes (as b - 128) with
// (233, 1) gives 233 b0 + b1 - 29952 exactly, which is both the pair's share
// of A (the pair's two weights are 233 w and w) and, since 29952 = 117 * 256,
// the low-byte chain over the pair.
struct Avx2Sums {
  __m256i s1, x1, s2, x2;
};

// Two blocks from the low byte *low before them: data sums, the weights of
// pair digests starting at pair q, and the low bytes of A.
AVX2_FUNCTION inline void Avx2DoubleBlock(const uint8_t* data, size_t q,
                                          uint32_t* low, Avx2Sums* sums,
                                          __m256i* weighted_low,
                                          __m256i* weighted_high) {
  const Tables& t = *g_tables;
  __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
  sums->s2 = _mm256_add_epi8(sums->s2, v);
  sums->x2 = _mm256_xor_si256(sums->x2, v);
  __m256i pairs = _mm256_maddubs_epi16(
      _mm256_set1_epi16(0x01E9),
      _mm256_xor_si256(v, _mm256_set1_epi8(static_cast<char>(0x80))));
  *weighted_low = _mm256_add_epi32(
      *weighted_low, _mm256_madd_epi16(pairs, Load256(t.low_odd + q)));
  *weighted_high = _mm256_add_epi16(
      *weighted_high, _mm256_mullo_epi16(pairs, Load256(t.high_odd + q)));
  // c over each block: scan the pairs' chain values (high bytes) by 1, 2
  // and 4 lanes within each half, then the even bytes.
  __m256i h = _mm256_slli_epi16(pairs, 8);
  h = _mm256_add_epi16(
      h, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 2), _mm256_set1_epi16(17)));
  h = _mm256_add_epi16(
      h, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 4), _mm256_set1_epi16(33)));
  h = _mm256_add_epi16(
      h, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 8), _mm256_set1_epi16(65)));
  __m256i e = _mm256_add_epi16(
      v, _mm256_mullo_epi16(_mm256_bslli_epi128(h, 1), _mm256_set1_epi16(233)));
  __m256i c =
      _mm256_or_si256(h, _mm256_and_si256(e, _mm256_set1_epi16(0x00FF)));
  // The last c of each block.
  uint32_t first = static_cast<uint8_t>(_mm256_extract_epi8(c, 15));
  uint32_t second = static_cast<uint8_t>(_mm256_extract_epi8(c, 31));
  uint32_t second_low = (*low ^ ((*low & 1u) << 7)) + first;  // 129 low
  second_low &= 0xFFu;
  __m256i step = _mm256_inserti128_si256(
      _mm256_castsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.low_step[*low]))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.low_step[second_low])),
      1);
  __m256i l = _mm256_add_epi8(c, step);
  sums->s1 = _mm256_add_epi8(sums->s1, l);
  sums->x1 = _mm256_xor_si256(sums->x1, l);
  // 129^2 = 1 (mod 256): after two blocks, low + 129 c_first + c_second.
  *low = (*low + (first ^ ((first & 1u) << 7)) + second) & 0xFFu;
}

AVX2_FUNCTION inline __m128i Halves8(__m256i v) {
  return _mm_add_epi8(_mm256_castsi256_si128(v),
                      _mm256_extracti128_si256(v, 1));
}

AVX2_FUNCTION inline __m128i HalvesXor(__m256i v) {
  return _mm_xor_si128(_mm256_castsi256_si128(v),
                       _mm256_extracti128_si256(v, 1));
}

// Whole blocks only; returns the bytes taken.
KERNEL_ENTRY AVX2_FUNCTION size_t UpdateAvx2(EntryChecksum* sum,
                                             const uint8_t* data,
                                             size_t length) {
  size_t blocks = length / kBlockBytes;
  __m256i zero = _mm256_setzero_si256();
  Avx2Sums wide = {zero, zero, zero, zero};
  __m128i zero128 = _mm_setzero_si128();
  Sse2Sums narrow = {zero128, zero128, zero128, zero128};
  uint32_t a = sum->a;
  while (blocks > 0) {
    size_t m = blocks < kRunBlocks ? blocks : kRunBlocks;
    size_t q = (kRunBlocks - m) * kBlockBytes / 2;
    __m256i weighted_low = zero, weighted_high = zero;
    uint32_t low = a & 0xFFu;
    for (size_t k = 0; k + 2 <= m; k += 2) {
      Avx2DoubleBlock(data, q, &low, &wide, &weighted_low, &weighted_high);
      data += 2 * kBlockBytes;
      q += kBlockBytes;
    }
    __m128i run_low = _mm_add_epi32(_mm256_castsi256_si128(weighted_low),
                                    _mm256_extracti128_si256(weighted_low, 1));
    __m128i run_high =
        _mm_add_epi16(_mm256_castsi256_si128(weighted_high),
                      _mm256_extracti128_si256(weighted_high, 1));
    if (m % 2 != 0) {  // only in the last run
      Sse2Block(data, q, &low, &narrow, &run_low, &run_high);
      data += kBlockBytes;
    }
    a = a * g_tables->run_factor[m] + RunWeightedSum(run_low, run_high) +
        g_tables->pair_bias[m] - g_tables->pair_bias[m % 2];
    blocks -= m;
  }
  sum->a = a;
  narrow.s1 = _mm_add_epi8(narrow.s1, Halves8(wide.s1));
  narrow.x1 = _mm_xor_si128(narrow.x1, HalvesXor(wide.x1));
  narrow.s2 = _mm_add_epi8(narrow.s2, Halves8(wide.s2));
  narrow.x2 = _mm_xor_si128(narrow.x2, HalvesXor(wide.x2));
  FoldSums(narrow, sum);
  return length / kBlockBytes * kBlockBytes;
}

const int kHasSse2 = 1;
const int kHasAvx2 = 2;
const int kFeaturesKnown = 4;

// Asks the processor, not libgcc's model of it, which would add 5 KB to the
// program. AVX2 also needs the system to save the YMM registers.
int AskFeatures() {
  unsigned a, b, c, d;
  int features = kFeaturesKnown;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return features;
  if (d & bit_SSE2) features |= kHasSse2;
  if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return features;
  unsigned xcr0, xcr0_high;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
  if ((xcr0 & 6) != 6) return features;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2)) {
    features |= kHasAvx2;
  }
  return features;
}

// Once per process, with the tables: cpuid is slow, and slower still under
// a hypervisor. The program has one thread; were there more, a race here
// would only make a spare copy of the tables.
int Features() {
  static std::atomic<int> known(0);
  int features = known.load(std::memory_order_acquire);
  if (features == 0) {
    Tables* tables = new (std::nothrow) Tables;
    if (tables == nullptr) return kFeaturesKnown;  // the byte loop only
    FillTables(tables);
    g_tables = tables;
    features = AskFeatures();
    known.store(features, std::memory_order_release);
  }
  return features;
}

#endif  // UPDATER_X86_KERNELS

}  // namespace

EntryChecksum NewEntryChecksum() {
  EntryChecksum sum;
  memset(&sum, 0, sizeof(sum));
  return sum;
}

int UpdateEntryChecksumWith(ChecksumKernel kernel, EntryChecksum* sum,
                            const uint8_t* data, size_t length) {
  size_t done = 0;
  switch (kernel) {
    case kKernelByteLoop:
      break;
#ifdef UPDATER_X86_KERNELS
    case kKernelSse2:
      if (!(Features() & kHasSse2)) return 0;
      done = UpdateSse2(sum, data, length);
      break;
    case kKernelAvx2:
      if (!(Features() & kHasAvx2)) return 0;
      done = UpdateAvx2(sum, data, length);
      break;
#endif
    default:
      return 0;
  }
  UpdateByteLoop(sum, data + done, length - done);
  return 1;
}

void UpdateEntryChecksum(EntryChecksum* sum, const uint8_t* data,
                         size_t length) {
  if (UpdateEntryChecksumWith(kKernelAvx2, sum, data, length)) return;
  if (UpdateEntryChecksumWith(kKernelSse2, sum, data, length)) return;
  UpdateByteLoop(sum, data, length);
}

EntryChecksum ComputeEntryChecksum(const uint8_t* data, size_t length) {
  EntryChecksum sum = NewEntryChecksum();
  UpdateEntryChecksum(&sum, data, length);
  return sum;
}
