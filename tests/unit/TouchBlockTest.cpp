#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "trim/TouchBlock.h"

namespace {

constexpr unsigned char kDirty = 0xA5;
constexpr std::size_t kGuard = 64;

// Fills [offset, offset + size) of a dirty buffer and checks that exactly those bytes are zero.
void ExpectTouchesExactly(std::size_t offset, std::size_t size) {
  // Start the guard area on an 8-byte boundary, so that `offset` alone decides the alignment.
  std::vector<unsigned char> buffer(kGuard + offset + size + kGuard + 8, kDirty);
  unsigned char* base = buffer.data();
  while (reinterpret_cast<std::uintptr_t>(base + kGuard) % 8 != 0)
    ++base;

  trim::TouchBlock(base + kGuard + offset, size);

  for (std::size_t i = 0; i < kGuard + offset + size + kGuard; ++i) {
    const bool inside = i >= kGuard + offset && i < kGuard + offset + size;
    ASSERT_EQ(base[i], inside ? 0 : kDirty)
        << "byte " << i << " (offset " << offset << ", size " << size << ")";
  }
}

TEST(TouchBlockTest, ZeroesEveryByteOfTheBlockAndNothingElse) {
  for (std::size_t offset = 0; offset < 8; ++offset) {
    for (std::size_t size : {0u, 1u, 7u, 8u, 9u, 15u, 63u, 64u, 65u, 127u, 200u, 4096u, 4099u}) {
      ExpectTouchesExactly(offset, size);
    }
  }
}

TEST(TouchBlockTest, FillsAWholeMebibyteBlock) {
  constexpr std::size_t kSize = 1 << 20;
  std::vector<std::uint64_t> block(kSize / 8, 0xFFFFFFFFFFFFFFFFull);
  trim::TouchBlock(block.data(), kSize);
  std::vector<std::uint64_t> zero(kSize / 8, 0);
  EXPECT_EQ(std::memcmp(block.data(), zero.data(), kSize), 0);
}

}  // namespace
