#include "cli/progress_line.h"

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace plimsy::cli {
namespace {

TEST(ProgressLine, SaysHowFarTheJobHasComeOfHowMuch) {
  const struct {
    std::uint64_t files, totalFiles, bytes, totalBytes;
    const char* text;
  } cases[] = {
      {0, 0, 0, 0, "Zipping 0 files, 0.0 MB"},
      {1234, 0, 12'345'678, 0, "Zipping 1,234 files, 12.3 MB"},
      {3874, 70'079, 10'600'000, 48'495'718, "Zipping 3,874 of 70,079 files, 10.6 of 48.5 MB"},
  };
  for (const auto& c : cases) EXPECT_EQ(progressText("Zipping", c.files, c.totalFiles, c.bytes, c.totalBytes), c.text);
}

std::string drawnBy(std::chrono::milliseconds delay, const std::function<void(sJobProgress&)>& work) {
  std::FILE* stream = std::tmpfile();
  EXPECT_NE(stream, nullptr);
  sJobProgress progress;
  {
    const cProgressLine line(progress, "Unzipping", stream, delay, std::chrono::milliseconds(1));
    work(progress);
  }
  std::string text(static_cast<std::size_t>(std::ftell(stream)), '\0');
  std::rewind(stream);
  EXPECT_EQ(std::fread(text.data(), 1, text.size(), stream), text.size());
  std::fclose(stream);
  return text;
}

// A quick job draws nothing; a long one redraws its line in place and wipes
// it at the end, so that the report starts on a clean line.
TEST(ProgressLine, DrawsOnlyForLongJobsAndWipesItselfAway) {
  EXPECT_EQ(drawnBy(std::chrono::hours(1), [](sJobProgress& p) { p.addEntry(5); }), "");

  const std::string drawn = drawnBy(std::chrono::milliseconds(0), [](sJobProgress& p) {
    p.totalFiles = 2;
    p.totalBytes = 2'000'000;
    for (int i = 0; i < 2; ++i) {
      p.addEntry(1'000'000);
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
  });
  const std::string last = "Unzipping 2 of 2 files, 2.0 of 2.0 MB";
  ASSERT_EQ(drawn.substr(0, 1), "\r");
  EXPECT_NE(drawn.find(std::string(1, '\r').append(last)), std::string::npos) << drawn;
  EXPECT_EQ(drawn.substr(drawn.size() - last.size() - 2),
            std::string(1, '\r').append(last.size(), ' ').append(1, '\r'));
  EXPECT_EQ(drawn.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace plimsy::cli
