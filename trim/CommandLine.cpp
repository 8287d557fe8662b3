#include "trim/CommandLine.h"

#include <algorithm>

namespace trim {
namespace {

constexpr char16_t kQuote = u'"';

bool IsSeparator(char16_t c) {
  return c >= 1 && c <= 32;
}

int HexDigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  return -1;
}

int DecimalDigitValue(char16_t c) {
  return (c >= u'0' && c <= u'9') ? c - u'0' : -1;
}

// The 32-bit two's-complement reading of an unsigned value (well defined: no signed overflow).
std::int32_t AsSigned(std::uint32_t bits) {
  return static_cast<std::int32_t>(bits);
}

}  // namespace

ArgumentReader::ArgumentReader(std::u16string_view commandLine) : line_(commandLine) {
  // The command line is a C string: a NUL ends it, whatever the view holds beyond.
  line_ = line_.substr(0, std::min(line_.find(u'\0'), line_.size()));
}

void ArgumentReader::SkipSeparators() {
  for (;;) {
    if (pos_ < line_.size() && IsSeparator(line_[pos_])) {
      ++pos_;
    } else if (pos_ + 1 < line_.size() && line_[pos_] == kQuote && line_[pos_ + 1] == kQuote) {
      pos_ += 2;
    } else {
      return;
    }
  }
}

std::optional<std::u16string> ArgumentReader::Next() {
  SkipSeparators();
  if (pos_ >= line_.size())
    return std::nullopt;

  std::u16string argument;
  while (pos_ < line_.size() && line_[pos_] > 32) {
    if (line_[pos_] != kQuote) {
      argument += line_[pos_++];
      continue;
    }
    // A quoted stretch runs to the next quote or to the end of the line, spaces included.
    const std::size_t open = ++pos_;
    const std::size_t close = std::min(line_.find(kQuote, open), line_.size());
    argument.append(line_.substr(open, close - open));
    pos_ = std::min(close + 1, line_.size());
  }
  return argument;
}

std::optional<std::int32_t> ParseInt32(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ')
    ++i;

  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }

  bool hex = false;
  if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
    hex = true;
    i += 1;
  } else if (i + 1 < text.size() && text[i] == u'0' &&
             (text[i + 1] == u'x' || text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }

  // The value is kept as raw 32 bits; each step stops before it could carry past them.
  std::uint32_t value = 0;
  const std::size_t firstDigit = i;
  if (hex) {
    for (int digit; i < text.size() && (digit = HexDigitValue(text[i])) >= 0; ++i) {
      if (AsSigned(value) < 0 || value > 0x0FFFFFFFu)
        break;
      value = value * 16u + static_cast<std::uint32_t>(digit);
    }
  } else {
    for (int digit; i < text.size() && (digit = DecimalDigitValue(text[i])) >= 0; ++i) {
      if (AsSigned(value) < 0 || value > 214748364u)
        break;
      value = value * 10u + static_cast<std::uint32_t>(digit);
    }
  }
  if (i == firstDigit || i != text.size())
    return std::nullopt;

  if (negative)
    value = 0u - value;
  const std::int32_t result = AsSigned(value);
  // A decimal value that carried into the sign bit reads with the wrong sign: it was out of range.
  if (!hex && result != 0 && (result < 0) != negative)
    return std::nullopt;
  return result;
}

std::int32_t TrimPercentFromCommandLine(std::u16string_view commandLine) {
  ArgumentReader arguments(commandLine);
  arguments.Next();  // the program's own path
  const std::optional<std::u16string> text = arguments.Next();
  const std::int32_t percent =
      text ? ParseInt32(*text).value_or(kDefaultTrimPercent) : kDefaultTrimPercent;
  return std::clamp(percent, 1, 100);
}

}  // namespace trim
