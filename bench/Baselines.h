#pragma once

#include <cstdint>

namespace bench {

// What the fill is measured against. Each writes zero to a block that starts on a 64-byte
// boundary and spans whole 64-byte lines, as every benchmark block does.

// The C library's memset.
void FillMemset(void* block, std::uint64_t size);

// Aligned 8-byte non-temporal general-purpose stores (movnti), then a store fence.
void FillStream8(void* block, std::uint64_t size);

// Aligned 16-byte non-temporal SIMD stores (movntdq), then a store fence.
void FillStream16(void* block, std::uint64_t size);

}  // namespace bench
