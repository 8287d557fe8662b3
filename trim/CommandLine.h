#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trim {

// The trim percentage when the command line gives none, or gives one that cannot be read.
inline constexpr std::int32_t kDefaultTrimPercent = 50;

// Reads the trim percentage (1 to 100) from a whole command line, program path first, as
// GetCommandLineW returns it. Only the second argument counts; a missing or unreadable one gives
// the default, an out-of-range one is clamped.
std::int32_t TrimPercentFromCommandLine(std::u16string_view commandLine);

// Splits a command line into arguments the way this program reads it: control characters and
// spaces separate arguments, double quotes group (and are dropped), backslashes mean nothing, and
// a pair of quotes standing alone is skipped rather than taken as an empty argument.
class ArgumentReader {
 public:
  explicit ArgumentReader(std::u16string_view commandLine);

  // The next argument, or nothing once the line is used up.
  std::optional<std::u16string> Next();

 private:
  void SkipSeparators();

  std::u16string_view line_;
  std::size_t pos_ = 0;
};

// Converts text to a 32-bit signed integer: optional leading spaces, one optional sign, then
// decimal digits or hexadecimal ones after "$", "x", "X" or "0x". Nothing may follow the digits.
// Hexadecimal takes the 32-bit two's-complement reading of at most eight significant digits;
// decimal accepts exactly the int32 range. Returns nothing when the text is not such a number.
std::optional<std::int32_t> ParseInt32(std::u16string_view text);

}  // namespace trim
