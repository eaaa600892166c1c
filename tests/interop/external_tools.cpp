#include "interop/external_tools.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace plimsy::test {

bool toolAvailable(const std::string& program) {
  if (program.find('/') != std::string::npos) return std::filesystem::exists(program);
  std::string ignored;
  return runCommand("command -v " + shellQuote(program), ignored) == 0;
}

bool toolsRequired() {
  const char* value = std::getenv("PLIMSY_REQUIRE_TOOLS");
  return value != nullptr && std::string(value) == "1";
}

int runCommand(const std::string& commandLine, std::string& output) {
  TempDir scratch;
  const std::filesystem::path log = scratch.path() / "output.txt";
  const std::string full = "(" + commandLine + ") >" + shellQuote(log.string()) + " 2>&1 </dev/null";
  const int status = std::system(full.c_str());
  std::ifstream in(log, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  output = text.str();
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void expectTool(const std::string& commandLine) {
  std::string output;
  EXPECT_EQ(runCommand(commandLine, output), 0) << commandLine << "\n" << output.substr(0, 4000);
}

std::string shellQuote(std::string_view word) {
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  quoted += "'";
  return quoted;
}

}  // namespace plimsy::test
