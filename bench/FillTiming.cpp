#include "bench/FillTiming.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "bench/FreshMapping.h"

namespace bench {
namespace {

constexpr std::uint64_t kCheckStride = 4096 + 8;  // a word in every page, at varying offsets

// A sample of the block, one word per page, enough to catch a fill that stopped early or skipped.
void CheckZeroed(const FreshMapping& mapping) {
  const auto* bytes = static_cast<const unsigned char*>(mapping.Data());
  for (std::uint64_t offset = 0; offset + 8 <= mapping.Size(); offset += kCheckStride) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + offset, sizeof(word));
    if (word != 0)
      throw std::runtime_error("a fill left a nonzero word behind");
  }
  std::uint64_t last = 0;
  std::memcpy(&last, bytes + mapping.Size() - 8, sizeof(last));
  if (last != 0)
    throw std::runtime_error("a fill did not reach the end of the block");
}

// Every page present: a fill on first-touch memory that skipped pages would leave them absent
// (and reading them would still give zeros, so the sample above cannot tell).
void CheckResident(const FreshMapping& mapping) {
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> present((mapping.Size() + page - 1) / page);
  if (::mincore(mapping.Data(), mapping.Size(), present.data()) != 0)
    throw std::runtime_error("mincore failed");
  if (!std::all_of(present.begin(), present.end(), [](unsigned char p) { return (p & 1) != 0; }))
    throw std::runtime_error("a fill left pages of the block untouched");
}

}  // namespace

double TimeFill(FillFunction fill, std::uint64_t size, Memory memory) {
  const FreshMapping mapping(size);
  if (memory == Memory::kTouched)
    std::memset(mapping.Data(), 0xA5, size);  // nonzero, so that the check below means something
  const auto start = std::chrono::steady_clock::now();
  fill(mapping.Data(), size);
  const auto stop = std::chrono::steady_clock::now();
  CheckResident(mapping);
  CheckZeroed(mapping);
  return std::chrono::duration<double>(stop - start).count();
}

double TimePopulate(std::uint64_t size) {
  const auto start = std::chrono::steady_clock::now();
  const FreshMapping mapping(size, Pages::kPopulated);
  const auto stop = std::chrono::steady_clock::now();
  CheckResident(mapping);
  CheckZeroed(mapping);
  return std::chrono::duration<double>(stop - start).count();
}

}  // namespace bench
