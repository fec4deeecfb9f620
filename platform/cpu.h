// What the processor can run, for the checksum's kernels. CMake picks
// cpu_x86.cpp on x86 processors and cpu_generic.cpp on the others, where
// the answers are always 0.
#ifndef PLATFORM_CPU_H_
#define PLATFORM_CPU_H_

// Nonzero if the processor runs SSE2 instructions.
int ProcessorHasSse2();

// Nonzero if the processor runs AVX2 instructions and the system saves the
// YMM registers when it switches threads (without that, AVX2 cannot be used).
int ProcessorHasAvx2();

// Nonzero if the processor runs AVX-512 F and BW instructions and the system
// saves the ZMM and mask registers as well as the YMM ones.
int ProcessorHasAvx512();

#endif  // PLATFORM_CPU_H_
