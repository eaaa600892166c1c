#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "core/paths.h"
#include "engine/archive_view.h"
#include "engine/entry_writer.h"
#include "engine/zip_job.h"
#include "engine/zip_records.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/times.h"

namespace plimsy {
namespace {

using test::ArchiveView;
using test::noise;
using test::prose;
using test::TempDir;
using test::utc;
using test::ViewedEntry;

platform::FolderItem findDataOf(const std::string& path) {
  platform::FolderItem item;
  item.name = std::string(fileNamePart(path));
  platform::FileTimes times;
  if (platform::readFileTimes(path, times)) item.lastWrite = times.write;
  return item;
}

// A writer on <dir>/out.zip with the given level; no renames, no file times.
class WriterFixture {
 public:
  explicit WriterFixture(const TempDir& dir, std::uint32_t level = 9) : dir_(dir) {
    writer.compressionLevel = level;
    writer.realCreationTimes = false;
    writer.filesFolder = dir.str() + "book/";
    writer.epubPath = writer.workPath = dir / "out.zip";
    EXPECT_TRUE(writer.output.open(writer.workPath, platform::File::Mode::WriteTruncate));
  }

  void put(const std::string& relativePath, std::string_view content) {
    test::writeFile(pathFromUtf8(writer.filesFolder + relativePath), content);
  }

  bool add(const std::string& relativePath, std::optional<std::uint32_t> forced = std::nullopt) {
    return add_file__def(writer, &message, relativePath, findDataOf(writer.filesFolder + relativePath),
                         writer.filesFolder, forced);
  }

  ArchiveView finish() {
    EXPECT_TRUE(finishArchive(writer, &message)) << message;
    bytes = test::readFile(writer.workPath);
    return test::viewArchive(bytes);
  }

  sZipWriter writer;
  std::string message;
  std::string bytes;

 private:
  const TempDir& dir_;
};

// ---- Stored or deflated ------------------------------------------------------------

TEST(EntryWriter, AlreadyCompressedExtensionsByTheLastDot) {
  for (const char* name : {"cover.JPG", "a.gif", "b.jpeg", "c.Png", "d.tif", "e.TIFF", "f.mp3", "g.mp4", "h.wma",
                           "i.avi", "j.mpeg", "k.MPG", "OEBPS/images/x.jpg"})
    EXPECT_TRUE(isCompressedFileName(name)) << name;
  for (const char* name : {"photo.jpeg.txt", "jpg", "a.jpgx", "a.webp", "images.jpg/readme", "a.jpg b", ""})
    EXPECT_FALSE(isCompressedFileName(name)) << name;
}

// Level 9 stores images unless compressed files are deflated too; level 0
// stores everything; a forced level wins over both.
TEST(EntryWriter, StoredOrDeflatedByLevelExtensionAndForcedLevel) {
  struct Case {
    std::uint32_t level;
    bool deflateCompressed;
    std::uint16_t cover, text, forced;
  };
  for (const Case& c : {Case{9, false, kMethodStored, kMethodDeflated, kMethodStored},
                        Case{9, true, kMethodDeflated, kMethodDeflated, kMethodStored},
                        Case{0, true, kMethodStored, kMethodStored, kMethodDeflated}}) {
    TempDir dir;
    WriterFixture f(dir, c.level);
    f.writer.deflateCompressedFiles = c.deflateCompressed;
    f.put("cover.JPG", prose(5000, 1));
    f.put("photo.jpeg.txt", prose(5000, 2));
    ASSERT_TRUE(f.add("cover.JPG")) << f.message;
    ASSERT_TRUE(f.add("photo.jpeg.txt")) << f.message;
    ASSERT_TRUE(f.add("photo.jpeg.txt", c.level == 0 ? 6 : 0)) << f.message;
    const ArchiveView view = f.finish();
    ASSERT_TRUE(view.ok) << view.error;
    const std::uint16_t expected[] = {c.cover, c.text, c.forced};
    for (std::size_t i = 0; i < 3; ++i) {
      const ViewedEntry& e = view.entries[i];
      const std::uint16_t version = expected[i] == kMethodStored ? kVersionStored : kVersionDeflated;
      EXPECT_EQ(e.lfh.compressionMethod(), expected[i]) << i << " level " << c.level;
      EXPECT_EQ(e.lfh.versionToExtract(), version) << i;
      EXPECT_EQ(e.cdr.versionToExtract(), version) << i;
      EXPECT_EQ(test::contentOf(e), prose(5000, i == 0 ? 1 : 2)) << i;
    }
    const auto stored = static_cast<std::uint64_t>(std::count(expected, expected + 3, kMethodStored));
    EXPECT_EQ(f.writer.statistics.stored, stored);
    EXPECT_EQ(f.writer.statistics.deflated, 3 - stored);
  }
}

TEST(EntryWriter, EmptyFileIsTheTwoByteDeflateStreamWithCrcZero) {
  TempDir dir;
  WriterFixture f(dir, 9);
  f.put("empty.xhtml", "");
  ASSERT_TRUE(f.add("empty.xhtml"));
  const ArchiveView view = f.finish();
  ASSERT_TRUE(view.ok) << view.error;
  const ViewedEntry& e = view.entries[0];
  EXPECT_EQ(e.lfh.compressionMethod(), kMethodDeflated);
  EXPECT_EQ(e.lfh.compressedSize(), 2u);
  EXPECT_EQ(e.lfh.uncompressedSize(), 0u);
  EXPECT_EQ(e.lfh.crc(), 0u);
  EXPECT_EQ(e.data, std::string("\x03\x00", 2));
  EXPECT_EQ(f.writer.statistics.deflated, 1u);
  EXPECT_EQ(f.writer.statistics.zeroLength, 0u);
}

TEST(EntryWriter, RandomDataStaysDeflatedThoughItGrows) {
  for (const std::size_t limit : {kWholeFileLimit, std::size_t{0}}) {
    TempDir dir;
    WriterFixture f(dir, 9);
    f.writer.wholeFileLimit = limit;
    const std::string content = noise(300'000, 5);
    f.put("noise.bin", content);
    ASSERT_TRUE(f.add("noise.bin")) << f.message;
    const ArchiveView view = f.finish();
    ASSERT_TRUE(view.ok) << view.error;
    const ViewedEntry& e = view.entries[0];
    EXPECT_EQ(e.cdr.compressionMethod(), kMethodDeflated);
    EXPECT_GT(e.compressedSize, content.size());
    EXPECT_LT(e.compressedSize, content.size() + content.size() / 100);
    EXPECT_EQ(e.lfh.compressedSize(), e.compressedSize);
    EXPECT_EQ(e.lfh.crc(), crc32(0, reinterpret_cast<const Bytef*>(content.data()), content.size()));
    EXPECT_EQ(test::contentOf(e), content);
  }
}

TEST(EntryWriter, DeflateFileWritesTheRawStreamOfTheRestOfTheSource) {
  TempDir dir;
  for (const std::string& content : {std::string(), prose(700'000, 6)}) {
    test::writeFile(dir / "source", "skipped" + content);
    platform::File source;
    platform::File output;
    ASSERT_TRUE(source.open(dir / "source", platform::File::Mode::Read));
    ASSERT_TRUE(output.open(dir / "deflated", platform::File::Mode::WriteTruncate));
    char skipped[7];
    ASSERT_EQ(source.read(skipped, sizeof skipped), sizeof skipped);
    ASSERT_TRUE(deflateFile(output, source, 6));
    ASSERT_TRUE(output.close());
    const std::string deflated = test::readFile(dir / "deflated");
    if (content.empty()) {
      EXPECT_EQ(deflated, std::string("\x03\x00", 2));
    }
    EXPECT_EQ(test::inflateRaw(deflated), content);
  }
}

// ---- Names and times -------------------------------------------------------------------

TEST(EntryWriter, NamesAreTheRelativePathInUtf8WithoutTheUtf8Flag) {
  TempDir dir;
  WriterFixture f(dir, 9);
  const std::string greek = "OEBPS/Text/\xCE\xBA\xCE\xB5\xCF\x86.xhtml";  // κεφ.xhtml
  f.put(greek, "<p/>");
  ASSERT_TRUE(f.add(greek));
  if (!kBackslashIsSeparator) {
    // On POSIX a backslash is part of the file's name and stays in the entry's.
    f.put("back\\slash.txt", "x");
    ASSERT_TRUE(f.add("back\\slash.txt"));
  }
  const ArchiveView view = f.finish();
  ASSERT_TRUE(view.ok) << view.error;
  EXPECT_EQ(view.entries[0].name, greek);
  EXPECT_EQ(view.entries[0].lfhName, greek);
  EXPECT_EQ(view.entries[0].lfh.generalFlags(), 0u);
  if (!kBackslashIsSeparator) {
    EXPECT_EQ(view.entries[1].name, "back\\slash.txt");
  }
}

TEST(EntryWriter, EntryTimeIsTheFixedDatetimeElseTheListedLastWrite) {
  TempDir dir;
  WriterFixture f(dir, 9);
  f.put("a.txt", "a");
  platform::FolderItem listed = findDataOf(f.writer.filesFolder + "a.txt");
  listed.lastWrite = utc(2019, 6, 7, 8, 9, 10);
  ASSERT_TRUE(add_file__def(f.writer, &f.message, "a.txt", listed, f.writer.filesFolder));
  f.writer.fixedDatetime = utc(2022, 3, 4, 10, 20, 30);
  ASSERT_TRUE(add_file__def(f.writer, &f.message, "a.txt", listed, f.writer.filesFolder));
  const ArchiveView view = f.finish();
  ASSERT_TRUE(view.ok) << view.error;
  EXPECT_EQ(view.entries[0].lfh.date(), (2019 - 1980) * 512 + 6 * 32 + 7);
  EXPECT_EQ(view.entries[0].lfh.time(), 8 * 2048 + 9 * 32 + 5);
  EXPECT_EQ(view.entries[1].lfh.time(), 0x528F);
  EXPECT_EQ(view.entries[1].lfh.date(), 0x5464);
  EXPECT_EQ(view.entries[1].cdr.time(), 0x528F);
  EXPECT_EQ(view.entries[1].cdr.date(), 0x5464);
}

// ---- Failures ----------------------------------------------------------------------------

TEST(EntryWriter, RefusesMissingSourcesAndOverlongNamesBeforeWritingAnything) {
  TempDir dir;
  WriterFixture f(dir, 9);
  EXPECT_FALSE(f.add("missing.txt"));
  EXPECT_EQ(f.message, "Source file not found in add_file__def().\n" + f.writer.filesFolder + "missing.txt");
  f.put("a.txt", "a");
  const platform::FolderItem item = findDataOf(f.writer.filesFolder + "a.txt");
  EXPECT_TRUE(add_file__def(f.writer, &f.message, "a.txt", item, f.writer.filesFolder, std::nullopt,
                            std::string(kMaxEntryNameLength, 'n')));
  const std::uint64_t before = *f.writer.output.tell();
  EXPECT_FALSE(add_file__def(f.writer, &f.message, "a.txt", item, f.writer.filesFolder, std::nullopt,
                             std::string(kMaxEntryNameLength + 1, 'n')));
  EXPECT_EQ(f.message, "Unable to initialize local file header\n" + f.writer.filesFolder + "a.txt");
  EXPECT_EQ(*f.writer.output.tell(), before);
  EXPECT_EQ(f.writer.statistics.files, 1u);
}

// Files whose length is not what they say when opened: /proc files report
// size 0 and have content (a file that grew); /sys attributes report 4,096
// bytes and hold fewer (a file that shrank). Either way the bytes read differ
// from the length in the header, and the entry is refused, stored or deflated,
// small-file path or streamed.
TEST(EntryWriter, FileThatChangesLengthWhileReadIsRefused) {
  struct Case {
    std::string folder;
    std::string name;
  };
  const std::vector<Case> cases = {{"/proc/self/", "status"}, {"/sys/kernel/mm/transparent_hugepage/", "enabled"}};
  int tried = 0;
  for (const Case& c : cases) {
    if (pathKind(c.folder + c.name) != PathKind::File) continue;
    for (const std::uint32_t level : {0u, 9u}) {
      for (const std::size_t limit : {kWholeFileLimit, std::size_t{0}}) {
        TempDir dir;
        WriterFixture f(dir, level);
        f.writer.wholeFileLimit = limit;
        ++tried;
        EXPECT_FALSE(add_file__def(f.writer, &f.message, c.name, findDataOf(c.folder + c.name), c.folder))
            << c.folder << c.name << " level " << level << " limit " << limit;
        EXPECT_EQ(f.message, "Stored length doesn't match input length in add_file__def().\n" + c.folder + c.name);
      }
    }
  }
  if (tried == 0) GTEST_SKIP() << "no file here reports a length other than its content's";
}

// ---- One pass gives the bytes of two ---------------------------------------------------

// The archive as a writer makes it that reads each file twice: once for the
// CRC-32, then again to store it or to deflate it (fresh stream, 64 KiB
// blocks, Z_FINISH once a read finds the end), writing its local header before
// the data and again after.
std::string twoPassArchive(const std::vector<std::pair<std::string, std::string>>& files, int level, FileTime time) {
  std::string out;
  std::string cd;
  for (const auto& [name, content] : files) {
    const std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(content.data()), content.size());
    sLfhEx2 lfh;
    EXPECT_TRUE(initLfh(lfh, nullptr, level == 0 ? kMethodStored : kMethodDeflated, time, crc, name, content.size(),
                        content.size()));
    auto headerBytes = [&] {
      std::string h(reinterpret_cast<const char*>(lfh.header.data()), kLfhSize);
      h += lfh.name;
      if (lfh.header.usesZip64()) h.append(reinterpret_cast<const char*>(lfh.zip64.data()), kLfhZip64Size);
      return h;
    };
    const std::size_t lfhAt = out.size();
    out += headerBytes();
    const std::size_t dataAt = out.size();
    if (level == 0) {
      out += content;
    } else {
      z_stream s{};
      EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
      std::size_t taken = 0;
      int flush = Z_NO_FLUSH;
      do {
        const std::size_t chunk = std::min<std::size_t>(65536, content.size() - taken);
        flush = chunk < 65536 ? Z_FINISH : Z_NO_FLUSH;
        s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data() + taken));
        s.avail_in = static_cast<uInt>(chunk);
        taken += chunk;
        do {
          unsigned char buffer[65536];
          s.next_out = buffer;
          s.avail_out = sizeof buffer;
          deflate(&s, flush);
          out.append(reinterpret_cast<char*>(buffer), sizeof buffer - s.avail_out);
        } while (s.avail_out == 0);
      } while (flush != Z_FINISH);
      deflateEnd(&s);
    }
    setLfhCompressedSize(lfh, out.size() - dataAt);
    out.replace(lfhAt, kLfhSize + lfh.name.size(), headerBytes());
    CdrEx cdr;
    fillCdr(cdr, lfhAt, lfh);
    appendCdr(cdr, cd);
  }
  const EndRecords end = buildEndRecords(files.size(), cd.size(), out.size(), out.size() + cd.size());
  out += cd;
  out.append(reinterpret_cast<const char*>(end.ecd.data()), kEcdSize);
  return out;
}

TEST(EntryWriter, OnePassWritesTheBytesOfTheTwoPassDescription) {
  const std::size_t mib = std::size_t{1} << 20;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"small.xhtml", prose(10'000, 10)},
      {"empty.xhtml", ""},
      {"big.xhtml", prose(3 * mib + 12345, 11)},
      {"noise.bin", noise(mib + mib / 2, 12)},
      {"limit.xhtml", prose(mib, 13)},             // the biggest file read whole
      {"limit1.xhtml", prose(mib + 1, 14)},        // the smallest one streamed
      {"blocks.xhtml", prose(5 * (mib / 4), 15)},  // whole blocks: the last read finds nothing
      {"tail.xhtml", prose(65536 * 3, 16)},
  };
  const FileTime time = utc(2022, 3, 4, 10, 20, 30);
  for (const std::uint32_t level : {0u, 1u, 9u}) {
    TempDir dir;
    WriterFixture f(dir, level);
    f.writer.fixedDatetime = time;
    for (const auto& [name, content] : files) {
      f.put(name, content);
      ASSERT_TRUE(f.add(name)) << name << ": " << f.message;
    }
    const ArchiveView view = f.finish();
    ASSERT_TRUE(view.ok) << view.error;
    const std::string expected = twoPassArchive(files, static_cast<int>(level), time);
    EXPECT_EQ(f.bytes.size(), expected.size()) << "level " << level;
    EXPECT_TRUE(f.bytes == expected) << "level " << level;
    ASSERT_EQ(view.entries.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(test::contentOf(view.entries[i]), files[i].second) << files[i].first << " level " << level;
    }
  }
}

}  // namespace
}  // namespace plimsy
