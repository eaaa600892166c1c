#include "cli/progress_line.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "core/settings.h"
#include "engine/entry_writer.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "engine/zip_writer.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

namespace plimsy::cli {
namespace {

using namespace std::chrono_literals;

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

// Cut between characters, counted in the columns a terminal gives them.
TEST(ProgressLine, FitsTextIntoColumnsBetweenCharacters) {
  const struct {
    const char* text;
    std::size_t columns;
    const char* fitted;
    std::size_t fittedColumns;
  } cases[] = {
      {"Unzipping 1 of 2 files", 40, "Unzipping 1 of 2 files", 22},
      {"Unzipping 1 of 2 files", 9, "Unzipping", 9},
      {"Unzipping", 0, "", 0},
      {"", 5, "", 0},
      {"Gr\xC3\xB6\xC3\x9F"
       "e",
       3, "Gr\xC3\xB6", 3},                                 // two bytes, one column
      {"\xE6\x97\xA5\xE6\x9C\xAC", 3, "\xE6\x97\xA5", 2},   // wide: the second does not fit
      {"\xF0\x9F\x93\x96 book", 2, "\xF0\x9F\x93\x96", 2},  // a wide emoji, four bytes
      {"e\xCC\x81x", 1, "e\xCC\x81", 1},                    // the accent stays with its letter
      {"\xFF\xFEz", 2, "\xFF\xFE", 2},                      // stray bytes: one column each
      {"ab\xE6\x97", 3, "ab\xE6", 3},                       // a sequence cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fitToColumns(c.text, c.columns), c.fitted) << c.text << " in " << c.columns;
    EXPECT_EQ(terminalColumnsOf(c.fitted), c.fittedColumns) << c.fitted;
  }
}

// What a drawing writes on a stream, step by step.
class cCapture {
 public:
  cCapture() : stream_(std::tmpfile()) {}
  ~cCapture() {
    if (stream_ != nullptr) std::fclose(stream_);
  }
  cCapture(const cCapture&) = delete;
  cCapture& operator=(const cCapture&) = delete;
  std::FILE* stream() const { return stream_; }

  // Everything written since the last call.
  std::string taken() {
    std::fseek(stream_, 0, SEEK_END);
    const long end = std::ftell(stream_);
    std::string text(static_cast<std::size_t>(end - read_), '\0');
    std::fseek(stream_, read_, SEEK_SET);
    EXPECT_EQ(std::fread(text.data(), 1, text.size(), stream_), text.size());
    std::fseek(stream_, end, SEEK_SET);
    read_ = end;
    return text;
  }

 private:
  std::FILE* stream_;
  long read_ = 0;
};

std::string wiped(std::size_t columns) { return std::string(1, '\r').append(columns, ' ').append(1, '\r'); }

// A zip as the clock goes: nothing in the first second, then a line at most
// every 200 ms, with the totals once the walk has found them, never in the
// terminal's last column whatever its width meanwhile, and wiped at the end
// in the width the terminal has then.
TEST(ProgressLine, DrawsWhenDueWithinTheTerminalsWidthAndWipesItselfAway) {
  const struct {
    int atMs;  // since the job started
    std::uint64_t files, bytes, totalFiles, totalBytes;
    std::size_t columns;  // the terminal's, 0: not known
    const char* drawn;
  } steps[] = {
      {0, 0, 0, 0, 0, 40, ""},
      {999, 2, 100'000, 0, 0, 40, ""},
      {1000, 3, 1'200'000, 0, 0, 40, "\rZipping 3 files, 1.2 MB"},
      {1150, 5, 1'500'000, 0, 0, 40, ""},
      {1200, 5, 2'500'000, 8, 9'000'000, 40, "\rZipping 5 of 8 files, 2.5 of 9.0 MB"},
      {1400, 6, 4'000'000, 8, 9'000'000, 29, "\rZipping 6 of 8 files, 4.0 of"},
      {1650, 6, 4'500'000, 8, 9'000'000, 36, "\rZipping 6 of 8 files, 4.5 of 9.0 MB"},
      {1900, 7, 5'000'000, 8, 9'000'000, 35, "\rZipping 7 of 8 files, 5.0 of 9.0 M"},
      {2100, 7, 6'000'000, 8, 9'000'000, 1, "\r"},
      {2300, 8, 9'000'000, 8, 9'000'000, 0, "\rZipping 8 of 8 files, 9.0 of 9.0 MB"},
  };
  cCapture capture;
  ASSERT_NE(capture.stream(), nullptr);
  sJobProgress progress;
  std::size_t columns = 0;
  const cProgressDrawing::Clock::time_point start{};
  cProgressDrawing drawing(
      progress, "Zipping", capture.stream(), [&columns] { return columns; }, start, 1000ms, 200ms);
  for (const auto& step : steps) {
    progress.files = step.files;
    progress.bytes = step.bytes;
    progress.totalFiles = step.totalFiles;
    progress.totalBytes = step.totalBytes;
    columns = step.columns;
    drawing.update(start + std::chrono::milliseconds(step.atMs));
    EXPECT_EQ(capture.taken(), step.drawn) << "at " << step.atMs << " ms";
  }
  columns = 20;  // narrowed before the end
  drawing.wipe();
  EXPECT_EQ(capture.taken(), wiped(19));
  drawing.wipe();
  EXPECT_EQ(capture.taken(), "");
}

TEST(ProgressLine, WipesTheWholeLineItDrew) {
  cCapture capture;
  ASSERT_NE(capture.stream(), nullptr);
  sJobProgress progress;
  progress.totalFiles = 2;
  progress.totalBytes = 2'000'000;
  progress.addEntry(1'000'000);
  const cProgressDrawing::Clock::time_point start{};
  cProgressDrawing drawing(
      progress, "Unzipping", capture.stream(), [] { return std::size_t{80}; }, start, 0ms, 1ms);
  drawing.update(start);
  const std::string line = "Unzipping 1 of 2 files, 1.0 of 2.0 MB";
  EXPECT_EQ(capture.taken(), "\r" + line);
  drawing.wipe();
  EXPECT_EQ(capture.taken(), wiped(line.size()));
}

// A job that ends within the delay prints nothing at all.
TEST(ProgressLine, QuickJobsDrawNothing) {
  cCapture capture;
  ASSERT_NE(capture.stream(), nullptr);
  sJobProgress progress;
  {
    const cProgressLine line(progress, "Unzipping", capture.stream(), std::chrono::hours(1));
    progress.addEntry(5);
  }
  EXPECT_EQ(capture.taken(), "");
}

// ---- What the jobs tell the line -------------------------------------------------------

struct sBookFile {
  const char* name;
  std::size_t size;
};

// Big enough for several pieces of every loop that writes in pieces.
constexpr std::size_t kBig = (std::size_t{9} << 20) + 12'345;
const std::vector<sBookFile> kBook = {{"mimetype", 20}, {"OEBPS/a.xhtml", 3000}, {"OEBPS/big.bin", kBig}, {"z.txt", 0}};
constexpr std::uint64_t kBookBytes = 20 + 3000 + kBig;

std::uint64_t writeBook(const test::TempDir& dir) {
  std::uint32_t seed = 1;
  for (const sBookFile& file : kBook)
    test::writeFile(dir.path() / "book" / file.name,
                    file.size > 4096 ? test::noise(file.size, seed++) : test::prose(file.size, seed++));
  return kBook.size();
}

// Every file and byte counted once, whether whole or in pieces, and the
// totals known by the end: a zip learns them once its walk is done.
TEST(ProgressLine, JobsCountEveryFileAndByteOnceAndKnowTheTotals) {
  const struct {
    unsigned threads;
    std::size_t wholeFileLimit;  // files above it are written in pieces
    std::uint32_t level;
  } cases[] = {
      {1, kWholeFileLimit, 9},
      {1, 0, 9},
      {2, 0, 0},
      {2, 1000, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.threads << " threads, whole up to " << c.wholeFileLimit << ", level "
                                    << c.level);
    test::TempDir dir;
    const std::uint64_t files = writeBook(dir);
    sJobProgress zipped;
    sZipWriter writer;
    writer.threads = c.threads;
    writer.wholeFileLimit = c.wholeFileLimit;
    writer.progress = &zipped;
    std::string message;
    sStatistics statistics;
    ASSERT_TRUE(zipJob(test::zipOrder(dir / "book", dir / "book.epub", c.level), &message, statistics, writer))
        << message;
    EXPECT_EQ(zipped.files.load(), files);
    EXPECT_EQ(zipped.totalFiles.load(), files);
    EXPECT_EQ(zipped.bytes.load(), kBookBytes);
    EXPECT_EQ(zipped.totalBytes.load(), kBookBytes);

    sJobProgress unzipped;
    ASSERT_TRUE(unzipJob(test::unzipOrder(dir / "book.epub", dir / "files"), &message, statistics, &unzipped))
        << message;
    EXPECT_EQ(unzipped.files.load(), files);
    EXPECT_EQ(unzipped.totalFiles.load(), files);
    EXPECT_EQ(unzipped.bytes.load(), kBookBytes);
    EXPECT_EQ(unzipped.totalBytes.load(), kBookBytes);
  }
}

// The bytes of a big entry are counted while it is written, before the
// entry itself is: the line moves during a long entry.
TEST(ProgressLine, BigEntriesCountTheirBytesAsTheyGo) {
  test::TempDir dir;
  const std::string content = test::noise(kBig, 7);
  test::writeFile(dir.path() / "big.bin", content);
  for (const std::uint32_t level : {0u, 9u}) {
    sJobProgress progress;
    sZipWriter writer;
    writer.progress = &progress;
    ASSERT_TRUE(writer.output.open(dir / "out.bin", platform::File::Mode::WriteTruncate));
    platform::File source;
    ASSERT_TRUE(source.open(dir / "big.bin", platform::File::Mode::Read));
    sEntryData data;
    std::string message;
    ASSERT_TRUE(writeEntryData(writer, &message, data, source, level)) << message;
    EXPECT_EQ(progress.bytes.load(), kBig) << "level " << level;
    EXPECT_EQ(progress.files.load(), 0u) << "level " << level;
    EXPECT_TRUE(writer.output.close());
  }

  const std::string deflated = test::rawDeflate(content);
  sJobProgress progress;
  sInflateSink sink;
  sink.progress = &progress;
  sink.sizeLimit = kBig;
  ASSERT_TRUE(inflateEntry(sink, dir / "inflated.bin", reinterpret_cast<const std::uint8_t*>(deflated.data()),
                           deflated.size()));
  EXPECT_EQ(progress.bytes.load(), kBig);
  EXPECT_EQ(progress.files.load(), 0u);
}

}  // namespace
}  // namespace plimsy::cli
