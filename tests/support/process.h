#pragma once

// Runs another program and collects what it prints: the same on every system.

#include <filesystem>
#include <string>
#include <vector>

namespace plimsy::test {

struct ProgramRun {
  int exitCode = -1;   // -1 when the program could not be started or did not exit normally
  std::string output;  // standard output and standard error together
};

// Runs `program` with `arguments` (each passed as one word, unchanged) in the
// folder `folder`, with nothing on its standard input.
ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder);

// Splits a command line into words at spaces; 'single quotes' keep spaces and
// make empty words (''), as a POSIX shell does, on every system.
std::vector<std::string> splitWords(const std::string& commandLine);

}  // namespace plimsy::test
