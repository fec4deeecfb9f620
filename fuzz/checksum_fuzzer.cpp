// The checksum kernels against the byte loop that defines the checksum: any
// starting state, any data at any alignment, taken whole or in two pieces.
// The data is the fuzzer's own buffer, so a kernel that reads past its end
// is caught by AddressSanitizer.
//
// Input: 8 bytes of starting state, 1 byte where to cut, then the data.
#include <string.h>

#include "fuzz/fuzz_util.h"
#include "payload/entry_checksum.h"

namespace {

const ChecksumKernel kFastKernels[] = {kKernelSse2, kKernelAvx2, kKernelAvx512};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < sizeof(EntryChecksum) + 1) return 0;
  EntryChecksum start;
  memcpy(&start, data, sizeof(start));
  size_t cut_byte = data[sizeof(start)];
  const uint8_t* bytes = data + sizeof(start) + 1;
  size_t length = size - sizeof(start) - 1;
  size_t cut = length == 0 ? 0 : cut_byte % (length + 1);
  EntryChecksum expected = start;
  Check(UpdateEntryChecksumWith(kKernelByteLoop, &expected, bytes, length),
        "the byte loop always runs");
  EntryChecksum best = start;
  UpdateEntryChecksum(&best, bytes, length);
  Check(SameChecksum(best, expected), "the chosen kernel agrees");
  for (ChecksumKernel kernel : kFastKernels) {
    EntryChecksum whole = start;
    if (!UpdateEntryChecksumWith(kernel, &whole, bytes, length)) continue;
    Check(SameChecksum(whole, expected), "a fast kernel agrees");
    EntryChecksum pieces = start;
    UpdateEntryChecksumWith(kernel, &pieces, bytes, cut);
    UpdateEntryChecksumWith(kernel, &pieces, bytes + cut, length - cut);
    Check(SameChecksum(pieces, expected), "two pieces make the whole");
  }
  return 0;
}
