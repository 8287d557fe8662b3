// Links the core with nothing else: a missing symbol here means the core leaned on the platform.
#include <cstdint>
#include <vector>

#include "trim/BlockSize.h"
#include "trim/CommandLine.h"
#include "trim/TouchBlock.h"

int main() {
  std::vector<std::uint64_t> block(4, ~0ull);
  trim::TouchBlock(block.data(), block.size() * sizeof(block[0]));
  const bool ok = trim::TrimPercentFromCommandLine(u"prog 30") == 30 &&
                  trim::TrimBlockSize(104857600, 29) == 28ull * 1048576 && block[3] == 0;
  return ok ? 0 : 1;
}
