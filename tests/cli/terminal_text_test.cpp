// What plimsy-cli prints must not drive the terminal.

#include "cli/terminal_text.h"

#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace plimsy::cli {
namespace {

TEST(EscapeControls, ControlsBecomeVisibleAndEverythingElseStays) {
  const std::pair<std::string, std::string> cases[] = {
      // Sequences that retitle, clear and recolour the terminal.
      {"\x1B]0;owned\x07", "\\x1B]0;owned\\x07"},
      {"a\x1B[2J\x1B[Hb", "a\\x1B[2J\\x1B[Hb"},
      {"\x1B[31mred\x1B[0m", "\\x1B[31mred\\x1B[0m"},
      // A carriage return that would overwrite the line; a bell; NUL; DEL.
      {"evil.txt\rgood.txt", "evil.txt\\x0Dgood.txt"},
      {std::string("\x07\x00\x7F", 3), "\\x07\\x00\\x7F"},
      {"\x0B\x0C\x1F", "\\x0B\\x0C\\x1F"},
      // C1 controls: CSI (U+009B) is ESC [ for terminals that honour it.
      {"\xC2\x9B"
       "2J",
       "\\u009B2J"},
      {"\xC2\x80\xC2\x9F", "\\u0080\\u009F"},
      // Bytes that are not UTF-8 are shown as U+FFFD, as in every message; a
      // lone 0x9B is no C1 control for anyone then.
      {"\x9B"
       "2J",
       "\xEF\xBF\xBD"
       "2J"},
      // Unchanged: line feeds, tabs, letters of any script, U+00A0 and up,
      // printf-like and escape-like text.
      {"Unsafe file name in zip file:\nname", "Unsafe file name in zip file:\nname"},
      {"a\tb", "a\tb"},
      {"\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\x96",
       "\xC3\xA9t\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\x96"},
      {"\xC2\xA0\xC2\xBF", "\xC2\xA0\xC2\xBF"},
      {"100% %s %n", "100% %s %n"},
      {"C:\\Users\\book", "C:\\Users\\book"},
      {"", ""},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(escapeControls(text), expected) << text;
}

}  // namespace
}  // namespace plimsy::cli
