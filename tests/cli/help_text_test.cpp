// plimsy-cli's help text wrapped for a console, and its usage errors' words.

#include "cli/help_text.h"

#include <gtest/gtest.h>

namespace plimsy::cli {
namespace {

TEST(HelpText, WrapsAtSpacesWithinTheWidth) {
  const struct {
    const char* text;
    std::size_t width;
    const char* wrapped;
  } cases[] = {
      {"", 10, ""},
      {"short", 10, "short"},
      {"one two three", 7, "one two\nthree"},
      {"one two three", 8, "one two\nthree"},
      {"one two three", 13, "one two three"},
      {"exactly ten", 10, "exactly\nten"},
      {"abcdefghijkl xy", 5, "abcdefghijkl\nxy"},                   // a long word stands alone, unbroken
      {"a  b   c", 3, "a b\nc"},                                    // runs of spaces are one break
      {" lead and trail ", 8, "lead and\ntrail"},                   // spaces at the ends go
      {"first\nsecond line here", 6, "first\nsecond\nline\nhere"},  // line feeds stay
      {"a\n\nb", 5, "a\n\nb"},
      {"\u00E9t\u00E9 \u00E9t\u00E9 x", 7, "\u00E9t\u00E9 \u00E9t\u00E9\nx"},  // characters, not bytes
  };
  for (const auto& c : cases) EXPECT_EQ(wrapWords(c.text, c.width), c.wrapped) << c.text << " / " << c.width;
}

TEST(HelpText, ListsUnexpectedArgumentsInTheOrderGiven) {
  EXPECT_EQ(unexpectedArgumentsText({"x"}), "The following argument was not expected: x");
  EXPECT_EQ(unexpectedArgumentsText({"c", "a", "b"}), "The following arguments were not expected: c a b");
}

TEST(HelpText, FindsTheFirstWordThatIsNoCommand) {
  const std::vector<std::string> commands = {"zip", "unzip"};
  const struct {
    std::vector<std::string> arguments;
    const char* unknown;
  } cases[] = {
      {{}, ""},          {{"zip", "zap"}, ""}, {{"zap", "zip"}, "zap"}, {{"--version", "zap"}, "zap"},
      {{"--bogus"}, ""}, {{"ZIP"}, "ZIP"},
  };
  for (const auto& c : cases) EXPECT_EQ(unknownCommand(c.arguments, commands), c.unknown);
}

}  // namespace
}  // namespace plimsy::cli
