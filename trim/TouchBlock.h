#pragma once

#include <cstdint>

namespace trim {

// Writes zero to every byte of the block in one forward pass of aligned 8-byte stores.
void TouchBlock(void* block, std::uint64_t size);

}  // namespace trim
