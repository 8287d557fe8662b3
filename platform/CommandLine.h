#pragma once

#include <string_view>

namespace platform {

// GetCommandLineW: the whole command line of the process, program path first.
std::u16string_view GetCommandLineW();

}  // namespace platform
