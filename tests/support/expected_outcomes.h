#pragma once

// Expected outcomes of data-driven tests (the peer archives, the fuzzers'
// seed corpora), kept in the repository as manifests: one line per input,
//   name -> outcome
// sorted by name, with the outcome's line feeds and other control characters
// escaped. A test works out the outcome of every input and compares them all
// with its manifest at once, so that one run reports every difference.
//
// With PLIMSY_UPDATE_EXPECTED=1 in the environment the test rewrites its
// manifest from what it got instead of comparing: the way to take in a
// deliberate change, reviewed as the manifest's diff (tests/expected/README.md).

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace plimsy::test {

// Outcome by input name.
using Outcomes = std::map<std::string, std::string>;

// The outcome texts.
//   reader: "opened, 3 entries", "opened, 3 entries; analysis log: <message>" or the open's message
//   unzip:  "unzipped, 3 files" or the job's message
// A message stands by its first line when that is a whole sentence (the
// path and the system's reason that follow it vary from run to run).
std::string readerOutcome(bool opened, std::uint64_t entries, const std::string& message);
std::string unzipOutcome(bool unzipped, std::uint64_t files, const std::string& message);

// The text on one line: "\\" for a backslash, "\n", "\r", "\t", and "\xHH"
// for any other control byte.
std::string manifestText(std::string_view text);

// The manifest of that name in tests/expected.
std::filesystem::path expectedOutcomesFile(const std::string& name);

// Compares `got` with the manifest and adds one test failure that lists every
// input whose outcome differs from its line, every line whose input is gone,
// and every input without a line. With PLIMSY_UPDATE_EXPECTED=1, writes the
// manifest from `got` instead (under a comment line naming `title`).
void expectOutcomes(const std::filesystem::path& manifest, const std::string& title, const Outcomes& got);

}  // namespace plimsy::test
