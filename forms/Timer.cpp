#include "forms/Timer.h"

#include <utility>

#include "forms/AppError.h"

TTimer::TTimer() : window_(platform::CreateTimerWindow(this)) {
  if (!window_)
    throw AppError(u"タイマーを取得できません");
}

TTimer::~TTimer() {
  if (armed_)
    platform::KillTimer(window_.Get(), kTimerId);
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_)
    return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(std::uint32_t milliseconds) {
  if (milliseconds == interval_)
    return;
  interval_ = milliseconds;
  UpdateTimer();
}

void TTimer::SetOnTimer(Handler handler) {
  onTimer_ = std::move(handler);
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  if (armed_) {
    platform::KillTimer(window_.Get(), kTimerId);
    armed_ = false;
  }
  if (!enabled_ || interval_ == 0 || !onTimer_)
    return;
  if (!platform::SetTimer(window_.Get(), kTimerId, interval_)) {
    throw AppError(u"タイマーを取得できません");
  }
  armed_ = true;
}

void TTimer::OnTimer(std::uintptr_t timerId) {
  // A tick already queued when the timer was switched off is dropped.
  if (timerId == kTimerId && armed_ && onTimer_)
    onTimer_(this);
}
