#include "forms/FormDescription.h"

#include <charconv>
#include <initializer_list>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "forms/AppError.h"

namespace {

constexpr int kColorWindow = 5;
constexpr int kColorWindowText = 8;
constexpr int kColorButtonFace = 15;
constexpr int kCharsetAnsi = 0;
constexpr int kCharsetDefault = 1;
constexpr int kCharsetShiftJis = 128;

std::u16string Ascii(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::string Join(std::initializer_list<std::string_view> parts) {
  std::string joined;
  for (std::string_view part : parts)
    joined.append(part);
  return joined;
}

[[noreturn]] void Fail(std::size_t line, std::string_view what) {
  throw AppError(u"ウィンドウの記述が壊れています（" + Ascii(std::to_string(line)) + u" 行目: " +
                 Ascii(what) + u"）");
}

// Decodes UTF-8 strictly: overlong forms, surrogates, truncated sequences and bytes that never
// start a sequence (80 to C1, F5 to FF) are refused.
std::optional<std::u16string> DecodeUtf8(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    char32_t code = lead;
    if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0x80) {
      return std::nullopt;
    }
    if (i + length > text.size())
      return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u)
        return std::nullopt;
      code = (code << 6) | (next & 0x3Fu);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
      return std::nullopt;
    }
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += length;
  }
  return out;
}

std::vector<std::string_view> Words(std::string_view value) {
  std::vector<std::string_view> words;
  while (!value.empty()) {
    const std::size_t space = value.find(' ');
    if (space != 0)
      words.push_back(value.substr(0, space));
    if (space == std::string_view::npos)
      break;
    value.remove_prefix(space + 1);
  }
  return words;
}

// The properties of one block (the form or a component), checked as they come.
class Block {
 public:
  Block(std::size_t line, std::set<std::string_view> allowed)
      : line_(line), allowed_(std::move(allowed)) {}

  void Add(std::size_t line, std::string_view key, std::string_view value) {
    if (!allowed_.contains(key))
      Fail(line, Join({"unknown property '", key, "'"}));
    if (!values_.emplace(key, Entry{line, value}).second) {
      Fail(line, Join({"'", key, "' given twice"}));
    }
  }

  bool Has(std::string_view key) const { return values_.contains(key); }

  std::string_view Raw(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end())
      Fail(line_, Join({"missing property '", key, "'"}));
    return found->second.value;
  }

  std::size_t LineOf(std::string_view key) const {
    const auto found = values_.find(key);
    return found != values_.end() ? found->second.line : line_;
  }

  std::u16string Text(std::string_view key) const {
    std::optional<std::u16string> text = DecodeUtf8(Raw(key));
    if (!text)
      Fail(LineOf(key), Join({"'", key, "' is not UTF-8"}));
    return *text;
  }

  int Number(std::string_view key) const {
    const std::string_view raw = Raw(key);
    int value = 0;
    const auto [end, error] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
    if (raw.empty() || error != std::errc() || end != raw.data() + raw.size()) {
      Fail(LineOf(key), Join({"'", key, "' is not a 32-bit number"}));
    }
    return value;
  }

  int Choice(std::string_view key, const std::map<std::string_view, int>& choices) const {
    const auto found = choices.find(Raw(key));
    if (found == choices.end())
      Fail(LineOf(key), Join({"'", key, "' has no such value"}));
    return found->second;
  }

  // A set of flags: each word must be one of `names`.
  std::set<std::string_view> Flags(std::string_view key,
                                   const std::set<std::string_view>& names) const {
    std::set<std::string_view> flags;
    for (std::string_view word : Words(Raw(key))) {
      if (!names.contains(word)) {
        Fail(LineOf(key), Join({"'", key, "' has no flag '", word, "'"}));
      }
      flags.insert(word);
    }
    return flags;
  }

 private:
  struct Entry {
    std::size_t line;
    std::string_view value;
  };
  std::size_t line_;
  std::set<std::string_view> allowed_;
  std::map<std::string_view, Entry, std::less<>> values_;
};

// The tables are built on first use rather than before the program starts, so that a failure to
// build them is a start-up failure with its error box instead of an end without one.
const std::map<std::string_view, int>& Colors() {
  static const std::map<std::string_view, int> colors = {{"button-face", kColorButtonFace},
                                                         {"window", kColorWindow},
                                                         {"window-text", kColorWindowText}};
  return colors;
}

const std::set<std::string_view>& FormProperties() {
  static const std::set<std::string_view> properties = {
      "left",         "top",        "client-width",  "client-height",   "border",
      "border-icons", "caption",    "color",         "font-name",       "font-charset",
      "font-height",  "font-color", "font-style",    "pixels-per-inch", "text-height",
      "icon",         "on-create",  "on-close-query"};
  return properties;
}

const std::set<std::string_view>& ComponentProperties() {
  static const std::set<std::string_view> properties = {"left", "top", "on-timer", "interval",
                                                        "enabled"};
  return properties;
}

// Splits "<name> <class>" after `form` or `component`.
std::pair<std::u16string, std::u16string> NameAndClass(std::size_t line, std::string_view value) {
  const std::vector<std::string_view> words = Words(value);
  if (words.size() != 2)
    Fail(line, "expected a name and a class");
  return {Ascii(words[0]), Ascii(words[1])};
}

FormDescription ReadForm(const Block& form) {
  FormDescription d;
  platform::FormAppearance& look = d.appearance;
  look.left = form.Number("left");
  look.top = form.Number("top");
  look.clientWidth = form.Number("client-width");
  look.clientHeight = form.Number("client-height");
  if (look.clientWidth < 0)
    Fail(form.LineOf("client-width"), "negative size");
  if (look.clientHeight < 0)
    Fail(form.LineOf("client-height"), "negative size");
  using platform::FormBorder;
  look.border = static_cast<FormBorder>(
      form.Choice("border", {{"none", static_cast<int>(FormBorder::kNone)},
                             {"single", static_cast<int>(FormBorder::kSingle)},
                             {"sizeable", static_cast<int>(FormBorder::kSizeable)}}));
  const auto icons = form.Flags("border-icons", {"system-menu", "minimize", "maximize", "help"});
  look.systemMenu = icons.contains("system-menu");
  look.minimizeBox = icons.contains("minimize");
  look.maximizeBox = icons.contains("maximize");
  look.helpButton = icons.contains("help");
  look.caption = form.Text("caption");
  look.backgroundColor = form.Choice("color", Colors());
  look.font.name = form.Text("font-name");
  look.font.charset = form.Choice(
      "font-charset",
      {{"ansi", kCharsetAnsi}, {"default", kCharsetDefault}, {"shift-jis", kCharsetShiftJis}});
  look.font.height = form.Number("font-height");
  d.fontColor = form.Choice("font-color", Colors());
  const auto style = form.Flags("font-style", {"bold", "italic", "underline", "strikeout"});
  look.font.bold = style.contains("bold");
  look.font.italic = style.contains("italic");
  look.font.underline = style.contains("underline");
  look.font.strikeOut = style.contains("strikeout");
  look.pixelsPerInch = form.Number("pixels-per-inch");
  if (look.pixelsPerInch <= 0)
    Fail(form.LineOf("pixels-per-inch"), "resolution must be positive");
  d.textHeight = form.Number("text-height");
  look.iconName = form.Text("icon");
  d.onCreate = form.Text("on-create");
  d.onCloseQuery = form.Text("on-close-query");
  return d;
}

ComponentDescription ReadComponent(const Block& block, std::pair<std::u16string, std::u16string> id,
                                   std::size_t line) {
  ComponentDescription c;
  c.name = std::move(id.first);
  c.className = std::move(id.second);
  c.left = block.Number("left");
  c.top = block.Number("top");
  if (block.Has("on-timer"))
    c.onTimer = block.Text("on-timer");
  if (c.className == u"TTimer" && c.onTimer.empty())
    Fail(line, "a timer needs 'on-timer'");
  if (block.Has("interval")) {
    const int interval = block.Number("interval");
    if (interval < 0)
      Fail(block.LineOf("interval"), "negative interval");
    c.interval = static_cast<std::uint32_t>(interval);
  }
  if (block.Has("enabled")) {
    c.enabled = block.Choice("enabled", {{"true", 1}, {"false", 0}}) != 0;
  }
  return c;
}

}  // namespace

FormDescription ParseFormDescription(std::string_view text) {
  enum class Where { kStart, kHeader, kForm, kComponent, kDone };
  Where where = Where::kStart;
  std::optional<Block> form;
  std::optional<Block> component;
  std::pair<std::u16string, std::u16string> formId;
  std::pair<std::u16string, std::u16string> componentId;
  std::size_t componentLine = 0;
  std::vector<ComponentDescription> components;

  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    const std::size_t indent = line.find_first_not_of(" \t");
    if (indent == std::string_view::npos || line[indent] == '#')
      continue;
    line.remove_prefix(indent);

    const std::size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view value =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);

    switch (where) {
      case Where::kStart:
        if (key != "trimbolt-window" || value != "1")
          Fail(lineNumber, "not a window description");
        where = Where::kHeader;
        break;
      case Where::kHeader:
        if (key != "form")
          Fail(lineNumber, "expected 'form'");
        formId = NameAndClass(lineNumber, value);
        form.emplace(lineNumber, FormProperties());
        where = Where::kForm;
        break;
      case Where::kForm:
        if (key == "component") {
          componentId = NameAndClass(lineNumber, value);
          componentLine = lineNumber;
          component.emplace(lineNumber, ComponentProperties());
          where = Where::kComponent;
        } else if (key == "end" && value.empty()) {
          where = Where::kDone;
        } else {
          form->Add(lineNumber, key, value);
        }
        break;
      case Where::kComponent:
        if (key == "end" && value.empty()) {
          components.push_back(
              ReadComponent(*component, std::exchange(componentId, {}), componentLine));
          component.reset();
          where = Where::kForm;
        } else {
          component->Add(lineNumber, key, value);
        }
        break;
      case Where::kDone:
        Fail(lineNumber, "text after the form's 'end'");
    }
  }
  if (where != Where::kDone)
    Fail(lineNumber, "the description ends before the form's 'end'");

  FormDescription description = ReadForm(*form);
  description.name = std::move(formId.first);
  description.appearance.className = std::move(formId.second);
  description.components = std::move(components);
  return description;
}
