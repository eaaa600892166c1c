#pragma once

// Running other people's tools on our archives from a test. A missing tool
// skips the test, unless PLIMSY_REQUIRE_TOOLS=1 is set (as in CI): then it
// fails it.

#include <string>
#include <string_view>

namespace plimsy::test {

// Whether a program of this name is on the PATH (or the path exists).
bool toolAvailable(const std::string& program);

// Whether missing tools fail tests instead of skipping them.
bool toolsRequired();

// Runs a shell command line; returns its exit status (-1 when it could not be
// run). Standard output and error, together, go to `output`.
int runCommand(const std::string& commandLine, std::string& output);

// Runs a shell command line and expects it to succeed; shows its output
// (the first 4,000 characters) when it does not.
void expectTool(const std::string& commandLine);

// A word for a POSIX shell: single-quoted, with embedded quotes escaped.
std::string shellQuote(std::string_view word);

}  // namespace plimsy::test

// Skips (or fails, when tools are required) the test when a tool is missing.
#define PLIMSY_REQUIRE_TOOL(program)                                                       \
  do {                                                                                     \
    if (!::plimsy::test::toolAvailable(program)) {                                         \
      if (::plimsy::test::toolsRequired()) FAIL() << "required tool missing: " << program; \
      GTEST_SKIP() << "tool missing: " << program;                                         \
    }                                                                                      \
  } while (false)
