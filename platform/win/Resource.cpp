#include "platform/Resource.h"

#include "platform/win/Wide.h"

namespace platform {

static_assert(kRtRcData == 10);  // RT_RCDATA

std::string_view LoadResourceBytes(std::uint16_t typeId, const char16_t* name) {
  HRSRC found = ::FindResourceW(nullptr, win::Wide(name), MAKEINTRESOURCEW(typeId));
  if (found == nullptr)
    return {};
  HGLOBAL loaded = ::LoadResource(nullptr, found);
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr)
    return {};
  return std::string_view(static_cast<const char*>(bytes), ::SizeofResource(nullptr, found));
}

}  // namespace platform
