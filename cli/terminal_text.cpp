#include "cli/terminal_text.h"

#include <iterator>

#include <fmt/format.h>

#include "core/text.h"

namespace plimsy::cli {
namespace {

bool isC0OrDelete(unsigned char byte) { return (byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F; }

// In valid UTF-8, U+0080 to U+009F are C2 80 to C2 9F.
bool isC1At(std::string_view text, std::size_t i) {
  if (i + 1 >= text.size() || static_cast<unsigned char>(text[i]) != 0xC2) return false;
  const auto next = static_cast<unsigned char>(text[i + 1]);
  return next >= 0x80 && next <= 0x9F;
}

}  // namespace

std::string escapeControls(std::string_view text) {
  const std::string valid = displayUtf8(text);
  std::string out;
  out.reserve(valid.size());
  auto sink = std::back_inserter(out);
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const auto byte = static_cast<unsigned char>(valid[i]);
    if (isC1At(valid, i)) {
      fmt::format_to(sink, "\\u{:04X}", static_cast<unsigned char>(valid[++i]));
    } else if (isC0OrDelete(byte)) {
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
