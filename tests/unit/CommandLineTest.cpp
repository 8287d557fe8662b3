#include <gtest/gtest.h>

#include <string>

#include "trim/CommandLine.h"

namespace {

struct PercentCase {
  const char* name;
  std::u16string commandLine;
  std::int32_t percent;
};

std::ostream& operator<<(std::ostream& out, const PercentCase& c) {
  return out << c.name;
}

class TrimPercentFromCommandLineTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(TrimPercentFromCommandLineTest, ReadsTheSecondArgument) {
  EXPECT_EQ(trim::TrimPercentFromCommandLine(GetParam().commandLine), GetParam().percent);
}

const PercentCase kPercentCases[] = {
    // Missing, unreadable and defaulted.
    {"NoArgument", u"Trimbolt64.exe", 50},
    {"EmptyLine", u"", 50},
    {"OnlySpacesAfterProgram", u"Trimbolt64.exe   \t ", 50},
    {"Letters", u"Trimbolt64.exe abc", 50},
    {"LoneDollar", u"Trimbolt64.exe $", 50},
    {"LoneMinus", u"Trimbolt64.exe -", 50},
    {"LonePlus", u"Trimbolt64.exe +", 50},
    {"LoneHexPrefix", u"Trimbolt64.exe 0x", 50},
    {"DigitsThenLetters", u"Trimbolt64.exe 30abc", 50},
    {"TwoSigns", u"Trimbolt64.exe +-30", 50},
    {"SignAfterPrefix", u"Trimbolt64.exe $-10", 50},
    {"Fraction", u"Trimbolt64.exe 30.5", 50},
    {"FullWidthDigits", u"Trimbolt64.exe ３０", 50},
    // Plain values and clamping.
    {"Thirty", u"Trimbolt64.exe 30", 30},
    {"PlusSign", u"Trimbolt64.exe +30", 30},
    {"LeadingZeros", u"Trimbolt64.exe 0007", 7},
    {"One", u"Trimbolt64.exe 1", 1},
    {"Hundred", u"Trimbolt64.exe 100", 100},
    {"Zero", u"Trimbolt64.exe 0", 1},
    {"MinusZero", u"Trimbolt64.exe -0", 1},
    {"MinusFive", u"Trimbolt64.exe -5", 1},
    {"TwoHundredFifty", u"Trimbolt64.exe 250", 100},
    // The edges of 32 bits.
    {"Int32Max", u"Trimbolt64.exe 2147483647", 100},
    {"Int32MaxPlusOne", u"Trimbolt64.exe 2147483648", 50},
    {"Int32Min", u"Trimbolt64.exe -2147483648", 1},
    {"Int32MinMinusOne", u"Trimbolt64.exe -2147483649", 50},
    {"TenDigitsWrapPositive", u"Trimbolt64.exe 4294967326", 50},
    // Digits that carried past 32 bits would wrap to exactly 0, or to a value of the written
    // sign, which the sign check alone cannot tell from a real one: only the early stop can.
    {"TenDigitsWrapToZero", u"Trimbolt64.exe 4294967296", 50},
    {"NegativeTenDigitsWrapToZero", u"Trimbolt64.exe -4294967296", 50},
    {"NegativeTenDigitsWrapToNegative", u"Trimbolt64.exe -4294967306", 50},
    {"ElevenDigitsWrapToZero", u"Trimbolt64.exe 42949672960", 50},
    {"ElevenDigits", u"Trimbolt64.exe 21474836470", 50},
    {"ManyLeadingZeros", u"Trimbolt64.exe 000000000000000000042", 42},
    // Hexadecimal.
    {"DollarHex", u"Trimbolt64.exe $1E", 30},
    {"ZeroXHex", u"Trimbolt64.exe 0x64", 100},
    {"ZeroUpperXHex", u"Trimbolt64.exe 0X1e", 30},
    {"BareXHex", u"Trimbolt64.exe x0A", 10},
    {"BareUpperXHex", u"Trimbolt64.exe X0a", 10},
    {"EightFsAreMinusOne", u"Trimbolt64.exe $FFFFFFFF", 1},
    {"HexSignBit", u"Trimbolt64.exe $80000000", 1},
    {"HexLargestPositive", u"Trimbolt64.exe $7FFFFFFF", 100},
    {"NineSignificantHexDigits", u"Trimbolt64.exe $100000000", 50},
    {"HexLeadingZerosDoNotCount", u"Trimbolt64.exe $000000001E", 30},
    {"NegativeHex", u"Trimbolt64.exe -$10", 1},
    {"NegatedEightFs", u"Trimbolt64.exe -$FFFFFFFF", 1},
    {"NegatedHexSignBit", u"Trimbolt64.exe -0x80000000", 1},
    {"PlusHex", u"Trimbolt64.exe +$1E", 30},
    {"HexBadDigit", u"Trimbolt64.exe $1G", 50},
    // Spaces inside the text.
    {"QuotedLeadingSpace", u"Trimbolt64.exe \" 30\"", 30},
    {"QuotedManyLeadingSpaces", u"Trimbolt64.exe \"    30\"", 30},
    {"QuotedTrailingSpace", u"Trimbolt64.exe \"30 \"", 50},
    {"QuotedLeadingTab", u"Trimbolt64.exe \"\t30\"", 50},
    {"QuotedSpaceAfterSign", u"Trimbolt64.exe \"- 5\"", 50},
    // Splitting.
    {"OnlyFirstArgumentCounts", u"Trimbolt64.exe 30 70", 30},
    {"QuotedProgramPathWithSpaces", u"\"C:\\Program Files\\Trimbolt64.exe\" 30", 30},
    {"UnquotedPathEndsAtSpace", u"C:\\Program Files\\Trimbolt64.exe 30", 50},
    {"PairOfQuotesIsSkipped", u"Trimbolt64.exe \"\" 30", 30},
    {"PairOfQuotesTouchingTheNext", u"Trimbolt64.exe \"\"30", 30},
    {"SeveralPairsOfQuotes", u"Trimbolt64.exe \"\" \"\"\"\" 30", 30},
    {"QuotesInsideAnArgument", u"Trimbolt64.exe 3\"\"0", 30},
    {"QuotedPiecesJoin", u"Trimbolt64.exe \"3\"0", 30},
    {"UnclosedQuoteRunsToTheEnd", u"Trimbolt64.exe \"30", 30},
    {"UnclosedQuoteTakesSpaces", u"Trimbolt64.exe \"30 70", 50},
    {"LoneQuoteIsAnEmptyArgument", u"Trimbolt64.exe \"", 50},
    {"BackslashHasNoMeaning", u"Trimbolt64.exe \\\"30\\\"", 50},
    {"TabsSeparate", u"Trimbolt64.exe\t30\t70", 30},
    {"ControlCharactersSeparate", u"Trimbolt64.exe\x01\x1f 30", 30},
    {"LeadingSeparatorsBeforeProgram", u"  \t Trimbolt64.exe 30", 30},
    {"NulEndsTheLine", std::u16string(u"Trimbolt64.exe \0 30", 19), 50},
    {"NulEndsAnArgument",
     std::u16string(u"Trimbolt64.exe 3\0"
                    u"0",
                    18),
     3},
    {"DeleteIsNotASeparator",
     u"Trimbolt64.exe \x7f"
     u"30",
     50},
};

INSTANTIATE_TEST_SUITE_P(Cases, TrimPercentFromCommandLineTest, ::testing::ValuesIn(kPercentCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(ArgumentReaderTest, SplitsAWholeLine) {
  trim::ArgumentReader reader(u"\"C:\\A B\\p.exe\"  one\t\"two three\" \"\" fo\"u\"r \"five");
  EXPECT_EQ(reader.Next(), u"C:\\A B\\p.exe");
  EXPECT_EQ(reader.Next(), u"one");
  EXPECT_EQ(reader.Next(), u"two three");
  EXPECT_EQ(reader.Next(), u"four");
  EXPECT_EQ(reader.Next(), u"five");
  EXPECT_EQ(reader.Next(), std::nullopt);
  EXPECT_EQ(reader.Next(), std::nullopt);
}

TEST(ParseInt32Test, ReturnsTheExactValueOverTheWholeRange) {
  struct Case {
    std::u16string text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {u"2147483647", 2147483647},
      {u"-2147483648", -2147483647 - 1},
      {u"-2147483647", -2147483647},
      {u"2147483648", std::nullopt},
      {u"$FFFFFFFF", -1},
      {u"$80000000", -2147483647 - 1},
      {u"-$80000000", -2147483647 - 1},
      {u"-$7FFFFFFF", -2147483647},
      {u"0x0", 0},
      {u"  -12", -12},
      {u"12 ", std::nullopt},
      {u"", std::nullopt},
      {u"   ", std::nullopt},
      {u"$fffffff0", -16},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trim::ParseInt32(c.text), c.value) << std::string(c.text.begin(), c.text.end());
  }
}

}  // namespace
