// ComputeEntryChecksum and each of its kernels on buffers of 1 KiB, 64 KiB
// and 40 MiB (the size of the largest entries), in bytes per second.
#include <stdint.h>

#include <random>
#include <vector>

#include "benchmark/benchmark.h"
#include "payload/entry_checksum.h"

namespace {

const std::vector<uint8_t>& Buffer(size_t size) {
  static std::vector<uint8_t> data;
  if (data.size() != size) {
    std::mt19937 rng(1);
    data.resize(size);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
  }
  return data;
}

void BM_ComputeEntryChecksum(benchmark::State& state) {
  const std::vector<uint8_t>& data = Buffer(state.range(0));
  for (auto _ : state) {
    EntryChecksum sum = ComputeEntryChecksum(data.data(), data.size());
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * data.size());
}

void BM_Kernel(benchmark::State& state, ChecksumKernel kernel) {
  const std::vector<uint8_t>& data = Buffer(state.range(0));
  EntryChecksum probe = NewEntryChecksum();
  if (!UpdateEntryChecksumWith(kernel, &probe, data.data(), 0)) {
    state.SkipWithError("this processor lacks the kernel's instructions");
    return;
  }
  for (auto _ : state) {
    EntryChecksum sum = NewEntryChecksum();
    UpdateEntryChecksumWith(kernel, &sum, data.data(), data.size());
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(state.iterations() * data.size());
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1 << 10)->Arg(64 << 10)->Arg(40 << 20);
}

BENCHMARK(BM_ComputeEntryChecksum)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Kernel, byte_loop, kKernelByteLoop)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Kernel, sse2, kKernelSse2)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Kernel, avx2, kKernelAvx2)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Kernel, avx512, kKernelAvx512)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
