#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

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

struct BrokenCase {
  const char* name;
  const char* find;     // replace this part of the real description...
  const char* replace;  // ...with this
  const char* message;  // the error names this
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
  }
}

const BrokenCase kBrokenCases[] = {
    {"NoHeader", "trimbolt-window 1\n", "", "not a window description"},
    {"NoForm", "form MainForm TMainForm", "window MainForm TMainForm", "expected 'form'"},
    {"WrongVersion", "trimbolt-window 1", "trimbolt-window 2", "not a window description"},
    {"UnknownProperty", "  top 251\n", "  top 251\n  colour red\n", "unknown property 'colour'"},
    {"DuplicateProperty", "  top 251\n", "  top 251\n  top 1\n", "'top' given twice"},
    {"MissingProperty", "  caption Trimbolt\n", "", "missing property 'caption'"},
    {"NotANumber", "left 431", "left 43x", "'left' is not a 32-bit number"},
    {"NumberTooBig", "left 431", "left 4294967296", "'left' is not a 32-bit number"},
    {"EmptyNumber", "left 431", "left", "'left' is not a 32-bit number"},
    {"UnknownChoice", "border single", "border double", "'border' has no such value"},
    {"UnknownFlag", "border-icons system-menu", "border-icons close", "has no flag 'close'"},
    {"InvalidUtf8", "caption Trimbolt", "caption Trim\xff", "'caption' is not UTF-8"},
    {"OverlongUtf8", "caption Trimbolt", "caption \xc0\xaf", "'caption' is not UTF-8"},
    {"TruncatedUtf8", "caption Trimbolt", "caption \xe3\x81", "'caption' is not UTF-8"},
    // Bytes F5 to FF never start a UTF-8 sequence, however many continuation bytes follow.
    {"Utf8LeadF5", "caption Trimbolt", "caption \xf5\x80\x80", "'caption' is not UTF-8"},
    {"Utf8LeadF8", "caption Trimbolt", "caption \xf8\x88\x80", "'caption' is not UTF-8"},
    {"Utf8LeadFF", "caption Trimbolt", "caption \xff\xbf\xbf", "'caption' is not UTF-8"},
    {"TimerWithoutHandler", "    on-timer TimerTimer\n", "", "a timer needs 'on-timer'"},
    {"NoEnd", "  end\nend\n", "  end\n", "ends before the form's 'end'"},
    {"TextAfterEnd", "  end\nend\n", "  end\nend\nform X TMainForm\n", "text after the form's"},
    {"FormWithoutClass", "form MainForm TMainForm", "form MainForm", "a name and a class"},
    {"ZeroResolution", "pixels-per-inch 96", "pixels-per-inch 0", "resolution must be positive"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BrokenDescriptionTest, ::testing::ValuesIn(kBrokenCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(FormDescriptionTest, AnEmptyDescriptionIsRefused) {
  EXPECT_THROW(ParseFormDescription(""), AppError);
  EXPECT_THROW(ParseFormDescription("# only a comment\n\n"), AppError);
}

}  // namespace
