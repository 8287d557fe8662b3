#pragma once

#include <cstdint>

namespace trim {

// The trim percentage of this process's own command line.
std::int32_t ReadTrimPercent();

// One trim pass: commit the block, touch every byte, hold it for a second, decommit it.
void RunTrimPass();

}  // namespace trim
