#pragma once

namespace platform {

// Opaque Windows handles: a kernel object (HANDLE) and a window (HWND). Only the Windows
// implementation knows what they point at.
using Handle = void*;
using Window = void*;

}  // namespace platform
