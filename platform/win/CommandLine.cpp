#include "platform/CommandLine.h"

#include <windows.h>

namespace platform {

std::u16string_view GetCommandLineW() {
  return std::u16string_view(reinterpret_cast<const char16_t*>(::GetCommandLineW()));
}

}  // namespace platform
