#include "trim/TrimPass.h"

#include "platform/CommandLine.h"
#include "platform/Memory.h"
#include "trim/BlockSize.h"
#include "trim/CommandLine.h"
#include "trim/CommittedBlock.h"
#include "trim/TouchBlock.h"

namespace trim {
namespace {

constexpr std::uint32_t kHoldMilliseconds = 1000;

}  // namespace

std::int32_t ReadTrimPercent() {
  return TrimPercentFromCommandLine(platform::GetCommandLineW());
}

void RunTrimPass() {
  const std::int32_t percent = ReadTrimPercent();
  const std::uint64_t size = TrimBlockSize(platform::GlobalMemoryStatusEx().totalPhys, percent);
  if (size == 0) {
    // Too small a machine for a whole mebibyte: nothing to commit, but the hold still happens.
    platform::Sleep(kHoldMilliseconds);
    return;
  }
  // A failed commit (no commit charge left, say) is skipped quietly: nothing is written, and the
  // run still holds and ends normally rather than sitting hidden and holding its guard.
  const CommittedBlock block(size);
  if (block)
    TouchBlock(block.Data(), block.Size());
  platform::Sleep(kHoldMilliseconds);
}

}  // namespace trim
