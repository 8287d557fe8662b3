#pragma once

#include <cstdint>

namespace trim {

// The block to commit: the percentage of the total physical memory, in whole mebibytes (each
// step truncated toward zero in double precision), as a byte count.
std::uint64_t TrimBlockSize(std::uint64_t totalPhysBytes, std::int32_t percent);

}  // namespace trim
