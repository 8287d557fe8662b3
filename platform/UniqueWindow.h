#pragma once

#include <utility>

#include "platform/Window.h"

namespace platform {

// Owns a window and destroys it when it goes out of scope.
class UniqueWindow {
 public:
  UniqueWindow() = default;
  explicit UniqueWindow(Window window) : window_(window) {}
  UniqueWindow(UniqueWindow&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
  UniqueWindow& operator=(UniqueWindow&& other) noexcept {
    if (this != &other) {
      Reset();
      window_ = std::exchange(other.window_, nullptr);
    }
    return *this;
  }
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;
  ~UniqueWindow() { Reset(); }

  Window Get() const { return window_; }
  explicit operator bool() const { return window_ != nullptr; }

 private:
  void Reset() {
    if (window_ != nullptr)
      DestroyWindow(std::exchange(window_, nullptr));
  }

  Window window_ = nullptr;
};

}  // namespace platform
