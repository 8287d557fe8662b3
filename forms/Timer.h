#pragma once

#include <cstdint>
#include <functional>

#include "forms/Object.h"
#include "platform/UniqueWindow.h"
#include "platform/Window.h"

// A timer component. Its ticks arrive as window messages through the event loop, at its own
// message-only window. It is armed whenever it is enabled, has a non-zero interval and has a
// tick handler; setting any of these re-arms or disarms it at once.
class TTimer : public TObject, private platform::WindowEvents {
 public:
  using Handler = std::function<void(TObject* Sender)>;

  TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;
  ~TTimer() override;

  // Where the component sits on the window's design surface; it has no meaning at run time.
  int DesignLeft = 0;
  int DesignTop = 0;

  bool Enabled() const { return enabled_; }
  std::uint32_t Interval() const { return interval_; }
  void SetEnabled(bool enabled);
  void SetInterval(std::uint32_t milliseconds);
  void SetOnTimer(Handler handler);

 private:
  static constexpr std::uintptr_t kTimerId = 1;

  void UpdateTimer();
  void OnTimer(std::uintptr_t timerId) override;
  void OnClose() override {}
  bool OnQueryEndSession() override { return true; }

  platform::UniqueWindow window_;
  bool enabled_ = true;
  std::uint32_t interval_ = 1000;
  Handler onTimer_;
  bool armed_ = false;
};
