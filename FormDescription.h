#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Window.h"

// A window described in the program's own small text format (see resources/WindowDescription.md):
// what the form looks like, which handlers it calls, and the components it owns.
struct ComponentDescription {
  std::u16string name;
  std::u16string className;
  int left = 0;
  int top = 0;
  std::u16string onTimer;
  std::optional<std::uint32_t> interval;
  std::optional<bool> enabled;
};

struct FormDescription {
  std::u16string name;
  std::u16string className;
  int left = 0;
  int top = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  platform::FormBorder border = platform::FormBorder::kSingle;
  bool systemMenu = false;
  bool minimizeBox = false;
  bool maximizeBox = false;
  bool helpButton = false;
  std::u16string caption;
  int color = 0;  // a system colour index
  std::u16string fontName;
  int fontCharset = 0;
  int fontHeight = 0;
  int fontColor = 0;  // a system colour index
  bool fontBold = false;
  bool fontItalic = false;
  bool fontUnderline = false;
  bool fontStrikeOut = false;
  int pixelsPerInch = 96;
  int textHeight = 0;
  std::u16string icon;
  std::u16string onCreate;
  std::u16string onCloseQuery;
  std::vector<ComponentDescription> components;
};

// Reads a description; throws AppError, naming the line and what is wrong, when the text does
// not follow the format.
FormDescription ParseFormDescription(std::string_view text);
