#include "cli/terminal_text.h"

#include <iterator>

#include <fmt/format.h>

#include "core/text.h"

namespace plimsy::cli {
std::string escapeControls(std::string_view text) {
  const std::string valid = displayUtf8(text);
  std::string out;
  out.reserve(valid.size());
  auto sink = std::back_inserter(out);
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const auto byte = static_cast<unsigned char>(valid[i]);
    const std::size_t control = byte == '\n' || byte == '\t' ? 0 : controlCharacterAt(valid, i);
    if (control == 2) {
      fmt::format_to(sink, "\\u{:04X}", static_cast<unsigned char>(valid[++i]));
    } else if (control == 1) {
      fmt::format_to(sink, "\\x{:02X}", byte);
    } else {
      out += valid[i];
    }
  }
  return out;
}

void printEscaped(std::FILE* stream, std::string_view text) {
  const std::string escaped = escapeControls(text);
  std::fwrite(escaped.data(), 1, escaped.size(), stream);
}

}  // namespace plimsy::cli
