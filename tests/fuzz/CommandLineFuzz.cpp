// Fuzzes the reading of the trim percentage from the whole command line, the program's one
// untrusted input. The fuzz bytes are taken as UTF-16LE code units; an odd last byte is dropped.
// Any crash, sanitizer finding or failed check below stops the run with the input saved.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "tests/fuzz/ReferenceInt32.h"
#include "trim/CommandLine.h"

namespace {

// Checks stay on in every build type: unlike assert, NDEBUG does not remove them.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::cerr << "fuzz check failed: " << what << std::endl;
    std::abort();
  }
}

std::u16string CodeUnits(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

// What the percentage must be, from the second argument read by the independent number reader.
std::int32_t ExpectedPercent(std::u16string_view commandLine) {
  trim::ArgumentReader arguments(commandLine);
  arguments.Next();
  const std::optional<std::u16string> text = arguments.Next();
  const std::optional<std::int32_t> value = text ? fuzz::ReferenceParseInt32(*text) : std::nullopt;
  return std::clamp(value.value_or(trim::kDefaultTrimPercent), 1, 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string line = CodeUnits(data, size);

  const std::int32_t percent = trim::TrimPercentFromCommandLine(line);
  Require(percent >= 1 && percent <= 100, "the percentage is outside 1 to 100");
  Require(percent == ExpectedPercent(line), "the percentage differs from the reference reading");

  // The command line is a C string: whatever follows a NUL must not count.
  const std::u16string cut = line + u'\0' + u" 7 \"7" + line;
  Require(trim::TrimPercentFromCommandLine(cut) == percent, "text after a NUL changed the result");

  // The number reader on its own, over the whole input as one argument's text.
  Require(trim::ParseInt32(line) == fuzz::ReferenceParseInt32(line),
          "ParseInt32 differs from the reference reading");
  return 0;
}
