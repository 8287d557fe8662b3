#include "platform/Sound.h"

#include "platform/win/Wide.h"  // windows.h, which mmsystem.h needs first

#include <mmsystem.h>

namespace platform {

static_assert(kSndResource == SND_RESOURCE);

void PlaySoundW(const char16_t* name, std::uint32_t flags) {
  ::PlaySoundW(win::Wide(name), nullptr, flags);
}

}  // namespace platform
