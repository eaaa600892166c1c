#pragma once

// How the dialogs read a path or text line: at most 999 characters, white
// space (U+0020, U+0009..U+000D) trimmed at both ends, and "/" turned into
// the preferred separator where "\\" is one (on POSIX "/" stays as it is).

#include <cstddef>
#include <string>
#include <string_view>

namespace plimsy::ui {

inline constexpr std::size_t kLineCharacterLimit = 999;

// The first `limit` characters (code points) of UTF-8 text.
std::string cutToCharacters(std::string_view text, std::size_t limit);

// A line's text as the dialogs store it: cut, trimmed, separators made the
// platform's.
std::string lineValue(std::string_view text);

// A line's text cut and trimmed, separators untouched.
std::string trimmedLineValue(std::string_view text);

}  // namespace plimsy::ui
