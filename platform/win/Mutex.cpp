#include "platform/Mutex.h"

#include "platform/win/Wide.h"

namespace platform {

static_assert(kMutexAllAccess == MUTEX_ALL_ACCESS);

Handle OpenMutexW(std::uint32_t desiredAccess, bool inheritHandle, const char16_t* name) {
  return ::OpenMutexW(desiredAccess, inheritHandle ? TRUE : FALSE, win::Wide(name));
}

CreatedMutex CreateMutexW(const char16_t* name) {
  CreatedMutex created;
  created.handle = ::CreateMutexW(nullptr, FALSE, win::Wide(name));
  created.alreadyExisted = created.handle != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
  return created;
}

void CloseHandle(Handle handle) {
  ::CloseHandle(handle);
}

}  // namespace platform
