#pragma once

// plimsy-cli's help and usage texts: wrapped for an 80-column console, and
// the usage errors that CLI11 words or orders badly.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plimsy::cli {

// The longest line of the help. A console 80 columns wide moves to the next
// line after a full one, so that an 80-character line and its line feed
// would leave an empty line behind.
inline constexpr std::size_t kHelpWidth = 79;
// Where the descriptions of options and commands begin.
inline constexpr std::size_t kHelpColumn = 30;

// `text` with its spaces turned into line feeds where a line would grow past
// `width` characters (counted as Unicode characters of UTF-8 text). Line feeds
// already in it stay; a word longer than `width` stands alone on its line;
// spaces at the ends of lines go.
std::string wrapWords(std::string_view text, std::size_t width);

// "The following argument was not expected: a" or "The following arguments
// were not expected: a b c", the arguments in the order given.
std::string unexpectedArgumentsText(const std::vector<std::string>& arguments);

// The command that `arguments` (without the program name) name but `commands`
// lack: the first word not starting with "-", when it is none of them. Empty
// when there is no such word or it is a command.
std::string unknownCommand(const std::vector<std::string>& arguments, const std::vector<std::string>& commands);

}  // namespace plimsy::cli
