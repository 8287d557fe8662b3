#include "tests/fuzz/ReferenceInt32.h"

namespace fuzz {
namespace {

constexpr std::int64_t kInt32Min = -2147483648LL;
constexpr std::int64_t kInt32Max = 2147483647LL;
constexpr std::size_t kMaxHexDigits = 8;
constexpr std::size_t kMaxDecimalDigits = 10;

int DigitValue(char16_t c, int base) {
  int value = -1;
  if (c >= u'0' && c <= u'9')
    value = c - u'0';
  else if (c >= u'a' && c <= u'f')
    value = c - u'a' + 10;
  else if (c >= u'A' && c <= u'F')
    value = c - u'A' + 10;
  return value < base ? value : -1;
}

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::optional<std::int32_t> ReferenceParseInt32(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ')
    text.remove_prefix(1);

  bool negative = false;
  if (!text.empty() && (text.front() == u'-' || text.front() == u'+')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }

  int base = 10;
  if (StartsWith(text, u"$") || StartsWith(text, u"x") || StartsWith(text, u"X")) {
    base = 16;
    text.remove_prefix(1);
  } else if (StartsWith(text, u"0x") || StartsWith(text, u"0X")) {
    base = 16;
    text.remove_prefix(2);
  }

  if (text.empty())
    return std::nullopt;
  for (char16_t c : text) {
    if (DigitValue(c, base) < 0)
      return std::nullopt;
  }

  const std::size_t firstSignificant = text.find_first_not_of(u'0');
  const std::u16string_view significant = firstSignificant == std::u16string_view::npos
                                              ? std::u16string_view()
                                              : text.substr(firstSignificant);
  if (significant.size() > (base == 16 ? kMaxHexDigits : kMaxDecimalDigits))
    return std::nullopt;

  std::int64_t magnitude = 0;
  for (char16_t c : significant)
    magnitude = magnitude * base + DigitValue(c, base);

  if (base == 16) {
    // Eight hexadecimal digits are the 32 bits themselves; a sign negates them modulo 2^32.
    std::int64_t bits = negative ? (0x100000000LL - magnitude) % 0x100000000LL : magnitude;
    if (bits > kInt32Max)
      bits -= 0x100000000LL;
    return static_cast<std::int32_t>(bits);
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < kInt32Min || value > kInt32Max)
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace fuzz
