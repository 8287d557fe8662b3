#include "platform/Window.h"

#include <exception>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/win/Wide.h"

namespace platform {

static_assert(kSwHide == SW_HIDE && kSwShow == SW_SHOW);
static_assert(kMbOk == MB_OK && kMbIconError == MB_ICONERROR);
static_assert(kMbIconWarning == (MB_OK | MB_ICONWARNING));

namespace {

constexpr wchar_t kApplicationClass[] = L"TApplication";
constexpr wchar_t kTimerClass[] = L"TTimerWindow";
constexpr int kDefaultDpi = 96;

HWND AsHwnd(Window window) {
  return static_cast<HWND>(window);
}
HINSTANCE Instance() {
  return ::GetModuleHandleW(nullptr);
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

// A quit taken out of the queue while a failure is reported, for the loop to end on afterwards.
bool& QuitAfterFailure() {
  static bool quit = false;
  return quit;
}

// The per-monitor DPI calls exist from Windows 10 on; older systems get the screen's DPI.
UINT DpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) {
    if (const UINT dpi = getDpiForWindow(window); dpi != 0)
      return dpi;
  }
  HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : kDefaultDpi;
  if (screen != nullptr)
    ::ReleaseDC(nullptr, screen);
  return static_cast<UINT>(dpi > 0 ? dpi : kDefaultDpi);
}

void AdjustFrameForDpi(RECT& frame, DWORD style, DWORD exStyle, UINT dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = reinterpret_cast<AdjustForDpiFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjustForDpi == nullptr || adjustForDpi(&frame, style, FALSE, exStyle, dpi) == FALSE) {
    ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  }
}

struct FontDeleter {
  void operator()(HFONT font) const { ::DeleteObject(font); }
};
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// What a window of the program carries besides its handle; owned by the window and freed when
// it is destroyed.
struct WindowData {
  WindowEvents* events = nullptr;
  bool* adopted = nullptr;    // set when the window takes the data over
  FormAppearance appearance;  // for form windows: how to rescale them
  UniqueFont font;
};

WindowData* DataOf(HWND window) {
  return reinterpret_cast<WindowData*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

UniqueFont CreateFormFont(const FormFont& font, int pixelsPerInch, UINT dpi) {
  if (font.name.empty())
    return nullptr;
  return UniqueFont(
      ::CreateFontW(::MulDiv(font.height, static_cast<int>(dpi), pixelsPerInch), 0, 0, 0,
                    font.bold ? FW_BOLD : FW_NORMAL, static_cast<DWORD>(font.italic),
                    static_cast<DWORD>(font.underline), static_cast<DWORD>(font.strikeOut),
                    static_cast<DWORD>(font.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, win::Wide(font.name.c_str())));
}

DWORD FormStyle(const FormAppearance& appearance) {
  DWORD style = WS_CLIPCHILDREN;
  switch (appearance.border) {
    case FormBorder::kNone:
      style |= WS_POPUP;
      break;
    case FormBorder::kSingle:
      style |= WS_CAPTION;
      break;
    case FormBorder::kSizeable:
      style |= WS_CAPTION | WS_THICKFRAME;
      break;
  }
  if (appearance.border != FormBorder::kNone && appearance.systemMenu) {
    style |= WS_SYSMENU;
    if (appearance.minimizeBox)
      style |= WS_MINIMIZEBOX;
    if (appearance.maximizeBox)
      style |= WS_MAXIMIZEBOX;
  }
  return style;
}

DWORD FormExStyle(const FormAppearance& appearance) {
  // The help button shows only without minimise and maximise buttons.
  return appearance.helpButton && !appearance.minimizeBox && !appearance.maximizeBox
             ? WS_EX_CONTEXTHELP
             : 0;
}

// The window's frame, at `dpi`, for the described client area at the described position.
RECT FormFrame(const FormAppearance& appearance, UINT dpi) {
  RECT frame{0, 0,
             ::MulDiv(appearance.clientWidth, static_cast<int>(dpi), appearance.pixelsPerInch),
             ::MulDiv(appearance.clientHeight, static_cast<int>(dpi), appearance.pixelsPerInch)};
  AdjustFrameForDpi(frame, FormStyle(appearance), FormExStyle(appearance), dpi);
  ::OffsetRect(&frame, appearance.left - frame.left, appearance.top - frame.top);
  return frame;
}

// Sizes the window so that its client area is the described one at `dpi`.
void ScaleForm(HWND window, const FormAppearance& appearance, UINT dpi) {
  const RECT frame = FormFrame(appearance, dpi);
  ::SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT HandleEvent(WindowEvents& events, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_TIMER:
      events.OnTimer(static_cast<std::uintptr_t>(wParam));
      return 0;
    case WM_CLOSE:
      events.OnClose();
      return 0;
    default:  // WM_QUERYENDSESSION
      return events.OnQueryEndSession() ? TRUE : FALSE;
  }
}

// The window procedure of the windows that report to the program. No C++ exception may cross
// it: a failure is kept and raised again once Windows has returned control to the loop.
LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* adopted = static_cast<WindowData*>(create->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(adopted));
    if (adopted != nullptr && adopted->adopted != nullptr)
      *std::exchange(adopted->adopted, nullptr) = true;
  }
  WindowData* data = DataOf(window);
  if (data == nullptr)
    return ::DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
      try {
        return HandleEvent(*data->events, message, wParam);
      } catch (...) {
        PendingFailure() = std::current_exception();
        // The session may still end: a failed close query does not hold it up.
        return message == WM_QUERYENDSESSION ? TRUE : 0;
      }
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(data->font.get());
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      data->font =
          CreateFormFont(data->appearance.font, data->appearance.pixelsPerInch, HIWORD(wParam));
      return 0;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      delete data;
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass(const wchar_t* className, WNDPROC procedure, int backgroundColor,
                         const std::u16string& iconName) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = Instance();
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(backgroundColor) + 1);
  windowClass.lpszClassName = className;
  if (!iconName.empty()) {
    const wchar_t* icon = win::Wide(iconName.c_str());
    windowClass.hIcon = static_cast<HICON>(
        ::LoadImageW(Instance(), icon, IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                     ::GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR | LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(Instance(), icon, IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                     ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR | LR_SHARED));
  }
  return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Creates a window that reports to `events`; the window owns `data` from WM_NCCREATE on.
HWND CreateEventWindow(std::unique_ptr<WindowData> data, DWORD exStyle, const wchar_t* className,
                       const wchar_t* caption, DWORD style, RECT frame, HWND parent) {
  bool adopted = false;
  data->adopted = &adopted;
  WindowData* raw = data.release();
  HWND window = ::CreateWindowExW(exStyle, className, caption, style, frame.left, frame.top,
                                  frame.right - frame.left, frame.bottom - frame.top, parent,
                                  nullptr, Instance(), raw);
  // Once the window has the data it frees it at WM_NCDESTROY, even when creation fails later;
  // a creation that failed before WM_NCCREATE never saw it.
  if (!adopted)
    delete raw;
  return window;
}

}  // namespace

Window CreateApplicationWindow(const char16_t* title, WindowEvents* events) {
  if (!RegisterWindowClass(kApplicationClass, EventWindowProc, COLOR_BTNFACE, u"MAINICON")) {
    return nullptr;
  }
  auto data = std::make_unique<WindowData>();
  data->events = events;
  return CreateEventWindow(std::move(data), 0, kApplicationClass, win::Wide(title),
                           WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                           RECT{}, nullptr);
}

Window CreateFormWindow(const FormAppearance& appearance, Window owner, WindowEvents* events) {
  const wchar_t* className = win::Wide(appearance.className.c_str());
  if (!RegisterWindowClass(className, EventWindowProc, appearance.backgroundColor,
                           appearance.iconName)) {
    return nullptr;
  }
  auto data = std::make_unique<WindowData>();
  data->events = events;
  data->appearance = appearance;
  WindowData& kept = *data;
  // Created at its size for the screen's DPI, so that it never exists at another size where the
  // window's DPI is the screen's (the usual case); a window on a monitor of another DPI is
  // rescaled once it exists and its own DPI is known.
  const UINT screenDpi = DpiOf(nullptr);
  HWND window = CreateEventWindow(std::move(data), FormExStyle(appearance), className,
                                  win::Wide(appearance.caption.c_str()), FormStyle(appearance),
                                  FormFrame(appearance, screenDpi), AsHwnd(owner));
  if (window == nullptr)
    return nullptr;
  const UINT dpi = DpiOf(window);
  if (dpi != screenDpi)
    ScaleForm(window, appearance, dpi);
  kept.font = CreateFormFont(appearance.font, appearance.pixelsPerInch, dpi);
  if (!appearance.iconName.empty()) {
    const auto classIcon = ::GetClassLongPtrW(window, GCLP_HICON);
    const auto smallIcon = ::GetClassLongPtrW(window, GCLP_HICONSM);
    ::SendMessageW(window, WM_SETICON, ICON_BIG, static_cast<LPARAM>(classIcon));
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, static_cast<LPARAM>(smallIcon));
  }
  return window;
}

Window CreateTimerWindow(WindowEvents* events) {
  if (!RegisterWindowClass(kTimerClass, EventWindowProc, COLOR_BTNFACE, u""))
    return nullptr;
  auto data = std::make_unique<WindowData>();
  data->events = events;
  return CreateEventWindow(std::move(data), 0, kTimerClass, L"", 0, RECT{}, HWND_MESSAGE);
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
  if (std::exchange(QuitAfterFailure(), false))
    return false;
  MSG message{};
  const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
  if (got <= 0) {
    // A failure from a message sent to us while waiting is still reported, and the loop ends
    // once the user has dismissed its box.
    if (PendingFailure()) {
      QuitAfterFailure() = true;
      RaisePendingFailure();
    }
    return false;
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
  if (PendingFailure()) {
    // The box that reports the failure runs a message loop of its own, which would take a quit
    // the failed handler had already posted and close the box at once. The quit is taken out of
    // the queue here and the loop ends on it after the box.
    MSG quit{};
    if (::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE)
      QuitAfterFailure() = true;
    RaisePendingFailure();
  }
  return true;
}

void PostQuitMessage(int exitCode) {
  ::PostQuitMessage(exitCode);
}

}  // namespace platform
