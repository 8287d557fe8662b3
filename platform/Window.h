#pragma once

#include <cstdint>
#include <string>

#include "platform/Types.h"

namespace platform {

inline constexpr int kSwHide = 0;
inline constexpr int kSwShow = 5;
inline constexpr std::uint32_t kMbOk = 0x00000000;
inline constexpr std::uint32_t kMbIconError = 0x00000010;
inline constexpr std::uint32_t kMbIconWarning = 0x00000030;

// What a window reports back to the program. The Windows implementation calls these from its
// window procedure; an exception thrown here is caught there and raised again by PumpMessage,
// so that it never crosses Windows code.
class WindowEvents {
 public:
  virtual void OnTimer(std::uintptr_t timerId) = 0;
  virtual void OnClose() = 0;
  // WM_QUERYENDSESSION: may the session end?
  virtual bool OnQueryEndSession() = 0;

 protected:
  ~WindowEvents() = default;
};

enum class FormBorder { kNone, kSingle, kSizeable };

struct FormFont {
  std::u16string name;
  int charset = 1;  // DEFAULT_CHARSET
  int height = 0;   // at the design resolution; negative: the character height
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};

// How a form window looks. Sizes and the font height are at `pixelsPerInch` and are scaled to
// the window's DPI. It is created hidden; this program never shows it.
struct FormAppearance {
  std::u16string className;
  std::u16string caption;
  std::u16string iconName;  // an icon group of the executable; none when empty
  int left = 0;
  int top = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  int pixelsPerInch = 96;
  FormBorder border = FormBorder::kSingle;
  bool systemMenu = true;
  bool minimizeBox = false;
  bool maximizeBox = false;
  bool helpButton = false;
  int backgroundColor = 15;  // a system colour index: COLOR_BTNFACE
  FormFont font;
};

// A top-level window of zero size, not visible, carrying the application title. It reports its
// close to `events`; the system's own handling would destroy it, and the windows it owns, at once.
Window CreateApplicationWindow(const char16_t* title, WindowEvents* events);
// A top-level window owned by `owner`, created hidden as `appearance` describes.
Window CreateFormWindow(const FormAppearance& appearance, Window owner, WindowEvents* events);
// A message-only window that receives timer ticks for a timer component.
Window CreateTimerWindow(WindowEvents* events);
void DestroyWindow(Window window);

void SetWindowTextW(Window window, const char16_t* text);
void ShowWindow(Window window, int command);
Window GetForegroundWindow();
// A modal message box; returns the button that dismissed it.
int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption, std::uint32_t style);

// SetTimer on a window: false when no timer can be had.
bool SetTimer(Window window, std::uintptr_t timerId, std::uint32_t milliseconds);
void KillTimer(Window window, std::uintptr_t timerId);

// Takes the next message of this thread, waiting if there is none, and dispatches it. Returns
// false on the quit message. An exception from a WindowEvents handler comes out of here; when a
// quit came with it, the quit is held back (a message box shown for the failure would take it
// and close at once) and the next call returns false.
bool PumpMessage();
void PostQuitMessage(int exitCode);

}  // namespace platform
