#include "support/expected_outcomes.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/paths.h"

namespace fs = std::filesystem;

namespace plimsy::test {
namespace {

constexpr std::string_view kSeparator = " -> ";

std::string counted(std::uint64_t n, const char* one, const char* many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

bool regenerating() {
  const char* value = std::getenv("PLIMSY_UPDATE_EXPECTED");
  return value != nullptr && std::string_view(value) == "1";
}

void writeManifest(const fs::path& manifest, const std::string& title, const Outcomes& got) {
  std::error_code ignored;
  fs::create_directories(manifest.parent_path(), ignored);
  std::ofstream out(manifest, std::ios::binary | std::ios::trunc);
  out << "# " << title << ": expected outcomes, one line per input (name -> outcome).\n"
      << "# Written by the test with PLIMSY_UPDATE_EXPECTED=1; see tests/expected/README.md.\n";
  for (const auto& [name, outcome] : got) out << name << kSeparator << outcome << '\n';
  out.close();
  if (!out) {
    ADD_FAILURE() << "cannot write " << manifest;
    return;
  }
  std::cout << "Rewrote " << manifest.string() << " (" << got.size() << " lines)\n";
}

// Names and outcomes as the manifest's lines hold them.
Outcomes escaped(const Outcomes& outcomes) {
  Outcomes lines;
  for (const auto& [name, outcome] : outcomes) lines[manifestText(name)] = manifestText(outcome);
  return lines;
}

// The manifest's lines by name; a line without the separator is reported.
Outcomes readManifest(const fs::path& manifest, std::vector<std::string>& problems) {
  Outcomes expected;
  std::ifstream in(manifest, std::ios::binary);
  if (!in) problems.push_back(fmt::format("cannot read {}", manifest.string()));
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t at = line.find(kSeparator);
    if (at == std::string::npos) {
      problems.push_back(fmt::format("line {} has no \"{}\": {}", number, kSeparator, line));
      continue;
    }
    expected[line.substr(0, at)] = line.substr(at + kSeparator.size());
  }
  return expected;
}

void compare(const Outcomes& expected, const Outcomes& got, std::vector<std::string>& problems) {
  for (const auto& [name, outcome] : got) {
    const auto line = expected.find(name);
    if (line == expected.end()) {
      problems.push_back(fmt::format("{}\n    no line; got: {}", name, outcome));
    } else if (line->second != outcome) {
      problems.push_back(fmt::format("{}\n    expected: {}\n    got:      {}", name, line->second, outcome));
    }
  }
  for (const auto& [name, outcome] : expected) {
    if (got.count(name) == 0) problems.push_back(fmt::format("{}\n    listed, but there is no such input", name));
  }
}

// A message whose first line is a whole sentence carries the path it is
// about and the system's reason on the lines after it: they name the test's
// temporary files and the system's own wording, so the outcome is the first
// line. (A first line ending in ":" introduces the name it is about.)
std::string outcomeOf(const std::string& message) {
  const std::size_t end = message.find('\n');
  if (end == std::string::npos || end == 0 || message[end - 1] != '.') return message;
  return message.substr(0, end);
}

}  // namespace

std::string readerOutcome(bool opened, std::uint64_t entries, const std::string& message) {
  if (!opened) return outcomeOf(message);
  const std::string text = "opened, " + counted(entries, "entry", "entries");
  return message.empty() ? text : text + "; analysis log: " + outcomeOf(message);
}

std::string unzipOutcome(bool unzipped, std::uint64_t files, const std::string& message) {
  return unzipped ? "unzipped, " + counted(files, "file", "files") : outcomeOf(message);
}

std::string manifestText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F)
          out += fmt::format("\\x{:02X}", byte);
        else
          out += c;
    }
  }
  return out;
}

fs::path expectedOutcomesFile(const std::string& name) {
  return fs::path(PLIMSY_SOURCE_DIR) / "tests" / "expected" / name;
}

void expectOutcomes(const fs::path& manifest, const std::string& title, const Outcomes& got) {
  // Windows refuses names it cannot hold: its outcomes that differ are kept
  // in a manifest of their own beside the shared one, which it overrides.
  const fs::path overlay = fs::path(manifest).replace_extension(".windows.txt");
  std::vector<std::string> problems;
  if (regenerating()) {
    if (!kWindowsNameRules) {
      writeManifest(manifest, title, escaped(got));
      return;
    }
    const Outcomes shared = readManifest(manifest, problems);
    Outcomes differing;
    for (const auto& [name, outcome] : escaped(got)) {
      const auto line = shared.find(name);
      if (line == shared.end() || line->second != outcome) differing[name] = outcome;
    }
    std::error_code ignored;
    if (differing.empty())
      fs::remove(overlay, ignored);
    else
      writeManifest(overlay, title + " (where Windows differs)", differing);
    return;
  }
  Outcomes expected = readManifest(manifest, problems);
  if (kWindowsNameRules && fs::exists(overlay)) {
    for (auto& [name, outcome] : readManifest(overlay, problems)) expected[name] = std::move(outcome);
  }
  compare(expected, escaped(got), problems);
  if (problems.empty()) return;
  std::ostringstream report;
  report << problems.size() << " difference(s) from " << manifest.string()
         << " (if the change is meant, rerun with PLIMSY_UPDATE_EXPECTED=1 and review the diff):";
  for (const std::string& problem : problems) report << "\n  " << problem;
  ADD_FAILURE() << report.str();
}

}  // namespace plimsy::test
