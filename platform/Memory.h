#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kMemCommit = 0x1000;
inline constexpr std::uint32_t kMemDecommit = 0x4000;
inline constexpr std::uint32_t kPageReadWrite = 0x04;
inline constexpr std::uint32_t kPageNoCache = 0x200;

struct MemoryStatus {
  std::uint64_t totalPhys = 0;  // ullTotalPhys
};

// GlobalMemoryStatusEx on a record whose length field is set to its size; the result of the
// call is not examined.
MemoryStatus GlobalMemoryStatusEx();

// VirtualAlloc: the start of the range, or null on failure.
void* VirtualAlloc(void* address, std::uint64_t size, std::uint32_t allocationType,
                   std::uint32_t protect);

void VirtualFree(void* address, std::uint64_t size, std::uint32_t freeType);

void Sleep(std::uint32_t milliseconds);

}  // namespace platform
