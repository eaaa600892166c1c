#include <string>

#include <gtest/gtest.h>

#include "engine/statistics.h"
#include "engine/zip_record_images.h"

namespace plimsy {
namespace {

const std::string kDash = "\xE2\x80\x94";  // U+2014 EM DASH

std::string report(const sStatistics& s) {
  std::string text = "before\n";
  statisticsText(s, text);
  EXPECT_EQ(text.rfind("before\n", 0), 0u) << "the block is appended";
  return text.substr(7);
}

TEST(StatisticsText, StoredOnlyJob) {
  sStatistics s;
  countStoredEntry(s, 20);         // mimetype
  countStoredEntry(s, 1'234'567);  // an image
  countStoredEntry(s, 0);          // an empty file, stored at level 0
  EXPECT_EQ(report(s),
            "Number of files: 3\nNumber of files stored: 3\nNumber of files deflated: 0\n"
            "Number of zero-length files: 0\nUnzipped size: 1,234,587\nZipped size: 1,234,587\n"
            "Overall size ratio: 1.00\nDeflation ratio: " +
                kDash + "\nZIP64: no");
}

TEST(StatisticsText, DeflatedJob) {
  sStatistics s;
  countStoredEntry(s, 20);
  countDeflatedEntry(s, 4'000, 1'000);
  countDeflatedEntry(s, 0, 2);  // an empty file deflated: not a zero-length count when zipping
  s.zip64 = true;
  EXPECT_EQ(report(s),
            "Number of files: 3\nNumber of files stored: 1\nNumber of files deflated: 2\n"
            "Number of zero-length files: 0\nUnzipped size: 4,020\nZipped size: 1,022\n"
            "Overall size ratio: 0.25\nDeflation ratio: 0.25\nZIP64: yes");
}

TEST(StatisticsText, AllEmptyJobShowsTwoDashes) {
  sStatistics s;
  EXPECT_TRUE(countReadEntry(s, kMethodDeflated, 0, 0));
  EXPECT_TRUE(countReadEntry(s, kMethodStored, 0, 0));
  EXPECT_EQ(report(s),
            "Number of files: 2\nNumber of files stored: 0\nNumber of files deflated: 0\n"
            "Number of zero-length files: 2\nUnzipped size: 0\nZipped size: 0\n"
            "Overall size ratio: " +
                kDash + "\nDeflation ratio: " + kDash + "\nZIP64: no");
}

TEST(StatisticsText, ThousandsInCountsAndSizes) {
  sStatistics s;
  for (int i = 0; i < 1'000; ++i) countDeflatedEntry(s, 3'000'000, 1'000'000);
  EXPECT_EQ(report(s),
            "Number of files: 1,000\nNumber of files stored: 0\nNumber of files deflated: 1,000\n"
            "Number of zero-length files: 0\nUnzipped size: 3,000,000,000\nZipped size: 1,000,000,000\n"
            "Overall size ratio: 0.33\nDeflation ratio: 0.33\nZIP64: no");
}

TEST(StatisticsCounting, ReadersCountByCompressedSizeThenMethod) {
  sStatistics s;
  // No compressed data: zero-length whatever the method (12 is bzip2).
  EXPECT_TRUE(countReadEntry(s, 12, 0, 0));
  EXPECT_TRUE(countReadEntry(s, kMethodStored, 10, 10));
  EXPECT_TRUE(countReadEntry(s, kMethodDeflated, 100, 40));
  sStatistics expected;
  expected.files = 3;
  expected.zeroLength = 1;
  expected.stored = 1;
  expected.storedBytes = 10;
  expected.deflated = 1;
  expected.deflatedInputBytes = 100;
  expected.deflatedOutputBytes = 40;
  EXPECT_EQ(s, expected);

  // Data in an unknown method: refused, counted in files only.
  EXPECT_FALSE(countReadEntry(s, 12, 50, 20));
  expected.files = 4;
  EXPECT_EQ(s, expected);
  // By method alone (the unzip job's count from the local header), even when
  // the header says 0 bytes.
  EXPECT_TRUE(countEntryByMethod(s, kMethodStored, 0, 0));
  EXPECT_EQ(s.stored, 2u);
  EXPECT_EQ(s.zeroLength, 1u);
}

}  // namespace
}  // namespace plimsy
