// EntryChecksum, by the definition (one byte per step) and by kernels that
// take 16 to 64 bytes per step; entry_checksum_kernels.h tells how they
// reach the same eight bytes. The kernels are in files of their own
// (entry_checksum_sse2.cpp, entry_checksum_avx2.cpp,
// entry_checksum_avx512.cpp), each compiled for its instruction set; this
// file is plain C++, makes their tables and runs a kernel only on a
// processor that has its instructions.
#include "payload/entry_checksum.h"

#include <string.h>

#include <atomic>
#include <new>

#include "payload/entry_checksum_kernels.h"
#include "platform/cpu.h"

namespace {

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

void FillTables(KernelTables* t) {
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
    if (p % 2 == 0) {
      t->low_even[p / 2] = signed_low;
      t->high_even[p / 2] = static_cast<uint16_t>(high);
    } else {
      t->low_odd[p / 2] = signed_low;
      t->high_odd[p / 2] = static_cast<uint16_t>(high);
    }
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

const int kHasSse2 = 1;
const int kHasAvx2 = 2;
const int kHasAvx512 = 4;
const int kFeaturesKnown = 8;

// Made once, before any kernel runs (see Features), and kept for the rest of
// the process: on the heap, not in the program file, where it would take
// 5 KB.
const KernelTables* g_tables = nullptr;

// Each kernel counts only with the narrower ones: each leaves its last few
// blocks to them.
int AskFeatures() {
  int features = kFeaturesKnown;
  if (!ProcessorHasSse2()) return features;
  features |= kHasSse2;
  if (!ProcessorHasAvx2()) return features;
  features |= kHasAvx2;
  if (ProcessorHasAvx512()) features |= kHasAvx512;
  return features;
}

// Once per process, with the tables when a kernel can run: the processor's
// answers are slow to get. The program has one thread; were there more, a
// race here would only make a spare copy of the tables.
int Features() {
  static std::atomic<int> known(0);
  int features = known.load(std::memory_order_acquire);
  if (features == 0) {
    features = AskFeatures();
    if (features != kFeaturesKnown) {
      KernelTables* tables = new (std::nothrow) KernelTables;
      if (tables == nullptr) return kFeaturesKnown;  // the byte loop only
      FillTables(tables);
      g_tables = tables;
    }
    known.store(features, std::memory_order_release);
  }
  return features;
}

}  // namespace

EntryChecksum NewEntryChecksum() {
  EntryChecksum sum;
  memset(&sum, 0, sizeof(sum));
  return sum;
}

int UpdateEntryChecksumWith(ChecksumKernel kernel, EntryChecksum* sum,
                            const uint8_t* data, size_t length) {
  size_t done = 0;
  int features = kernel == kKernelByteLoop ? 0 : Features();
  // A kernel leaves the blocks it cannot take to the narrower ones below it,
  // which the processor then has as well (see AskFeatures).
  switch (kernel) {
    case kKernelAvx512:
      if (!(features & kHasAvx512)) return 0;
      done = UpdateChecksumAvx512(*g_tables, sum, data, length);
      [[fallthrough]];
    case kKernelAvx2:
      if (!(features & kHasAvx2)) return 0;
      if (length - done >= 2 * kBlockBytes) {
        done += UpdateChecksumAvx2(*g_tables, sum, data + done, length - done);
      }
      [[fallthrough]];
    case kKernelSse2:
      if (!(features & kHasSse2)) return 0;
      if (length - done >= kBlockBytes) {
        done += UpdateChecksumSse2(*g_tables, sum, data + done, length - done);
      }
      break;
    case kKernelByteLoop:
      break;
    default:
      return 0;
  }
  UpdateByteLoop(sum, data + done, length - done);
  return 1;
}

void UpdateEntryChecksum(EntryChecksum* sum, const uint8_t* data,
                         size_t length) {
  if (UpdateEntryChecksumWith(kKernelAvx512, sum, data, length)) return;
  if (UpdateEntryChecksumWith(kKernelAvx2, sum, data, length)) return;
  if (UpdateEntryChecksumWith(kKernelSse2, sum, data, length)) return;
  UpdateByteLoop(sum, data, length);
}

EntryChecksum ComputeEntryChecksum(const uint8_t* data, size_t length) {
  EntryChecksum sum = NewEntryChecksum();
  UpdateEntryChecksum(&sum, data, length);
  return sum;
}

bool SameChecksum(const EntryChecksum& a, const EntryChecksum& b) {
  return memcmp(&a, &b, sizeof(EntryChecksum)) == 0;
}
