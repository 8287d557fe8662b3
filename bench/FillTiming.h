#pragma once

#include <cstdint>

namespace bench {

using FillFunction = void (*)(void* block, std::uint64_t size);

// The memory a fill meets: pages never written yet (each first write takes a page fault), or
// pages already written once.
enum class Memory { kFirstTouch, kTouched };

// Times one fill of a fresh mapping of `size` bytes, in seconds. For kTouched the mapping is
// written once beforehand, outside the timing. Throws if the fill left a nonzero word behind.
double TimeFill(FillFunction fill, std::uint64_t size, Memory memory);

// Times the kernel's own prefault of a fresh mapping of `size` bytes, in seconds: from the mmap
// call with MAP_POPULATE to its return. No first-touch fill can beat it: it is the page faults'
// work without the faults. Throws if a page was left out or is not zero.
double TimePopulate(std::uint64_t size);

}  // namespace bench
