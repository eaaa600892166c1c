// Our archives checked by other people's tools: Info-ZIP unzip, 7-Zip,
// bsdtar, Python's zipfile and epubcheck.

#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/container_check.h"
#include "engine/repack_job.h"
#include "interop/external_tools.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::expectTool;
using test::runCommand;
using test::shellQuote;
using test::TempDir;
using test::zipFolder;

const char* const kEpubcheck = "/usr/share/java/epubcheck.jar";

// Reads every entry back and compares it with the file it came from; checks
// that mimetype comes first, stored, with no extra field. Prints "OK" at the end.
const char* const kPythonCheck = R"(
import os, sys, zipfile
archive, folder = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    assert bad is None, "bad entry: %r" % bad
    infos = z.infolist()
    first = infos[0]
    assert first.filename == "mimetype", first.filename
    assert first.compress_type == zipfile.ZIP_STORED, first.compress_type
    assert first.extra == b"", first.extra
    names = set()
    for info in infos:
        # Names are UTF-8 without the UTF-8 flag, which zipfile reads as CP437.
        name = info.filename.encode("cp437").decode("utf-8")
        with open(os.path.join(folder, name), "rb") as f:
            assert z.read(info) == f.read(), name
        names.add(name)
    on_disk = set()
    for root, dirs, files in os.walk(folder):
        for name in files:
            on_disk.add(os.path.relpath(os.path.join(root, name), folder))
    assert names == on_disk, (names ^ on_disk)
print("OK")
)";

// The sample book plus a few files that exercise the writer: a big text that
// is streamed, an empty file, an incompressible image, a name in Greek.
fs::path makeBook(const TempDir& dir) {
  const fs::path book = dir.path() / "book";
  fs::copy(test::sampleBook(), book, fs::copy_options::recursive);
  test::writeFile(book / "OEBPS" / "text" / "long.xhtml", test::prose(3 << 20, 7));
  test::writeFile(book / "OEBPS" / "empty.txt", "");
  test::writeFile(book / "OEBPS" / "images" / "noise.jpg", test::noise(400'000, 9));
  test::writeFile(book / "OEBPS" / "\xCE\xBA\xCE\xB5\xCF\x86.txt", "Greek name");
  return book;
}

class ZipInterop : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ZipInterop, ToolsAcceptOurArchiveAndReadBackEveryFile) {
  for (const char* tool : {"unzip", "7zz", "bsdtar", "python3"}) PLIMSY_REQUIRE_TOOL(tool);
  TempDir dir;
  const fs::path book = makeBook(dir);
  const fs::path epub = dir.path() / "book.epub";
  std::string message;
  ASSERT_TRUE(zipFolder(book, epub, GetParam(), message)) << message;
  const std::string archive = shellQuote(epub.string());
  expectTool("unzip -t " + archive);
  expectTool("7zz t " + archive);
  std::string listing;
  EXPECT_EQ(runCommand("bsdtar -tf " + archive, listing), 0) << listing;
  EXPECT_EQ(listing.substr(0, 9), "mimetype\n") << listing;
  EXPECT_NE(listing.find("OEBPS/text/long.xhtml\n"), std::string::npos) << listing;
  test::writeFile(dir.path() / "check.py", kPythonCheck);
  std::string output;
  EXPECT_EQ(runCommand("python3 " + shellQuote((dir.path() / "check.py").string()) + " " + archive + " " +
                           shellQuote(book.string()),
                       output),
            0)
      << output;
  EXPECT_EQ(output, "OK\n");
}

INSTANTIATE_TEST_SUITE_P(Levels, ZipInterop, ::testing::Values(0u, 1u, 9u),
                         [](const auto& info) { return "Level" + std::to_string(info.param); });

TEST(ZipInteropEpub, EpubcheckAcceptsTheSampleBook) {
  PLIMSY_REQUIRE_TOOL("java");
  PLIMSY_REQUIRE_TOOL(kEpubcheck);
  TempDir dir;
  const fs::path epub = dir.path() / "sample.epub";
  std::string message;
  ASSERT_TRUE(zipFolder(test::sampleBook(), epub, 9, message)) << message;
  expectTool(std::string("java -jar ") + kEpubcheck + " " + shellQuote(epub.string()));
}

TEST(ZipInteropEpub, EpubcheckAcceptsAPandocBookUnpackedAndPackedAgain) {
  for (const char* tool : {"pandoc", "unzip", "java"}) PLIMSY_REQUIRE_TOOL(tool);
  PLIMSY_REQUIRE_TOOL(kEpubcheck);
  TempDir dir;
  test::writeFile(dir.path() / "book.md",
                  "---\ntitle: The Keeper\nauthor: A. Writer\nlang: en\n---\n\n# One\n\nThe lamp was lit.\n\n"
                  "# Two\n\nThe *sea* was grey.\n");
  const std::string original = shellQuote((dir.path() / "original.epub").string());
  const std::string folder = shellQuote((dir.path() / "unpacked").string());
  expectTool("pandoc -o " + original + " " + shellQuote((dir.path() / "book.md").string()));
  expectTool("unzip -q " + original + " -d " + folder);
  const fs::path repacked = dir.path() / "repacked.epub";
  std::string message;
  ASSERT_TRUE(zipFolder(dir.path() / "unpacked", repacked, 9, message)) << message;
  expectTool(std::string("java -jar ") + kEpubcheck + " " + shellQuote(repacked.string()));
}

// Epubs whose container is broken, as epubcheck finds them: one a Debian
// package ships (its mimetype is not the first entry), and a pandoc book
// packed again by Info-ZIP with mimetype last, deflated, ending in a newline.
// Our check finds the fault too; after repack neither it nor epubcheck finds
// anything wrong with either.
TEST(ZipInteropEpub, EpubcheckAcceptsBrokenEpubsOnceRepacked) {
  const char* const kDebianEpub = "/usr/share/developers-reference/developers-reference.epub";
  for (const char* tool : {"pandoc", "unzip", "zip", "java", kEpubcheck, kDebianEpub}) PLIMSY_REQUIRE_TOOL(tool);
  TempDir dir;
  test::writeFile(dir.path() / "book.md", "---\ntitle: The Keeper\nlang: en\n---\n\n# One\n\nThe lamp was lit.\n");
  const std::string book = shellQuote((dir.path() / "book.epub").string());
  const std::string folder = shellQuote((dir.path() / "unpacked").string());
  expectTool("pandoc -o " + book + " " + shellQuote((dir.path() / "book.md").string()));
  expectTool("unzip -q " + book + " -d " + folder + " && cd " + folder +
             " && printf 'application/epub+zip\\n' > mimetype" +
             " && zip -q -r -9 ../broken.epub . -x mimetype && zip -q -9 ../broken.epub mimetype");
  fs::copy_file(kDebianEpub, dir.path() / "debian.epub");
  for (const char* name : {"broken.epub", "debian.epub"}) {
    SCOPED_TRACE(name);
    const std::string epub = shellQuote((dir.path() / name).string());
    std::string output;
    EXPECT_NE(runCommand(std::string("java -jar ") + kEpubcheck + " " + epub, output), 0);
    EXPECT_NE(output.find("PKG-006"), std::string::npos) << output;
    const auto codes = [&] {
      std::set<std::string> found;
      for (const sFinding& f : checkContainer((dir.path() / name).string()))
        if (f.severity == eSeverity::Error) found.insert(f.code);
      return found;
    };
    EXPECT_TRUE(codes().contains("PKG-006"));
    sStatistics statistics;
    std::string message;
    ASSERT_TRUE(
        repackJob({(dir.path() / name).string(), (dir.path() / name).string(), "", std::nullopt}, &message, statistics))
        << message;
    expectTool(std::string("java -jar ") + kEpubcheck + " " + epub);
    EXPECT_EQ(codes(), std::set<std::string>{});
  }
}

}  // namespace
}  // namespace plimsy
