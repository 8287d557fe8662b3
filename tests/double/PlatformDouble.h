#pragma once

// A stand-in for the Windows wrappers. It records every call with its arguments and the time on
// a virtual clock, and lets a test decide the outcomes. The clock moves only where Windows would
// make the program wait: a cue takes the clip's length, Sleep its argument, and the loop waits
// until an armed timer's tick is due.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform::testing {

struct Call {
  std::string text;    // e.g. "SetTimer(timer,1,1000)"
  std::uint64_t atMs;  // virtual time when it was made
};

enum class Message { kQueryEndSession, kClose, kCloseApplication };

struct Double {
  // Outcomes a test may set.
  bool guardExists = false;             // OpenMutexW finds the guard
  bool createFindsExisting = false;     // CreateMutexW opens a guard another copy just made
  bool createFails = false;             // CreateMutexW returns no handle
  bool timerFails = false;              // SetTimer gets no timer
  bool commitFails = false;             // VirtualAlloc returns null
  bool applicationWindowFails = false;  // CreateApplicationWindow returns null
  bool formWindowFails = false;         // CreateFormWindow returns null
  std::uint64_t totalPhys = 64ull << 20;
  std::u16string commandLine = u"\"C:\\Tools\\Trimbolt64.exe\"";
  std::uint64_t clipMs = 781;    // 8,610 bytes at 11,025 bytes per second
  std::string throwOn;           // the name of a wrapper that throws when called
  std::vector<Message> pending;  // messages to the program's windows, delivered before a tick
  // Messages posted while the program sleeps (the trim pass's hold), delivered after it.
  std::vector<Message> postedDuringSleep;
  // Messages sent to the main window while a cue plays, as a sound system that waits for
  // other threads lets them in: delivered from inside the next cue once the window exists.
  std::vector<Message> sentDuringCue;
  // The executable's resources by name; starts with the window description of the source tree.
  std::map<std::u16string, std::string> resources;

  // What happened.
  std::uint64_t nowMs = 0;
  std::vector<Call> calls;
  // Whether every byte of the last block was zero when it was decommitted, and when the hold
  // (Sleep) started while it was committed.
  std::optional<bool> freedBlockWasZero;
  std::optional<bool> heldBlockWasZero;

  void Reset();
  // The call texts alone, in order.
  std::vector<std::string> CallTexts() const;
  // The calls whose text starts with `prefix`.
  std::vector<Call> CallsStartingWith(const std::string& prefix) const;
};

Double& TheDouble();

// Delivers a timer tick to the window of that name (the timer component's is "timer") at once,
// as a WM_TIMER that was already in the queue would come, whether or not its timer is armed.
// Returns false when there is no such window.
bool DeliverTick(const std::string& windowName, std::uintptr_t timerId);

// The text of a file of the source tree, such as resources/MainForm.window.
std::string SourceFile(const std::string& relativePath);

}  // namespace platform::testing
