// Archives made by other people's tools, unpacked by our unzip job: the
// result must be the tree that Info-ZIP unzip makes of the same archive
// (same file names, same bytes, the same empty files and empty folders).

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "engine/unzip_job.h"
#include "engine/zip_reader.h"
#include "interop/external_tools.h"
#include "support/file_tree.h"
#include "support/messages.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::runCommand;
using test::shellQuote;
using test::TempDir;

using Tree = std::map<std::string, std::string>;

// Packs the folder given as the first argument into the archive given as the
// second ("-" for standard output, which zipfile cannot seek in: it then
// writes data descriptors). Deflates text, stores the rest.
const char* const kPythonZip = R"(
import os, sys, zipfile
folder, target = sys.argv[1], sys.argv[2]
out = sys.stdout.buffer if target == "-" else open(target, "wb")
with zipfile.ZipFile(out, "w") as z:
    z.write(os.path.join(folder, "mimetype"), "mimetype", zipfile.ZIP_STORED)
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            arcname = os.path.relpath(path, folder)
            if arcname == "mimetype":
                continue
            method = zipfile.ZIP_STORED if name.endswith(".png") else zipfile.ZIP_DEFLATED
            z.write(path, arcname, method)
)";

const char* const kMarkdown = R"(---
title: The Lamp Keeper
author: A. Nonymous
lang: en
---

# The Keeper

The keeper lit a lamp over grey water.

# The Storm

Rain fell in torrents, except at occasional intervals.
)";

// Tools run with a UTF-8 locale, so that they keep non-ASCII names as bytes.
std::string inUtf8(const std::string& command) { return "export LC_ALL=C.UTF-8; " + command; }

class UnzipInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(test::sampleBook(), book(), fs::copy_options::recursive);
    test::writeFile(book() / "OEBPS" / "text" / "long.xhtml", test::prose(700'000, 11));  // many inflate windows
    test::writeFile(book() / "OEBPS" / "empty.txt", "");
    fs::create_directories(book() / "OEBPS" / "fonts");  // an empty folder
    test::writeFile(book() / "OEBPS" / "images" / "noise.png", test::noise(150'000, 5));
    test::writeFile(book() / "OEBPS" / "caf\xC3\xA9" / "r\xC3\xA9sum\xC3\xA9.txt", "accents");
  }

  fs::path book() const { return dir.path() / "book"; }
  std::string archive(const char* name) const { return dir / name; }

  // Runs a packing command in the book folder, with $ARCHIVE set to `zip`;
  // fails the test when it fails.
  void pack(const std::string& command, const std::string& zip) {
    test::writeFile(dir / "pack.py", kPythonZip);
    std::string output;
    const std::string variables = "ARCHIVE=" + shellQuote(zip) + " PACK_PY=" + shellQuote(dir / "pack.py") + "; ";
    ASSERT_EQ(runCommand(inUtf8(variables + "cd " + shellQuote(book().string()) + " && " + command), output), 0)
        << output;
  }

  // Info-ZIP unzip unpacks the archive into infozip/.
  fs::path infoZipUnzip(const std::string& zip) {
    const fs::path folder = dir.path() / "infozip";
    fs::remove_all(folder);
    std::string output;
    EXPECT_EQ(runCommand(inUtf8("unzip -q -o " + shellQuote(zip) + " -d " + shellQuote(folder.string())), output), 0)
        << output;
    return folder;
  }

  bool ourUnzip(const std::string& zip) {
    const EpubWorkOrder order = test::unzipOrder(zip, dir / "ours");
    fs::remove_all(order.FilesDir);
    message.clear();
    sStatistics statistics;
    return unzipJob(order, &message, statistics);
  }

  // Our unzip gives what Info-ZIP unzip gives, and that is the book.
  void expectSameAsInfoZip(const std::string& zip, bool isTheBook = true) {
    PLIMSY_REQUIRE_TOOL("unzip");
    const fs::path reference = infoZipUnzip(zip);
    const Tree referenceFiles = test::fingerprintTree(reference);
    ASSERT_FALSE(referenceFiles.empty());
    ASSERT_TRUE(ourUnzip(zip)) << message;
    EXPECT_EQ(test::fingerprintTree(dir.path() / "ours"), referenceFiles);
    EXPECT_EQ(test::listTree(dir.path() / "ours"), test::listTree(reference));
    if (isTheBook) {
      EXPECT_EQ(referenceFiles, test::fingerprintTree(book()));
    }
  }

  TempDir dir;
  std::string message;
};

// Info-ZIP zip packing an epub: mimetype first and stored, the rest at level 9.
const char* const kInfoZipEpub = "zip -q -X -0 \"$ARCHIVE\" mimetype && zip -q -X -r -9 \"$ARCHIVE\" . -x mimetype";

// A way of packing the book: the tool, and a command for the book folder that
// writes $ARCHIVE ($PACK_PY is kPythonZip).
struct sPacker {
  const char* name;
  const char* tool;
  const char* command;
};

const sPacker kPackers[] = {
    {"InfoZip", "zip", kInfoZipEpub},
    // Written to a pipe, zip cannot go back to the local headers: it sets flag
    // bit 3, writes zero sizes there and the real ones in data descriptors.
    {"InfoZipStreamedDeflated", "zip", "zip -q -r - . | cat > \"$ARCHIVE\""},
    {"InfoZipStreamedStored", "zip", "zip -q -r -0 - . | cat > \"$ARCHIVE\""},
    {"SevenZip", "7zz", "7zz a -tzip -mx=9 -bso0 -bsp0 \"$ARCHIVE\" ."},
    // Names start with "./", and there is a "./" entry of its own.
    {"Bsdtar", "bsdtar", "bsdtar --format zip -cf \"$ARCHIVE\" ."},
    {"PythonZipfileSeekable", "python3", "python3 \"$PACK_PY\" . \"$ARCHIVE\""},
    {"PythonZipfileStreamed", "python3", "python3 \"$PACK_PY\" . - | cat > \"$ARCHIVE\""},
};

class UnzipInteropPacked : public UnzipInterop, public ::testing::WithParamInterface<sPacker> {};

TEST_P(UnzipInteropPacked, OurUnzipGivesWhatInfoZipGives) {
  PLIMSY_REQUIRE_TOOL(GetParam().tool);
  pack(GetParam().command, archive("packed.zip"));
  expectSameAsInfoZip(archive("packed.zip"));
}

INSTANTIATE_TEST_SUITE_P(Packers, UnzipInteropPacked, ::testing::ValuesIn(kPackers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UnzipInterop, PandocEpub) {
  PLIMSY_REQUIRE_TOOL("pandoc");
  test::writeFile(dir.path() / "book.md", kMarkdown);
  std::string output;
  ASSERT_EQ(runCommand(inUtf8("cd " + shellQuote(dir.str()) + " && pandoc book.md -o pandoc.epub"), output), 0)
      << output;
  expectSameAsInfoZip(archive("pandoc.epub"), false);
}

// ---- Damage ------------------------------------------------------------------------------

// The offset of an entry's data in an archive, found with our reader.
std::uint64_t dataOffsetOf(const std::string& zip, const std::string& name) {
  EpubWorkOrder order;
  order.ZipPath = zip;
  cZipReader reader;
  std::string message;
  EXPECT_TRUE(reader.openArchive(&message, order)) << message;
  for (const sZipEntry& entry : reader.entries()) {
    if (entry.cdr.name == name) return entry.dataOffset;
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

TEST_F(UnzipInterop, DamagedEntriesOfAnInfoZipArchiveFailWithTheirMessage) {
  PLIMSY_REQUIRE_TOOL("zip");
  const std::string zip = archive("a.zip");
  pack(kInfoZipEpub, zip);
  const std::string sound = test::readFile(zip);
  const std::uint64_t stored = dataOffsetOf(zip, "mimetype");
  const std::uint64_t deflated = dataOffsetOf(zip, "OEBPS/text/long.xhtml");

  std::string damaged = sound;
  damaged[stored + 5] ^= 0x01;
  test::writeFile(zip, damaged);
  EXPECT_FALSE(ourUnzip(zip));
  EXPECT_EQ(message, kCrcMismatchMessage);

  damaged = sound;
  damaged[deflated] = '\x07';  // a final block of the reserved type
  test::writeFile(zip, damaged);
  EXPECT_FALSE(ourUnzip(zip));
  EXPECT_EQ(test::firstLine(message), kDeflatedWriteMessage);
}

}  // namespace
}  // namespace plimsy
