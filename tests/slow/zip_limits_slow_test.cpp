// The zip job at the ZIP64 limits: 65,535 entries, and an entry of more than
// 4 GiB. Slow (tens of seconds), so run apart from the unit tests.

#include <filesystem>
#include <string>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "engine/archive_view.h"
#include "engine/zip_records.h"
#include "interop/external_tools.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::ArchiveView;
using test::expectTool;
using test::shellQuote;
using test::TempDir;
using test::zipFolder;

TEST(ZipLimits, From65535EntriesTheEndRecordsAreZip64) {
  PLIMSY_REQUIRE_TOOL("unzip");
  TempDir dir;
  const fs::path book = dir.path() / "book";
  constexpr int kFiles = 65'535;
  for (int i = 0; i < kFiles; ++i) {
    const std::string number = std::to_string(i);
    test::writeFile(book / fmt::format("d{}", i / 1000) / fmt::format("p{}.xhtml", number),
                    fmt::format("<p>{}</p>", number));
  }

  std::string message;
  sStatistics statistics;
  const fs::path many = dir.path() / "many.epub";
  ASSERT_TRUE(zipFolder(book, many, 1, message, &statistics)) << message;
  EXPECT_TRUE(statistics.zip64);
  EXPECT_EQ(statistics.files, std::uint64_t{kFiles});
  const ArchiveView big = test::viewArchive(test::readFile(many));
  ASSERT_TRUE(big.ok) << big.error;
  ASSERT_TRUE(big.ecd64 && big.ecdl64);
  EXPECT_EQ(big.ecd.totalQtyCdEntries(), 0xFFFF);
  EXPECT_EQ(big.ecd.qtyCdEntriesThisDisk(), 0xFFFF);
  EXPECT_EQ(big.ecd64->totalQtyCdEntries(), std::uint64_t{kFiles});
  EXPECT_EQ(big.entries.size(), std::size_t{kFiles});
  expectTool("unzip -tq " + shellQuote(many.string()));

  fs::remove(book / "d65" / "p65534.xhtml");
  const fs::path fewer = dir.path() / "fewer.epub";
  ASSERT_TRUE(zipFolder(book, fewer, 1, message, &statistics)) << message;
  EXPECT_FALSE(statistics.zip64);
  const ArchiveView small = test::viewArchive(test::readFile(fewer));
  ASSERT_TRUE(small.ok) << small.error;
  EXPECT_FALSE(small.ecd64 || small.ecdl64);
  EXPECT_EQ(small.ecd.totalQtyCdEntries(), kFiles - 1);
  expectTool("unzip -tq " + shellQuote(fewer.string()));
}

// A sparse file of 4 GiB + 1 byte of zeros deflates fast and takes no disk.
TEST(ZipLimits, FileOver4GiBGetsZip64HeadersThatToolsAccept) {
  PLIMSY_REQUIRE_TOOL("unzip");
  PLIMSY_REQUIRE_TOOL("python3");
  TempDir dir;
  const fs::path book = dir.path() / "book";
  constexpr std::uint64_t kSize = (std::uint64_t{1} << 32) + 1;
  test::writeFile(book / "mimetype", "application/epub+zip");
  test::writeFile(book / "after.txt", "after the big one");
  test::writeFile(book / "big.bin", "");
  fs::resize_file(book / "big.bin", kSize);

  std::string message;
  sStatistics statistics;
  const fs::path epub = dir.path() / "big.epub";
  ASSERT_TRUE(zipFolder(book, epub, 1, message, &statistics)) << message;
  fs::remove(book / "big.bin");
  EXPECT_FALSE(statistics.zip64);  // the end records fit; only the entry needs ZIP64
  EXPECT_EQ(statistics.deflatedInputBytes, kSize + 17);

  const ArchiveView view = test::viewArchive(test::readFile(epub));
  ASSERT_TRUE(view.ok) << view.error;
  ASSERT_EQ(test::namesOf(view), (std::vector<std::string>{"mimetype", "after.txt", "big.bin"}));
  const test::ViewedEntry& e = view.entries[2];
  EXPECT_EQ(e.lfh.versionToExtract(), kVersionZip64);
  EXPECT_EQ(e.lfh.uncompressedSize(), kAllOnes32);
  EXPECT_EQ(e.lfh.compressedSize(), kAllOnes32);  // both, so that every reader takes the same sizes
  ASSERT_EQ(e.lfhExtra.size(), kLfhZip64Size);
  EXPECT_EQ(loadLe64(reinterpret_cast<const std::uint8_t*>(e.lfhExtra.data()) + 4), kSize);
  EXPECT_EQ(loadLe64(reinterpret_cast<const std::uint8_t*>(e.lfhExtra.data()) + 12), e.compressedSize);
  EXPECT_EQ(e.cdr.versionToExtract(), kVersionZip64);
  EXPECT_EQ(e.cdr.uncompressedSize(), kAllOnes32);
  EXPECT_EQ(e.cdr.compressedSize(), e.compressedSize);
  EXPECT_EQ(e.cdrExtra.size(), 12u);  // the uncompressed size alone
  EXPECT_EQ(e.uncompressedSize, kSize);
  EXPECT_EQ(e.lfh.crc(), 0x41D912FFu) << std::hex << e.lfh.crc();  // CRC-32 of 4 GiB + 1 zero bytes

  expectTool("unzip -tq " + shellQuote(epub.string()));
  expectTool("python3 -c " +
             shellQuote("import sys, zipfile\n"
                        "z = zipfile.ZipFile(sys.argv[1])\n"
                        "assert z.testzip() is None\n"
                        "assert z.getinfo('big.bin').file_size == " +
                        std::to_string(kSize) + "\n") +
             " " + shellQuote(epub.string()));
}

}  // namespace
}  // namespace plimsy
