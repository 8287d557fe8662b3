// Times the trim pass's fill on its own: the block the program would commit for the percentage
// on the command line (read as the program reads it), committed the same way, first touch.
// Prints the block's size and how long the commit, the fill and the decommit took.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "platform/CommandLine.h"
#include "platform/Memory.h"
#include "trim/BlockSize.h"
#include "trim/CommandLine.h"
#include "trim/CommittedBlock.h"
#include "trim/TouchBlock.h"

namespace {

class Stopwatch {
 public:
  Stopwatch() {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    ticksPerMs_ = static_cast<double>(frequency.QuadPart) / 1000.0;
    start_ = Now();
  }

  // Milliseconds since the last lap (or the start), and starts the next.
  double Lap() {
    const LONGLONG now = Now();
    const double ms = static_cast<double>(now - start_) / ticksPerMs_;
    start_ = now;
    return ms;
  }

 private:
  static LONGLONG Now() {
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
  }

  double ticksPerMs_;
  LONGLONG start_;
};

}  // namespace

int wmain(int, wchar_t**) {
  const std::int32_t percent = trim::TrimPercentFromCommandLine(platform::GetCommandLineW());
  const std::uint64_t size =
      trim::TrimBlockSize(platform::GlobalMemoryStatusEx().totalPhys, percent);
  double commitMs = 0;
  double fillMs = 0;
  Stopwatch stopwatch;
  {
    const trim::CommittedBlock block(size);
    commitMs = stopwatch.Lap();
    if (!block) {
      std::printf("error=commit failed\n");
      return 1;
    }
    trim::TouchBlock(block.Data(), block.Size());
    fillMs = stopwatch.Lap();
  }
  const double decommitMs = stopwatch.Lap();
  std::printf("block_bytes=%llu\ncommit_ms=%.3f\nfill_ms=%.3f\ndecommit_ms=%.3f\n",
              static_cast<unsigned long long>(size), commitMs, fillMs, decommitMs);
  return 0;
}
