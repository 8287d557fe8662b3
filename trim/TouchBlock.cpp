#include "trim/TouchBlock.h"

#include <cstddef>
#include <cstdint>

namespace trim {

// The block is uncached memory, where each store is its own bus write and string or SIMD stores
// lose their speed or touch memory more than once. So the fill is plain aligned 8-byte
// general-purpose stores, through volatile so that the compiler keeps them as they are written
// instead of turning the loop into a memset call or vector stores.
void TouchBlock(void* block, std::uint64_t size) {
  auto* byte = static_cast<volatile std::uint8_t*>(block);
  volatile std::uint8_t* const end = byte + size;

  // Committed blocks start on a page and span whole pages; other callers may not, so the head
  // up to the first 8-byte boundary and the tail after the last one are written byte by byte.
  while (byte != end && reinterpret_cast<std::uintptr_t>(byte) % 8 != 0)
    *byte++ = 0;

  auto* word = reinterpret_cast<volatile std::uint64_t*>(byte);
  const std::size_t words = static_cast<std::size_t>(end - byte) / 8;
  volatile std::uint64_t* const wordsEnd = word + words;
  constexpr std::size_t kUnroll = 8;  // one 64-byte cache line per iteration
  while (static_cast<std::size_t>(wordsEnd - word) >= kUnroll) {
    word[0] = 0;
    word[1] = 0;
    word[2] = 0;
    word[3] = 0;
    word[4] = 0;
    word[5] = 0;
    word[6] = 0;
    word[7] = 0;
    word += kUnroll;
  }
  while (word != wordsEnd)
    *word++ = 0;

  byte = reinterpret_cast<volatile std::uint8_t*>(word);
  while (byte != end)
    *byte++ = 0;
}

}  // namespace trim
