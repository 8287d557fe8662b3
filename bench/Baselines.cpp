#include "bench/Baselines.h"

#include <emmintrin.h>

#include <cstring>

namespace bench {

void FillMemset(void* block, std::uint64_t size) {
  std::memset(block, 0, size);
}

void FillStream8(void* block, std::uint64_t size) {
  auto* word = static_cast<long long*>(block);
  long long* const end = word + size / 8;
  for (; word != end; word += 8) {  // one 64-byte line per iteration
    _mm_stream_si64(word + 0, 0);
    _mm_stream_si64(word + 1, 0);
    _mm_stream_si64(word + 2, 0);
    _mm_stream_si64(word + 3, 0);
    _mm_stream_si64(word + 4, 0);
    _mm_stream_si64(word + 5, 0);
    _mm_stream_si64(word + 6, 0);
    _mm_stream_si64(word + 7, 0);
  }
  _mm_sfence();
}

void FillStream16(void* block, std::uint64_t size) {
  auto* line = static_cast<__m128i*>(block);
  __m128i* const end = line + size / 16;
  const __m128i zero = _mm_setzero_si128();
  for (; line != end; line += 4) {  // one 64-byte line per iteration
    _mm_stream_si128(line + 0, zero);
    _mm_stream_si128(line + 1, zero);
    _mm_stream_si128(line + 2, zero);
    _mm_stream_si128(line + 3, zero);
  }
  _mm_sfence();
}

}  // namespace bench
