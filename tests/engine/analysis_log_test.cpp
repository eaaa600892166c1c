#include "engine/analysis_log.h"

#include <array>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "engine/archive_view.h"
#include "engine/job_control.h"
#include "support/faults.h"
#include "support/file_tree.h"
#include "support/messages.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

using test::ArchivePlan;
using test::EntryPlan;
using test::extraRecord;

// ---- Golden logs ------------------------------------------------------------------
//
// The expected logs are checked in under tests/engine/golden. Lines that carry
// temporary paths and the times of this run are masked on both sides. To
// regenerate them after a deliberate change, run the tests with
// PLIMSY_UPDATE_GOLDEN=1 and read the new files before checking them in.

std::string goldenPath(std::string_view name) {
  return std::string(PLIMSY_SOURCE_DIR) + "/tests/engine/golden/" + std::string(name);
}

std::string masked(std::string_view log) {
  static constexpr std::array<std::string_view, 6> kVaryingLines = {
      "Analysis of: ", "  Create time: ", "  Access time: ", "  Write  time: ", "This log: ", "Analyzed "};
  std::string out;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    end = end == std::string_view::npos ? log.size() : end + 2;
    std::string_view line = log.substr(start, end - start);
    for (const std::string_view prefix : kVaryingLines) {
      if (line.substr(0, prefix.size()) == prefix) {
        out += prefix;
        out += "<masked>";
        line = line.substr(line.size() - (line.ends_with("\r\n") ? 2 : 0));
        break;
      }
    }
    out += line;
    start = end;
  }
  return out;
}

void expectGolden(std::string_view name, const std::string& log) {
  const std::string actual = masked(log);
  if (platform::environmentVariable("PLIMSY_UPDATE_GOLDEN").value_or("") == "1") {
    test::writeFile(goldenPath(name), actual);
    return;
  }
  EXPECT_EQ(actual, test::readFile(goldenPath(name))) << "golden log " << name;
}

// Deflated data fixed once (zlib, level 9), so that the golden logs do not
// depend on the zlib build; InflatedGoldenDataMatchesItsContent proves them.
constexpr std::string_view kContainerXml =
    "<?xml version=\"1.0\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "  <rootfiles>\n"
    "    <rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
    "  </rootfiles>\n"
    "</container>\n";
constexpr std::string_view kContainerXmlDeflated =
    "558e4d0ec2201085f73d05616b5a744ba02626ae35f104239d2a111802d4e8eda55d3475f9f27ebea78e1fefd81b53b614343f747b7e"
    "ec1b652814b001d3bfc56a3864cda7142441b65906f098653192228681cce43114b9c4e43ac2fb86319588ca681de6596d341b27e7da"
    "08e5a9f9e57cbadec45cac331dc591338f8385b67c236a0e313a6ba0d44382f01e73ad99173c7057895c2c18b1e128b17ee89b1f";
constexpr std::string_view kChapter =
    "<html><body><p>It was a dark and stormy night; the rain fell in torrents, except at occasional "
    "intervals.</p></body></html>\n";
constexpr std::string_view kChapterDeflated =
    "258dc10d02310c04ff54b10520520056fe5786490c892ee7448e055cf71cf09ac78c34547c6b916e3def91465c1c2f9e6064b615ac19"
    "d3bb6d3bb43e8a5fe145605c1577690d070f6ba23ecf907792e160474f8967edcadfc2c59edce685c28814fe9ff09b9e3e";

EntryPlan fixedDeflatedEntry(std::string name, std::string_view content, std::string_view deflatedHex) {
  EntryPlan e = test::storedEntry(std::move(name), content);
  e.method = kMethodDeflated;
  e.data = test::fromHex(deflatedHex);
  return e;
}

// 2022-03-04 10:20:30 UTC and one day.
constexpr FileTime kMarch2022 = 132'908'628'300'000'000;
constexpr FileTime kOneDay = 864'000'000'000;

ArchivePlan plainEpub() {
  return test::planOf({test::storedEntry("mimetype", "application/epub+zip"),
                       fixedDeflatedEntry("META-INF/container.xml", kContainerXml, kContainerXmlDeflated),
                       fixedDeflatedEntry("OEBPS/chapter1.xhtml", kChapter, kChapterDeflated)});
}

// ZIP64 end records whose Ecd64 carries 16 bytes of extensible data (Size
// 60), and one entry with all its sizes and its offset as ZIP64 values.
ArchivePlan zip64Epub() {
  ArchivePlan plan = plainEpub();
  plan.entries[2].zip64 = true;
  plan.zip64 = true;
  plan.ecd64Extensible = std::string("\x99\x99\x0C\x00", 4) + std::string(12, 'e');
  return plan;
}

// NTFS and unknown extra fields, comments holding "%", a name with "é", a
// name that is not UTF-8, a data-descriptor flag and a DOS date of 0.
ArchivePlan extrasEpub() {
  ArchivePlan plan;
  EntryPlan percent = test::storedEntry("100%.xhtml", "<p>100% sure</p>\n");
  percent.lfhExtra = extraRecord(0x7875, std::string("\x01\x04\xE8\x03\x00\x00\x04\xE8\x03\x00\x00", 11));
  percent.cdrExtra = test::ntfsExtra(kMarch2022, kMarch2022 + kOneDay, kMarch2022 + 2 * kOneDay) +
                     extraRecord(0x5455, std::string("\x03\xAE\xE9\x21\x62", 5));
  percent.comment = "100% sure: %s %d %n";
  plan.entries.push_back(percent);

  EntryPlan cafe = test::storedEntry("caf\xC3\xA9.xhtml", "<p>caf\xC3\xA9</p>\n");
  cafe.dosDate = 0;
  cafe.dosTime = 0;
  cafe.editLfh = [](Lfh& l) { l.setGeneralFlags(0x0008); };
  cafe.editCdr = [](Cdr& c) { c.setGeneralFlags(0x0008); };
  plan.entries.push_back(cafe);

  plan.entries.push_back(test::storedEntry("bad\xFFname.xhtml", ""));
  plan.comment = "Made by hand; 50% of it is %s.";
  return plan;
}

class AnalysisLogTest : public ::testing::Test {
 protected:
  // Writes the archive, opens it and writes its log; the log's text.
  std::string analyze(const std::string& archive) {
    test::writeFile(zipPath(), archive);
    EXPECT_TRUE(open()) << message;
    EXPECT_TRUE(writeAnalysisLog(reader, &message, logPath())) << message;
    return test::readFile(logPath());
  }
  // Opens the archive at zipPath() with the reader.
  bool open() {
    EpubWorkOrder order;
    order.ZipPath = zipPath();
    return reader.openArchive(&message, order);
  }
  std::string zipPath() const { return dir / "book.epub"; }
  std::string logPath() const { return dir / "analysis.txt"; }

  test::TempDir dir;
  cZipReader reader;
  std::string message;
};

TEST(AnalysisLogGolden, InflatedGoldenDataMatchesItsContent) {
  EXPECT_EQ(test::inflateRaw(test::fromHex(kContainerXmlDeflated)), kContainerXml);
  EXPECT_EQ(test::inflateRaw(test::fromHex(kChapterDeflated)), kChapter);
}

TEST_F(AnalysisLogTest, GoldenPlainEpub) { expectGolden("plain_epub.txt", analyze(test::buildArchive(plainEpub()))); }

TEST_F(AnalysisLogTest, GoldenZip64Epub) { expectGolden("zip64_epub.txt", analyze(test::buildArchive(zip64Epub()))); }

TEST_F(AnalysisLogTest, GoldenExtraFieldsAndOddNames) {
  expectGolden("extras_epub.txt", analyze(test::buildArchive(extrasEpub())));
}

// Read from memory and written into a string, each archive gives its golden
// log: the heading names no file, which the masked lines hide.
TEST(AnalysisLogGolden, ArchiveInMemoryGivesTheSameLogInMemory) {
  const struct {
    const char* golden;
    ArchivePlan plan;
  } cases[] = {{"plain_epub.txt", plainEpub()}, {"zip64_epub.txt", zip64Epub()}, {"extras_epub.txt", extrasEpub()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.golden);
    const std::string archive = test::buildArchive(c.plan);
    cZipReader reader;
    std::string message;
    ASSERT_TRUE(reader.open(&message, std::span(reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size())))
        << message;
    std::string log = "text from before";
    ASSERT_TRUE(writeAnalysisText(reader, &message, log)) << message;
    EXPECT_NE(log.find("\r\nAnalysis of: \r\n"), std::string::npos);
    expectGolden(c.golden, log);
  }
}

TEST_F(AnalysisLogTest, Utf8WithByteOrderMarkAndCrLfLineEnds) {
  const std::string log = analyze(test::buildArchive(extrasEpub()));
  ASSERT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\n') {
      ASSERT_TRUE(i > 0 && log[i - 1] == '\r') << "bare line feed at " << i;
    }
  }
  EXPECT_NE(log.find("Filename: bad\xEF\xBF\xBDname.xhtml\r\n"), std::string::npos);
}

TEST_F(AnalysisLogTest, HeadingShowsSizeAndTheArchiveTimes) {
  ArchivePlan plan = plainEpub();
  const std::string unpadded = test::buildArchive(plan);
  plan.trailing = std::string(1234 - unpadded.size(), 't');
  test::writeFile(zipPath(), test::buildArchive(plan));
  // (The access time is not checked: reading the archive may change it.)
  ASSERT_TRUE(platform::setFileTimes(zipPath(), 0, kMarch2022 + kOneDay, kMarch2022));
  ASSERT_TRUE(open()) << message;
  ASSERT_TRUE(writeAnalysisLog(reader, &message, logPath())) << message;
  const std::string log = test::readFile(logPath());

  EXPECT_NE(log.find("\r\n  Size: 1,234 / 0x4d2\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n  Write  time: 2022-Mar-04 10:20:30 UTC\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nThis log: " + logPath() + "\r\n\r\n"), std::string::npos);
}

TEST_F(AnalysisLogTest, LongNamesAppearInFull) {
  ArchivePlan plan = plainEpub();
  const std::string name = "OEBPS/" + std::string(65'000, 'n') + ".xhtml";
  plan.entries.push_back(test::storedEntry(name, "x"));
  const std::string log = analyze(test::buildArchive(plan));
  std::size_t count = 0;
  for (std::size_t at = log.find(name); at != std::string::npos; at = log.find(name, at + 1)) ++count;
  EXPECT_EQ(count, 3u);  // the heading, the CdrEx and the LfhEx
  EXPECT_EQ(log.find("ERROR"), std::string::npos);
}

// A log of several MiB is formatted in pieces on several threads: the file
// holds every entry once, in order, as the log made in memory does.
TEST_F(AnalysisLogTest, LogOfManyBuffersIsWrittenWholeAndInOrder) {
  ArchivePlan plan;
  for (int i = 0; i < 6000; ++i) plan.entries.push_back(test::storedEntry("OEBPS/page" + std::to_string(i), "x"));
  plan.zip64 = true;
  const std::string file = analyze(test::buildArchive(plan));
  ASSERT_GT(file.size(), std::size_t{6} << 20);
  std::string text;
  ASSERT_TRUE(writeAnalysisText(reader, &message, text)) << message;
  EXPECT_TRUE(masked(file) == masked(text));
  std::uint32_t expected = 1;
  const std::string_view kNumber = "CDR NUMBER ";
  for (std::size_t at = file.find(kNumber); at != std::string::npos; at = file.find(kNumber, at + 1), ++expected)
    ASSERT_EQ(std::stoul(file.substr(at + kNumber.size(), 8)), expected);
  EXPECT_EQ(expected, 6001u);
}

// A log is written over the old one at its path: whatever the old one's
// length, what is left is the new log alone.
TEST_F(AnalysisLogTest, AnOldLogIsWrittenOverAndCutToTheNewLength) {
  const std::string archive = test::buildArchive(plainEpub());
  const std::string fresh = analyze(archive);
  for (const std::size_t oldLength : {std::size_t{0}, fresh.size() / 2, fresh.size() * 3}) {
    SCOPED_TRACE(oldLength);
    test::writeFile(logPath(), std::string(oldLength, 'x'));
    reader.releaseArchive();  // Windows refuses to write a file that is mapped
    EXPECT_EQ(masked(analyze(archive)), masked(fresh));
  }
}

TEST_F(AnalysisLogTest, LogThatCannotBeCreatedIsReported) {
  const std::string archive = test::buildArchive(plainEpub());
  test::writeFile(zipPath(), archive);
  ASSERT_TRUE(open()) << message;

  EXPECT_FALSE(writeAnalysisLog(reader, &message, dir / "no-such-folder/analysis.txt"));
  EXPECT_EQ(test::firstLine(message), "Unable to open log file.");

  // The archive being read is never emptied to become its own log.
  message.clear();
  EXPECT_FALSE(writeAnalysisLog(reader, &message, zipPath()));
  EXPECT_EQ(message, "Unable to open log file.\n" + zipPath());
  EXPECT_EQ(test::readFile(zipPath()), archive);
}

// A log cut short by a full disk must not be reported as written.
TEST_F(AnalysisLogTest, LogThatCannotBeWrittenWholeIsReported) {
  test::writeFile(zipPath(), test::buildArchive(plainEpub()));
  ASSERT_TRUE(open()) << message;
  const test::ScopedFault diskFull(platform::FaultOperation::Write, 1, true);
  EXPECT_FALSE(writeAnalysisLog(reader, &message, dir / "analysis.txt"));
  EXPECT_EQ(test::firstLine(message), "Unable to write log file.");
}

// The log is written beside the old one and put in its place when whole:
// whatever stops it midway (a full disk, a failed close or rename, the
// program quitting), the old log stays byte for byte, never half old and
// half new, and no work file is left.
TEST_F(AnalysisLogTest, AFailedOrStoppedLogLeavesTheOldOneAsItWas) {
  ArchivePlan plan;
  for (int i = 0; i < 3000; ++i) plan.entries.push_back(test::storedEntry("OEBPS/page" + std::to_string(i), "x"));
  test::writeFile(zipPath(), test::buildArchive(plan));
  ASSERT_TRUE(open()) << message;
  const std::string oldLog = "\xEF\xBB\xBFthe log of another book\r\n";
  using Op = platform::FaultOperation;
  const struct {
    const char* label;
    Op operation;
    std::uint64_t nth;
    bool stop;  // the jobs are told to stop at that operation instead
    std::string message;
  } cases[] = {
      {"full disk at once", Op::Write, 1, false, "Unable to write log file."},
      {"full disk midway", Op::Write, 3, false, "Unable to write log file."},
      {"close fails", Op::Close, 1, false, "Unable to write log file."},
      {"rename fails", Op::Rename, 1, false, "Unable to open log file."},
      {"stopped midway", Op::Write, 3, true, kJobAbandonedMessage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    test::writeFile(logPath(), oldLog);
    message.clear();
    bool written = false;
    if (c.stop) {
      std::uint64_t writes = 0;
      platform::observeOperations([&](Op operation) {
        if (operation == c.operation && ++writes == c.nth) abandonRunningJobs();
      });
      written = writeAnalysisLog(reader, &message, logPath());
      platform::observeOperations(nullptr);
      resumeJobs();
    } else {
      const test::ScopedFault fault(c.operation, c.nth, true);
      written = writeAnalysisLog(reader, &message, logPath());
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(test::firstLine(message), c.message);
    // A log that cannot be put in place names the path the user chose.
    if (c.operation == Op::Rename) {
      EXPECT_NE(message.find("\n" + logPath() + "\n"), std::string::npos) << message;
    }
    EXPECT_EQ(test::readFile(logPath()), oldLog);
    EXPECT_EQ(test::namesIn(dir.path()), (std::set<std::string>{"analysis.txt", "book.epub"}));
  }
  // Nothing stops it: the new log replaces the old one whole.
  ASSERT_TRUE(writeAnalysisLog(reader, &message, logPath())) << message;
  EXPECT_EQ(test::readFile(logPath()).find("ZIP FILE ANALYSIS"), 46u);  // after the mark and the first line
  EXPECT_EQ(test::namesIn(dir.path()), (std::set<std::string>{"analysis.txt", "book.epub"}));
}

TEST_F(AnalysisLogTest, LogThatIsAPipeIsRefusedWithoutWaiting) {
  test::writeFile(zipPath(), test::buildArchive(plainEpub()));
  ASSERT_TRUE(open()) << message;
  const std::string pipe = dir / "log.fifo";
  if (!test::makePipe(pipe)) GTEST_SKIP() << "no pipes in this file system";
  EXPECT_FALSE(writeAnalysisLog(reader, &message, pipe));
  EXPECT_EQ(message, "Not a regular file (a pipe, socket or device):\n" + pipe);
}

TEST_F(AnalysisLogTest, ArchiveShortenedWhileItIsDescribedIsReportedNotFatal) {
  test::writeFile(zipPath(), test::buildArchive(plainEpub()));
  ASSERT_TRUE(open()) << message;
  // Another program truncates the archive: reading its lost pages must not
  // end the process, and the log must not pass for a description of it.
  // (Windows lets nobody change a file that is being read: the log is written.)
  std::error_code refused;
  std::filesystem::resize_file(zipPath(), 0, refused);
  EXPECT_EQ(writeAnalysisLog(reader, &message, dir / "analysis.txt"), static_cast<bool>(refused)) << message;
  if (!refused) {
    EXPECT_EQ(message, kArchiveChangedMessage);
  }
}

}  // namespace
}  // namespace plimsy
