// The processor's features on x86, asked with cpuid and xgetbv as GCC and
// Clang spell them, not through libgcc's model of the processor, which
// would make the program larger. cpuid is slow, slower still under a
// hypervisor: callers ask once.
#include <cpuid.h>

#include "platform/cpu.h"

namespace {

// XCR0 bits 1 and 2: the system saves the XMM and the YMM registers; bits 5
// to 7: the mask registers and the upper ZMM ones.
const unsigned kXcr0XmmYmm = 6;
const unsigned kXcr0Zmm = 0xE0;

// The low half of extended control register 0. Only for processors that
// report OSXSAVE.
unsigned ReadXcr0() {
  unsigned low, high;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return low;
}

// The feature bits of cpuid leaf 7 (in ebx), when the system saves the
// registers of xcr0_bits; 0 otherwise.
unsigned SavedLeaf7Features(unsigned xcr0_bits) {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
  if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return 0;
  if ((ReadXcr0() & xcr0_bits) != xcr0_bits) return 0;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) ? b : 0;
}

}  // namespace

int ProcessorHasSse2() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2) != 0;
}

int ProcessorHasAvx2() {
  return (SavedLeaf7Features(kXcr0XmmYmm) & bit_AVX2) != 0;
}

int ProcessorHasAvx512() {
  const unsigned kWanted = bit_AVX2 | bit_AVX512F | bit_AVX512BW;
  return (SavedLeaf7Features(kXcr0XmmYmm | kXcr0Zmm) & kWanted) == kWanted;
}
