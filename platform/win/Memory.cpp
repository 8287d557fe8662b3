#include "platform/Memory.h"

#include <windows.h>

namespace platform {

static_assert(kMemCommit == MEM_COMMIT && kMemDecommit == MEM_DECOMMIT);
static_assert(kPageReadWrite == PAGE_READWRITE && kPageNoCache == PAGE_NOCACHE);
static_assert(sizeof(MEMORYSTATUSEX) == 64);

MemoryStatus GlobalMemoryStatusEx() {
  MEMORYSTATUSEX record{};
  record.dwLength = sizeof(record);
  ::GlobalMemoryStatusEx(&record);
  MemoryStatus status;
  status.totalPhys = record.ullTotalPhys;
  return status;
}

void* VirtualAlloc(void* address, std::uint64_t size, std::uint32_t allocationType,
                   std::uint32_t protect) {
  return ::VirtualAlloc(address, static_cast<SIZE_T>(size), allocationType, protect);
}

void VirtualFree(void* address, std::uint64_t size, std::uint32_t freeType) {
  ::VirtualFree(address, static_cast<SIZE_T>(size), freeType);
}

void Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace platform
