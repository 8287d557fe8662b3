#pragma once

#include <cstdint>

namespace platform {

// SND_RESOURCE: the name is a resource of the module; without SND_ASYNC the call returns when
// the sound has finished, and without SND_NODEFAULT the default sound plays if it is missing.
inline constexpr std::uint32_t kSndResource = 0x00040004;

// PlaySoundW with no module handle (the program's own executable). The result is not reported.
void PlaySoundW(const char16_t* name, std::uint32_t flags);

}  // namespace platform
