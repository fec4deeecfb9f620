// EntryChecksum's kernels on processors other than x86: there are none, so
// they take no bytes and the byte loop does all the work. (The processor
// reports none of SSE2, AVX2 and AVX-512 there, so these are never called.)
#include "payload/entry_checksum_kernels.h"

size_t UpdateChecksumSse2(const KernelTables&, EntryChecksum*, const uint8_t*,
                          size_t) {
  return 0;
}

size_t UpdateChecksumAvx2(const KernelTables&, EntryChecksum*, const uint8_t*,
                          size_t) {
  return 0;
}

size_t UpdateChecksumAvx512(const KernelTables&, EntryChecksum*, const uint8_t*,
                            size_t) {
  return 0;
}
