// EntryChecksum: its worked values by the definition, and every kernel
// against the byte loop.
#include "payload/entry_checksum.h"

#include <stdio.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/update_bytes.h"

namespace {

const ChecksumKernel kFastKernels[] = {kKernelSse2, kKernelAvx2, kKernelAvx512};

EntryChecksum RandomState(std::mt19937* rng) {
  EntryChecksum sum;
  uint32_t r = (*rng)();
  sum.a = (*rng)();
  sum.s1 = static_cast<uint8_t>(r);
  sum.x1 = static_cast<uint8_t>(r >> 8);
  sum.s2 = static_cast<uint8_t>(r >> 16);
  sum.x2 = static_cast<uint8_t>(r >> 24);
  return sum;
}

std::vector<uint8_t> RandomBytes(std::mt19937* rng, size_t n) {
  std::vector<uint8_t> out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>((*rng)());
  return out;
}

EntryChecksum ByByteLoop(EntryChecksum sum, const uint8_t* data, size_t n) {
  EXPECT_TRUE(UpdateEntryChecksumWith(kKernelByteLoop, &sum, data, n));
  return sum;
}

// The kernels this processor runs. Every x86-64 machine that runs the tests
// has SSE2 and AVX2, so a missing one is reported, not hidden; AVX-512 is
// tested where the processor has it.
std::vector<ChecksumKernel> RunnableKernels() {
  std::vector<ChecksumKernel> out;
  for (ChecksumKernel k : kFastKernels) {
    EntryChecksum sum = NewEntryChecksum();
    uint8_t byte = 1;
    if (UpdateEntryChecksumWith(k, &sum, &byte, 1)) {
      out.push_back(k);
    } else if (k == kKernelAvx512) {
      static bool told = false;
      if (!told) printf("note: no AVX-512 here; its kernel is not tested\n");
      told = true;
    } else {
      ADD_FAILURE() << "kernel " << k << " does not run on this processor";
    }
  }
  return out;
}

std::string Hex(const EntryChecksum& sum) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&sum);
  std::string out;
  char buf[4];
  for (int i = 0; i < 8; i++) {
    snprintf(buf, sizeof(buf), "%02X", p[i]);
    out += buf;
  }
  return out;
}

TEST(EntryChecksumTest, WorkedValues) {
  EXPECT_EQ(Hex(ChecksumOf("")), "0000000000000000");
  EXPECT_EQ(Hex(ChecksumOf("a")), "6100000061616161");
  EXPECT_EQ(Hex(ChecksumOf("abc")),
            "06B45000"
            "12CC2660");
}

TEST(EntryChecksumTest, PiecewiseEqualsWhole) {
  std::mt19937 rng(7);
  std::string data(5000, '\0');
  for (char& c : data) c = static_cast<char>(rng());
  EntryChecksum whole = ChecksumOf(data);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{63}, size_t{4999}}) {
    EntryChecksum sum = NewEntryChecksum();
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    UpdateEntryChecksum(&sum, p, cut);
    UpdateEntryChecksum(&sum, p + cut, data.size() - cut);
    EXPECT_TRUE(SameChecksum(sum, whole)) << cut;
  }
  // Every byte matters, the sums of the data alone would miss a swap.
  std::swap(data[10], data[11]);
  EXPECT_FALSE(SameChecksum(ChecksumOf(data), whole));
}

TEST(EntryChecksumKernelTest, EveryLengthAndAlignmentFromAnyState) {
  std::mt19937 rng(11);
  std::vector<uint8_t> data = RandomBytes(&rng, 700);
  for (ChecksumKernel kernel : RunnableKernels()) {
    for (size_t length = 0; length <= 600; length++) {
      for (size_t offset = 0; offset < 32; offset++) {
        EntryChecksum start = RandomState(&rng);
        EntryChecksum want = ByByteLoop(start, &data[offset], length);
        EntryChecksum got = start;
        ASSERT_TRUE(
            UpdateEntryChecksumWith(kernel, &got, &data[offset], length));
        ASSERT_TRUE(SameChecksum(got, want))
            << "kernel " << kernel << " length " << length << " offset "
            << offset;
      }
    }
  }
}

TEST(EntryChecksumKernelTest, LargeBuffersWholeAndInPieces) {
  std::mt19937 rng(12);
  const size_t kSize = (8 << 20) + 77;
  std::vector<std::vector<uint8_t>> buffers;
  buffers.push_back(RandomBytes(&rng, kSize));
  buffers.push_back(std::vector<uint8_t>(kSize, 0xFF));
  buffers.push_back(std::vector<uint8_t>(kSize, 0x00));
  for (const std::vector<uint8_t>& data : buffers) {
    EntryChecksum start = RandomState(&rng);
    EntryChecksum want = ByByteLoop(start, data.data(), data.size());
    for (ChecksumKernel kernel : RunnableKernels()) {
      EntryChecksum whole = start;
      UpdateEntryChecksumWith(kernel, &whole, data.data(), data.size());
      EXPECT_TRUE(SameChecksum(whole, want)) << "kernel " << kernel;
      // Pieces of odd sizes, as a block-wise copy would feed them.
      EntryChecksum pieces = start;
      size_t done = 0;
      while (done < data.size()) {
        size_t n = std::min<size_t>(rng() % 100000, data.size() - done);
        UpdateEntryChecksumWith(kernel, &pieces, &data[done], n);
        done += n;
      }
      EXPECT_TRUE(SameChecksum(pieces, want)) << "kernel " << kernel;
    }
  }
}

TEST(EntryChecksumKernelTest, DefaultKernelAndWholeBufferAgreeWithByteLoop) {
  std::mt19937 rng(13);
  for (size_t length : {size_t{0}, size_t{15}, size_t{16}, size_t{255},
                        size_t{256}, size_t{257}, size_t{100000}}) {
    std::vector<uint8_t> data = RandomBytes(&rng, length + 1);
    EntryChecksum start = RandomState(&rng);
    EntryChecksum sum = start;
    UpdateEntryChecksum(&sum, data.data() + 1, length);
    EXPECT_TRUE(SameChecksum(sum, ByByteLoop(start, data.data() + 1, length)));
    EXPECT_TRUE(
        SameChecksum(ComputeEntryChecksum(data.data() + 1, length),
                     ByByteLoop(NewEntryChecksum(), data.data() + 1, length)));
  }
}

TEST(EntryChecksumKernelTest, UnknownKernelIsRefused) {
  EntryChecksum sum = NewEntryChecksum();
  uint8_t byte = 7;
  EXPECT_FALSE(
      UpdateEntryChecksumWith(static_cast<ChecksumKernel>(99), &sum, &byte, 1));
  EXPECT_TRUE(SameChecksum(sum, NewEntryChecksum()));
}

}  // namespace
