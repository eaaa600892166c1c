// The fuzzers' seed corpora, replayed through the fuzz targets' own code in
// the normal build: the targets keep building and running without clang, and
// every seed, the inputs of every defect a fuzzer found among them, comes to
// the outcome its target's manifest in tests/expected gives.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "fuzz/fuzz_targets.h"
#include "support/expected_outcomes.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

const fs::path kCorpora = fs::path(PLIMSY_SOURCE_DIR) / "fuzz" / "corpus";

using Outcome = std::function<std::string(const std::string& bytes)>;

// Replays every seed of the target's corpus and checks the outcomes against
// the manifest of the same name; returns how many seeds there were.
std::size_t replay(const std::string& target, const Outcome& outcome) {
  test::Outcomes outcomes;
  for (const fs::directory_entry& item : fs::directory_iterator(kCorpora / target)) {
    SCOPED_TRACE(item.path().string());
    outcomes[item.path().filename().string()] = outcome(test::readFile(item.path()));
  }
  test::expectOutcomes(test::expectedOutcomesFile(target + ".txt"), "Seeds of " + target, outcomes);
  return outcomes.size();
}

const std::uint8_t* bytesOf(const std::string& bytes) { return reinterpret_cast<const std::uint8_t*>(bytes.data()); }

std::string readerOutcome(const std::string& bytes) {
  const fuzz::sReaderOutcome outcome = fuzz::zipReaderOutcome(bytesOf(bytes), bytes.size());
  return test::readerOutcome(outcome.opened, outcome.entries, outcome.message);
}

std::string unzipOutcome(const std::string& bytes) {
  const fuzz::sUnzipOutcome outcome = fuzz::unzipJobOutcome(bytesOf(bytes), bytes.size());
  return test::unzipOutcome(outcome.unzipped, outcome.files, outcome.message);
}

// The target's own checks run too: a failed one stops the test.
std::string containerXmlOutcome(const std::string& bytes) {
  fuzz::containerXmlOneInput(bytesOf(bytes), bytes.size());
  return fuzz::containerXmlOutcome(bytesOf(bytes), bytes.size());
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "<Name>value</Name>" -> "Name"; another line stays whole.
std::string elementName(const std::string& line) {
  const std::size_t close = line.find('>');
  if (line.empty() || line[0] != '<' || close == std::string::npos) return line;
  return line.substr(1, close - 1);
}

// The settings elements whose written lines differ from those of the defaults.
std::string settingsOutcome(const std::string& bytes) {
  std::string defaults;
  cSettings().writeXml(defaults);
  const std::vector<std::string> expected = linesOf(defaults);
  const std::vector<std::string> got = linesOf(fuzz::settingsReaderOutcome(bytesOf(bytes), bytes.size()));
  if (got.size() != expected.size()) return "written with " + std::to_string(got.size()) + " lines";
  std::string changed;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] == expected[i]) continue;
    changed += (changed.empty() ? "" : ", ") + elementName(got[i]);
  }
  return changed.empty() ? "read, defaults kept" : "read, changed: " + changed;
}

TEST(FuzzCorpus, ZipReaderSeedsReplay) { EXPECT_GE(replay("fuzz_zip_reader", readerOutcome), 5u); }

TEST(FuzzCorpus, UnzipJobSeedsReplay) { EXPECT_GE(replay("fuzz_unzip_job", unzipOutcome), 5u); }

TEST(FuzzCorpus, ContainerXmlSeedsReplay) { EXPECT_GE(replay("fuzz_container_xml", containerXmlOutcome), 10u); }

TEST(FuzzCorpus, SettingsReaderSeedsReplay) { EXPECT_GE(replay("fuzz_settings_reader", settingsOutcome), 3u); }

}  // namespace
}  // namespace plimsy
