#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "forms/AppError.h"
#include "forms/FormDescription.h"
#include "tests/double/PlatformDouble.h"

namespace {

using platform::testing::SourceFile;

std::string Utf8Of(const std::u16string& text) {
  std::string out;
  for (char16_t c : text)
    out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

TEST(FormDescriptionTest, TheMainWindowDescriptionReadsAsDesigned) {
  const FormDescription d = ParseFormDescription(SourceFile("resources/MainForm.window"));
  EXPECT_EQ(d.name, u"MainForm");
  EXPECT_EQ(d.appearance.className, u"TMainForm");
  EXPECT_EQ(d.appearance.left, 431);
  EXPECT_EQ(d.appearance.top, 251);
  EXPECT_EQ(d.appearance.clientWidth, 197);
  EXPECT_EQ(d.appearance.clientHeight, 125);
  EXPECT_EQ(d.appearance.border, platform::FormBorder::kSingle);
  EXPECT_TRUE(d.appearance.systemMenu);
  EXPECT_FALSE(d.appearance.minimizeBox || d.appearance.maximizeBox || d.appearance.helpButton);
  EXPECT_EQ(d.appearance.caption, u"Trimbolt");
  EXPECT_EQ(d.appearance.backgroundColor, 15);  // COLOR_BTNFACE
  EXPECT_EQ(d.appearance.font.name, u"ＭＳ Ｐゴシック");
  EXPECT_EQ(d.appearance.font.charset, 128);  // SHIFTJIS_CHARSET
  EXPECT_EQ(d.appearance.font.height, -12);
  EXPECT_EQ(d.fontColor, 8);  // COLOR_WINDOWTEXT
  EXPECT_FALSE(d.appearance.font.bold || d.appearance.font.italic || d.appearance.font.underline ||
               d.appearance.font.strikeOut);
  EXPECT_EQ(d.appearance.pixelsPerInch, 96);
  EXPECT_EQ(d.textHeight, 12);
  EXPECT_EQ(d.appearance.iconName, u"MAINICON");
  EXPECT_EQ(d.onCreate, u"FormCreate");
  EXPECT_EQ(d.onCloseQuery, u"FormCloseQuery");
  ASSERT_EQ(d.components.size(), 1u);
  const ComponentDescription& timer = d.components[0];
  EXPECT_EQ(timer.name, u"Timer");
  EXPECT_EQ(timer.className, u"TTimer");
  EXPECT_EQ(timer.left, 24);
  EXPECT_EQ(timer.top, 24);
  EXPECT_EQ(timer.onTimer, u"TimerTimer");
  EXPECT_FALSE(timer.interval.has_value());  // left at the default
  EXPECT_FALSE(timer.enabled.has_value());
}

TEST(FormDescriptionTest, CarriageReturnsCommentsAndFlagSetsAreRead) {
  std::string text = SourceFile("resources/MainForm.window");
  std::string crlf;
  for (char c : text)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  crlf.replace(crlf.find("border-icons system-menu"), 24, "border-icons system-menu  help");
  crlf.replace(crlf.find("font-style"), 10, "font-style bold italic");
  crlf.replace(crlf.find("    on-timer"), 4, "    # a comment\r\n    interval 250\r\n    ");
  const FormDescription d = ParseFormDescription(crlf);
  EXPECT_EQ(d.appearance.caption, u"Trimbolt");  // no CR left in values
  EXPECT_TRUE(d.appearance.systemMenu && d.appearance.helpButton);
  EXPECT_TRUE(d.appearance.font.bold && d.appearance.font.italic);
  EXPECT_EQ(d.components[0].interval, 250u);
}

// The real description with one line's value replaced.
FormDescription ParseWith(const std::string& key, const std::string& value) {
  std::string text = SourceFile("resources/MainForm.window");
  const std::size_t at = text.find("\n  " + key) + 1;
  const std::size_t end = text.find('\n', at);
  text.replace(at, end - at, "  " + key + " " + value);
  return ParseFormDescription(text);
}

TEST(FormDescriptionTest, EachStyleAndBorderIconFlagSetsItsOwnFieldAlone) {
  using Font = platform::FormFont;
  for (const auto& [word, field] : {std::pair{"bold", &Font::bold},
                                    {"italic", &Font::italic},
                                    {"underline", &Font::underline},
                                    {"strikeout", &Font::strikeOut}}) {
    const Font font = ParseWith("font-style", word).appearance.font;
    for (const bool Font::*other :
         {&Font::bold, &Font::italic, &Font::underline, &Font::strikeOut}) {
      EXPECT_EQ(font.*other, other == field) << word;
    }
  }
  using Look = platform::FormAppearance;
  for (const auto& [word, field] : {std::pair{"system-menu", &Look::systemMenu},
                                    {"minimize", &Look::minimizeBox},
                                    {"maximize", &Look::maximizeBox},
                                    {"help", &Look::helpButton}}) {
    const Look look = ParseWith("border-icons", word).appearance;
    for (const bool Look::*other :
         {&Look::systemMenu, &Look::minimizeBox, &Look::maximizeBox, &Look::helpButton}) {
      EXPECT_EQ(look.*other, other == field) << word;
    }
  }
}

TEST(FormDescriptionTest, TextTakesEveryCodePointUpToTheEdgesOfUtf8) {
  struct Case {
    const char* utf8;
    std::u16string text;
  };
  const Case cases[] = {
      {"\x7f", u"\u007f"},                  // the last one-byte form
      {"\xc2\x80", u"\u0080"},              // the first two-byte form
      {"\xdf\xbf", u"\u07ff"},              // the last two-byte form
      {"\xe0\xa0\x80", u"\u0800"},          // the first three-byte form
      {"\xed\x9f\xbf", u"\ud7ff"},          // just below the surrogates
      {"\xee\x80\x80", u"\ue000"},          // just above them
      {"\xef\xbf\xbf", u"\uffff"},          // the last three-byte form
      {"\xf0\x90\x80\x80", u"\U00010000"},  // the first four-byte form: a surrogate pair
      {"\xf0\x9f\x94\x8b", u"\U0001F50B"},  // a pair with both halves' bits set
      {"\xf4\x8f\xbf\xbf", u"\U0010FFFF"},  // the last code point
      {"A\xe3\x81\x82Z", u"A\u3042Z"},      // mixed lengths in a row
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseWith("caption", c.utf8).appearance.caption, c.text) << Utf8Of(c.text);
  }
}

struct BrokenCase {
  const char* name;
  const char* find;     // replace this part of the real description...
  const char* replace;  // ...with this
  int line;             // the error names this line...
  const char* message;  // ...and this fault
};

std::ostream& operator<<(std::ostream& out, const BrokenCase& c) {
  return out << c.name;
}

class BrokenDescriptionTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenDescriptionTest, IsRefusedWithTheLineAndTheFault) {
  std::string text = SourceFile("resources/MainForm.window");
  const std::size_t at = text.find(GetParam().find);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, std::string(GetParam().find).size(), GetParam().replace);
  try {
    ParseFormDescription(text);
    FAIL() << "accepted";
  } catch (const AppError& error) {
    const std::string message = Utf8Of(error.Text());
    EXPECT_THAT(message, ::testing::HasSubstr(GetParam().message));
    EXPECT_THAT(message, ::testing::ContainsRegex("[0-9]+ "));  // a line number
    const std::string line = std::to_string(GetParam().line);
    const std::u16string where = u"（" + std::u16string(line.begin(), line.end()) + u" 行目: ";
    EXPECT_NE(error.Text().find(where), std::u16string::npos)
        << message << " does not name line " << line;
  }
}

const BrokenCase kBrokenCases[] = {
    {"NoHeader", "trimbolt-window 1\n", "", 4, "not a window description"},
    {"NoForm", "form MainForm TMainForm", "window MainForm TMainForm", 5, "expected 'form'"},
    {"WrongVersion", "trimbolt-window 1", "trimbolt-window 2", 3, "not a window description"},
    {"UnknownProperty", "  top 251\n", "  top 251\n  colour red\n", 8, "unknown property 'colour'"},
    {"DuplicateProperty", "  top 251\n", "  top 251\n  top 1\n", 8, "'top' given twice"},
    // A missing property is reported at the line that opens its block.
    {"MissingProperty", "  caption Trimbolt\n", "", 5, "missing property 'caption'"},
    {"NotANumber", "left 431", "left 43x", 6, "'left' is not a 32-bit number"},
    {"NumberTooBig", "left 431", "left 4294967296", 6, "'left' is not a 32-bit number"},
    {"EmptyNumber", "left 431", "left", 6, "'left' is not a 32-bit number"},
    {"NegativeClientWidth", "client-width 197", "client-width -1", 8, "negative size"},
    {"NegativeClientHeight", "client-height 125", "client-height -1", 9, "negative size"},
    {"UnknownChoice", "border single", "border double", 10, "'border' has no such value"},
    {"UnknownFlag", "border-icons system-menu", "border-icons close", 11, "has no flag 'close'"},
    {"InvalidUtf8", "caption Trimbolt", "caption Trim\xff", 12, "'caption' is not UTF-8"},
    {"OverlongUtf8", "caption Trimbolt", "caption \xc0\xaf", 12, "'caption' is not UTF-8"},
    {"TruncatedUtf8", "caption Trimbolt", "caption \xe3\x81", 12, "'caption' is not UTF-8"},
    // Bytes F5 to FF never start a UTF-8 sequence, however many continuation bytes follow.
    {"Utf8LeadF5", "caption Trimbolt", "caption \xf5\x80\x80", 12, "'caption' is not UTF-8"},
    {"Utf8LeadF8", "caption Trimbolt", "caption \xf8\x88\x80", 12, "'caption' is not UTF-8"},
    {"Utf8LeadFF", "caption Trimbolt", "caption \xff\xbf\xbf", 12, "'caption' is not UTF-8"},
    // Well-formed sequences whose code point UTF-8 may not carry: beyond U+10FFFF (F4 90 80 80
    // is U+110000), a surrogate (ED A0 80 is U+D800, ED BF BF is U+DFFF), and "/" written in
    // three and in four bytes instead of one.
    {"Utf8AboveU10FFFF", "caption Trimbolt", "caption \xf4\x90\x80\x80", 12,
     "'caption' is not UTF-8"},
    {"Utf8FirstSurrogate", "caption Trimbolt", "caption \xed\xa0\x80", 12,
     "'caption' is not UTF-8"},
    {"Utf8LastSurrogate", "caption Trimbolt", "caption \xed\xbf\xbf", 12, "'caption' is not UTF-8"},
    {"Utf8OverlongThreeBytes", "caption Trimbolt", "caption \xe0\x80\xaf", 12,
     "'caption' is not UTF-8"},
    {"Utf8OverlongFourBytes", "caption Trimbolt", "caption \xf0\x80\x80\xaf", 12,
     "'caption' is not UTF-8"},
    {"ZeroResolution", "pixels-per-inch 96", "pixels-per-inch 0", 19,
     "resolution must be positive"},
    {"TimerWithoutHandler", "    on-timer TimerTimer\n", "", 25, "a timer needs 'on-timer'"},
    {"NegativeInterval", "    on-timer", "    interval -1\n    on-timer", 28, "negative interval"},
    {"UnknownEnabledValue", "    on-timer", "    enabled yes\n    on-timer", 28,
     "'enabled' has no such value"},
    {"NoEnd", "  end\nend\n", "  end\n", 29, "ends before the form's 'end'"},
    {"TextAfterEnd", "  end\nend\n", "  end\nend\nform X TMainForm\n", 31, "text after the form's"},
    {"FormWithoutClass", "form MainForm TMainForm", "form MainForm", 5, "a name and a class"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BrokenDescriptionTest, ::testing::ValuesIn(kBrokenCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(FormDescriptionTest, AnEmptyDescriptionIsRefused) {
  EXPECT_THROW(ParseFormDescription(""), AppError);
  EXPECT_THROW(ParseFormDescription("# only a comment\n\n"), AppError);
}

}  // namespace
