#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

inline constexpr std::uint16_t kRtRcData = 10;

// The bytes of a resource of the program's own executable (FindResourceW, LoadResource,
// LockResource, SizeofResource). Empty, with a null data pointer, when there is no such resource.
// The bytes live as long as the process.
std::string_view LoadResourceBytes(std::uint16_t typeId, const char16_t* name);

}  // namespace platform
