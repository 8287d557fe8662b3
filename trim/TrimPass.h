#pragma once

#include <cstdint>
#include <string_view>

namespace trim {

// The trim percentage when the command line gives none, or gives one that cannot be read.
inline constexpr std::int32_t kDefaultTrimPercent = 50;

// Reads the trim percentage (1 to 100) from a whole command line, program path first, as
// GetCommandLineW returns it. Only the second argument counts; a missing or unreadable one gives
// the default, an out-of-range one is clamped.
std::int32_t TrimPercentFromCommandLine(std::u16string_view commandLine);

// The block to commit: the percentage of the total physical memory, in whole mebibytes (each
// step truncated toward zero in double precision), as a byte count.
std::uint64_t TrimBlockSize(std::uint64_t totalPhysBytes, std::int32_t percent);

// Writes zero to every byte of the block in one forward pass of aligned 8-byte stores.
void TouchBlock(void* block, std::uint64_t size);

// The trim percentage of this process's own command line.
std::int32_t ReadTrimPercent();

// One trim pass: commit the block, touch every byte, hold it for a second, decommit it.
void RunTrimPass();

}  // namespace trim
