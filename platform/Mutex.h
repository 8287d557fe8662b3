#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

inline constexpr std::uint32_t kMutexAllAccess = 0x001F0001;

struct CreatedMutex {
  Handle handle = nullptr;
  bool alreadyExisted = false;  // the call opened an object someone else had made
};

// OpenMutexW: a handle to the named mutex, or null when it cannot be opened.
Handle OpenMutexW(std::uint32_t desiredAccess, bool inheritHandle, const char16_t* name);

// CreateMutexW with no security attributes and without initial ownership.
CreatedMutex CreateMutexW(const char16_t* name);

void CloseHandle(Handle handle);

}  // namespace platform
