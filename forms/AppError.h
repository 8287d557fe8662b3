#pragma once

#include <exception>
#include <string>
#include <utility>

// A failure the program reports to the user: its text is what the error box shows.
class AppError : public std::exception {
 public:
  explicit AppError(std::u16string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return "Trimbolt error"; }
  const std::u16string& Text() const noexcept { return text_; }

 private:
  std::u16string text_;
};

// The text to show for whatever was thrown; call from inside a catch block.
std::u16string CurrentErrorText();
