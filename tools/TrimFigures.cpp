// What a run of Trimbolt64.exe with the same arguments trims, for scripts/run.sh to report: the
// percentage as the program reads it from its command line, the total physical memory the
// system reports and the block the program commits from it, through the program's own reader,
// wrappers and sizing. It also counts the sound output devices the system offers, which tell
// whether the cues could be heard. A console tool of the build, never shipped.
#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <cstdio>

#include "platform/CommandLine.h"
#include "platform/Memory.h"
#include "trim/BlockSize.h"
#include "trim/CommandLine.h"

int main() {
  const std::int32_t percent = trim::TrimPercentFromCommandLine(platform::GetCommandLineW());
  const std::uint64_t total = platform::GlobalMemoryStatusEx().totalPhys;
  const std::uint64_t block = trim::TrimBlockSize(total, percent);
  std::printf("percent=%d\ntotal_bytes=%llu\nblock_bytes=%llu\nsound_devices=%u\n", percent,
              static_cast<unsigned long long>(total), static_cast<unsigned long long>(block),
              ::waveOutGetNumDevs());
  return 0;
}
