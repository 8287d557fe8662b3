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
  // How the window looks: its class, caption, icon, position, size, frame, colour and font.
  platform::FormAppearance appearance;
  int fontColor = 0;  // a system colour index
  int textHeight = 0;
  std::u16string onCreate;
  std::u16string onCloseQuery;
  std::vector<ComponentDescription> components;
};

// Reads a description; throws AppError, naming the line and what is wrong, when the text does
// not follow the format.
FormDescription ParseFormDescription(std::string_view text);
