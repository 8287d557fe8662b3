#pragma once

#include <windows.h>

namespace platform::win {

// Windows' wide characters are UTF-16 code units, the program's char16_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

}  // namespace platform::win
