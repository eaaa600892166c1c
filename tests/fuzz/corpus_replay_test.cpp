// The fuzzers' seed corpora, replayed through the fuzz targets' own code in
// the normal build: the seeds stay valid inputs, and the targets keep
// building and running without clang.

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "fuzz/fuzz_targets.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

const fs::path kCorpora = fs::path(PLIMSY_SOURCE_DIR) / "fuzz" / "corpus";

using OneInput = std::function<int(const std::uint8_t*, std::size_t)>;

// Runs every seed of the target's corpus; returns how many there were.
int replay(const char* target, const OneInput& oneInput) {
  int seeds = 0;
  for (const fs::directory_entry& item : fs::directory_iterator(kCorpora / target)) {
    SCOPED_TRACE(item.path().string());
    const std::string bytes = test::readFile(item.path());
    EXPECT_EQ(oneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
    ++seeds;
  }
  return seeds;
}

TEST(FuzzCorpus, ZipReaderSeedsReplay) { EXPECT_GE(replay("fuzz_zip_reader", fuzz::zipReaderOneInput), 5); }

TEST(FuzzCorpus, UnzipJobSeedsReplay) { EXPECT_GE(replay("fuzz_unzip_job", fuzz::unzipJobOneInput), 5); }

TEST(FuzzCorpus, SettingsReaderSeedsReplay) {
  EXPECT_GE(replay("fuzz_settings_reader", fuzz::settingsReaderOneInput), 3);
}

}  // namespace
}  // namespace plimsy
