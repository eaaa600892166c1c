#include "ui/line_text.h"

#include <algorithm>

#include "core/paths.h"
#include "core/text.h"

namespace plimsy::ui {

std::string cutToCharacters(std::string_view text, std::size_t limit) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (startsCharacter && characters++ == limit) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string trimmedLineValue(std::string_view text) {
  return trimWhiteSpace(cutToCharacters(text, kLineCharacterLimit));
}

std::string lineValue(std::string_view text) {
  std::string value = trimmedLineValue(text);
  if (kBackslashIsSeparator) std::replace(value.begin(), value.end(), '/', kPreferredSeparator);
  return value;
}

}  // namespace plimsy::ui
