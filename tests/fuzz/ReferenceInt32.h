#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace fuzz {

// A second, deliberately plain reading of the number forms that trim::ParseInt32 accepts, for the
// fuzz target to compare against: digits are counted after the leading zeros and the value is
// formed in 64 bits, where nothing can wrap, instead of stepping within 32.
std::optional<std::int32_t> ReferenceParseInt32(std::u16string_view text);

}  // namespace fuzz
