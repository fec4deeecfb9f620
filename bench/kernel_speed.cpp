// kernel_speed: each checksum kernel's speed in GB/s over 64 KiB (in the
// cache) and 40 MiB (the largest entries), the median of 7 runs. A plain
// program, for the builds without Google Benchmark: scripts/bench.sh runs
// the i686 one under Wine. Prints "NAME GB/S-64KIB GB/S-40MIB" per kernel
// the processor offers.
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "payload/entry_checksum.h"
#include "testing/kernel_names.h"

namespace {

// Median GB/s of runs over data; each run covers at least 40 MiB.
double Speed(ChecksumKernel kernel, const std::vector<uint8_t>& data) {
  size_t repeats = std::max<size_t>(1, (40u << 20) / data.size());
  std::vector<double> speeds;
  uint32_t keep = 0;
  for (int run = 0; run < 7; run++) {
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < repeats; i++) {
      EntryChecksum sum = NewEntryChecksum();
      UpdateEntryChecksumWith(kernel, &sum, data.data(), data.size());
      keep += sum.a;
    }
    std::chrono::duration<double> took =
        std::chrono::steady_clock::now() - start;
    speeds.push_back(static_cast<double>(repeats) * data.size() / 1e9 /
                     took.count());
  }
  if (keep == 1) printf(" ");  // the sums are used
  std::sort(speeds.begin(), speeds.end());
  return speeds[speeds.size() / 2];
}

}  // namespace

int main() {
  std::vector<uint8_t> small(64u << 10), large(40u << 20);
  uint32_t x = 1;
  for (uint8_t& b : large)
    b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  std::copy(large.begin(), large.begin() + small.size(), small.begin());
  for (const NamedKernel& k : kNamedKernels) {
    EntryChecksum probe = NewEntryChecksum();
    if (!UpdateEntryChecksumWith(k.id, &probe, small.data(), 0)) continue;
    printf("%s %.2f %.2f\n", k.name, Speed(k.id, small), Speed(k.id, large));
    fflush(stdout);
  }
  return 0;
}
