#include <gtest/gtest.h>

#include <cstdint>

#include "trim/BlockSize.h"

namespace {

constexpr std::uint64_t kMiB = 1048576;

TEST(TrimBlockSizeTest, TakesWholeMebibytesOfTheShare) {
  struct Case {
    std::uint64_t total;
    std::int32_t percent;
    std::uint64_t block;
  };
  const Case cases[] = {
      {8589934592, 50, 4294967296},            // 8 GiB at 50%
      {17179869184, 50, 8589934592},           // 16 GiB at 50%
      {104857600, 29, 28 * kMiB},              // 100 * 0.29 is 28.999999999999996 in doubles
      {8589934592, 33, 2703 * kMiB},           // 8,192 * 0.33 = 2,703.36
      {8589934592, 100, 8589934592},           // the whole of it
      {8589934592, 1, 81 * kMiB},              // 81.92
      {100 * kMiB + kMiB - 1, 50, 50 * kMiB},  // part of a mebibyte does not count
      {99 * kMiB, 1, 0},                       // under one mebibyte: nothing
      {kMiB - 1, 100, 0},                      // under one mebibyte of memory at all
      {0, 50, 0},
      {25769803776, 1, 245 * kMiB},  // 24 GiB at 1%: 245.76
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trim::TrimBlockSize(c.total, c.percent), c.block)
        << c.total << " bytes at " << c.percent << "%";
  }
}

TEST(TrimBlockSizeTest, AbsurdTotalsGiveNoWrappedBlock) {
  // Totals past the reach of 32-bit mebibytes saturate; totals that read as negative give none.
  const std::uint64_t maxMebibytes = 2147483647;
  EXPECT_EQ(trim::TrimBlockSize(maxMebibytes * kMiB * 4, 100), maxMebibytes * kMiB);
  EXPECT_EQ(trim::TrimBlockSize(~0ull, 100), 0u);
  EXPECT_EQ(trim::TrimBlockSize(1ull << 63, 50), 0u);
  EXPECT_EQ(trim::TrimBlockSize(8589934592, -5), 0u);
}

}  // namespace
