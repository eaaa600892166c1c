#include "cli/help_text.h"

#include <algorithm>

namespace plimsy::cli {

namespace {

// Unicode characters in UTF-8 text: the bytes that do not continue one.
std::size_t characters(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

void wrapLine(std::string_view line, std::size_t width, std::string& out) {
  std::size_t used = 0;
  bool first = true;
  std::size_t at = 0;
  while (at < line.size()) {
    if (line[at] == ' ') {
      ++at;
      continue;
    }
    const std::size_t end = std::min(line.find(' ', at), line.size());
    const std::string_view word = line.substr(at, end - at);
    const std::size_t length = characters(word);
    if (first) {
      first = false;
    } else if (used + 1 + length > width) {
      out += '\n';
      used = 0;
    } else {
      out += ' ';
      ++used;
    }
    out += word;
    used += length;
    at = end;
  }
}

}  // namespace

std::string wrapWords(std::string_view text, std::size_t width) {
  std::string out;
  std::size_t at = 0;
  while (true) {
    const std::size_t end = text.find('\n', at);
    wrapLine(text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at), width, out);
    if (end == std::string_view::npos) break;
    out += '\n';
    at = end + 1;
  }
  return out;
}

std::string unexpectedArgumentsText(const std::vector<std::string>& arguments) {
  std::string text =
      arguments.size() == 1 ? "The following argument was not expected:" : "The following arguments were not expected:";
  for (const std::string& argument : arguments) text += " " + argument;
  return text;
}

std::string unknownCommand(const std::vector<std::string>& arguments, const std::vector<std::string>& commands) {
  for (const std::string& argument : arguments) {
    if (!argument.empty() && argument[0] == '-') continue;
    if (std::find(commands.begin(), commands.end(), argument) != commands.end()) return {};
    return argument;
  }
  return {};
}

}  // namespace plimsy::cli
