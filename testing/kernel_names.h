// The checksum kernels with the names the test and benchmark programs
// print for them (e2e_kernels, kernel_speed; the scripts read the names).
#ifndef TESTING_KERNEL_NAMES_H_
#define TESTING_KERNEL_NAMES_H_

#include "payload/entry_checksum.h"

struct NamedKernel {
  ChecksumKernel id;
  const char* name;
};

const NamedKernel kNamedKernels[] = {{kKernelByteLoop, "byte_loop"},
                                     {kKernelSse2, "sse2"},
                                     {kKernelAvx2, "avx2"},
                                     {kKernelAvx512, "avx512"}};

#endif  // TESTING_KERNEL_NAMES_H_
