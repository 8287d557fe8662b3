#include "platform/Window.h"

#include <exception>
#include <utility>

#include "platform/win/Wide.h"

namespace platform {

static_assert(kSwHide == SW_HIDE && kSwShow == SW_SHOW);
static_assert(kMbOk == MB_OK && kMbIconError == MB_ICONERROR);
static_assert(kMbIconWarning == (MB_OK | MB_ICONWARNING));

namespace {

constexpr wchar_t kApplicationClass[] = L"TApplication";
constexpr wchar_t kTimerClass[] = L"TTimerWindow";

HWND AsHwnd(Window window) {
  return static_cast<HWND>(window);
}

// One thread runs all windows, so one slot carries a handler's failure out of the window
// procedure to PumpMessage.
std::exception_ptr& PendingFailure() {
  static std::exception_ptr failure;
  return failure;
}

void RaisePendingFailure() {
  if (std::exception_ptr failure = std::exchange(PendingFailure(), nullptr)) {
    std::rethrow_exception(failure);
  }
}

LRESULT HandleEvent(WindowEvents& events, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_TIMER:
      events.OnTimer(static_cast<std::uintptr_t>(wParam));
      return 0;
    case WM_CLOSE:
      events.OnClose();
      return 0;
    case WM_QUERYENDSESSION:
      return events.OnQueryEndSession() ? TRUE : FALSE;
    default:
      return -1;
  }
}

// The window procedure of the windows that report to the program. No C++ exception may cross
// it: a failure is kept and raised again once Windows has returned control to the loop.
LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* events = reinterpret_cast<WindowEvents*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (events != nullptr &&
      (message == WM_TIMER || message == WM_CLOSE || message == WM_QUERYENDSESSION)) {
    try {
      return HandleEvent(*events, message, wParam);
    } catch (...) {
      PendingFailure() = std::current_exception();
      // The session may still end: a failed close query does not hold it up.
      return message == WM_QUERYENDSESSION ? TRUE : 0;
    }
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass(const wchar_t* className, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = className;
  return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

Window CreateApplicationWindow(const char16_t* title) {
  if (!RegisterWindowClass(kApplicationClass, ::DefWindowProcW))
    return nullptr;
  return ::CreateWindowExW(0, kApplicationClass, win::Wide(title),
                           WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 0,
                           0, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

Window CreateFormWindow(const FormWindowSpec& spec, Window owner, WindowEvents* events) {
  const wchar_t* className = win::Wide(spec.className);
  if (!RegisterWindowClass(className, EventWindowProc))
    return nullptr;
  // A single, non-resizable frame with only the system menu.
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  RECT frame{0, 0, spec.clientWidth, spec.clientHeight};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  return ::CreateWindowExW(0, className, win::Wide(spec.caption), kStyle, spec.left, spec.top,
                           frame.right - frame.left, frame.bottom - frame.top, AsHwnd(owner),
                           nullptr, ::GetModuleHandleW(nullptr), static_cast<void*>(events));
}

Window CreateTimerWindow(WindowEvents* events) {
  if (!RegisterWindowClass(kTimerClass, EventWindowProc))
    return nullptr;
  return ::CreateWindowExW(0, kTimerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           ::GetModuleHandleW(nullptr), static_cast<void*>(events));
}

void DestroyWindow(Window window) {
  ::DestroyWindow(AsHwnd(window));
}

void SetWindowTextW(Window window, const char16_t* text) {
  ::SetWindowTextW(AsHwnd(window), win::Wide(text));
}

void ShowWindow(Window window, int command) {
  ::ShowWindow(AsHwnd(window), command);
}

Window GetForegroundWindow() {
  return ::GetForegroundWindow();
}

int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption, std::uint32_t style) {
  return ::MessageBoxW(AsHwnd(owner), win::Wide(text), win::Wide(caption), style);
}

bool SetTimer(Window window, std::uintptr_t timerId, std::uint32_t milliseconds) {
  return ::SetTimer(AsHwnd(window), timerId, milliseconds, nullptr) != 0;
}

void KillTimer(Window window, std::uintptr_t timerId) {
  ::KillTimer(AsHwnd(window), timerId);
}

bool PumpMessage() {
  MSG message{};
  const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
  if (got <= 0) {
    // A failure from a message sent to us while waiting is still reported; the quit it came
    // with is posted again so that the loop ends after the error box.
    if (PendingFailure()) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      RaisePendingFailure();
    }
    return false;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
  RaisePendingFailure();
  return true;
}

void PostQuitMessage(int exitCode) {
  ::PostQuitMessage(exitCode);
}

}  // namespace platform
