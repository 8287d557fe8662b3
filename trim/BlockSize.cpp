#include "trim/BlockSize.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace trim {
namespace {

constexpr double kBytesPerMebibyte = 1048576.0;

// Truncates toward zero into 32 bits. Out-of-range values saturate rather than overflow, so that
// absurd totals never turn into a wrapped block size.
std::int32_t TruncateToInt32(double value) {
  const double truncated = std::trunc(value);
  if (!(truncated > static_cast<double>(std::numeric_limits<std::int32_t>::min()))) {
    return std::numeric_limits<std::int32_t>::min();
  }
  if (truncated >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(truncated);
}

}  // namespace

std::uint64_t TrimBlockSize(std::uint64_t totalPhysBytes, std::int32_t percent) {
  // The total is read as a signed 64-bit value (two's complement, well defined since C++20).
  const auto totalSigned = static_cast<std::int64_t>(totalPhysBytes);
  const std::int32_t totalMebibytes =
      TruncateToInt32(static_cast<double>(totalSigned) / kBytesPerMebibyte);
  // The quotient is formed first: 100 MiB at 29% is 100 * 0.29 = 28.999999999999996, so 28 MiB.
  const std::int32_t blockMebibytes =
      TruncateToInt32(static_cast<double>(totalMebibytes) * (percent / 100.0));
  if (blockMebibytes <= 0)
    return 0;
  return static_cast<std::uint64_t>(blockMebibytes) * 1048576u;
}

}  // namespace trim
