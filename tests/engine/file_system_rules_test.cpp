// What each system's file system allows, and the jobs' deliberate answers:
// names Windows cannot hold, names that differ only in letter case, paths
// longer than Windows' old 260-character limit, a book file another program
// holds open, and a read-only epub.

#include <filesystem>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "core/message.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/job_report.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "support/file_tree.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

namespace fs = std::filesystem;
using test::readTree;
using test::storedEntry;
using test::TempDir;
using test::writeFile;
using Tree = std::map<std::string, std::string>;

class FileSystemRules : public ::testing::Test {
 protected:
  // Unzips an archive of `entries` (after the mimetype) into files/; false
  // with the job's message.
  bool unzipEntries(const std::vector<test::EntryPlan>& entries) {
    std::vector<test::EntryPlan> all{storedEntry("mimetype", "application/epub+zip")};
    all.insert(all.end(), entries.begin(), entries.end());
    writeFile(dir.path() / "in.epub", test::buildArchive(test::planOf(all)));
    statistics = sStatistics{};
    return unzipJob(test::unzipOrder(dir / "in.epub", dir / "files"), &message, statistics);
  }
  TempDir dir;
  std::string message;
  sStatistics statistics;
};

// Names Windows cannot hold would, written there, open a device or a stream
// of another file, or lose their trailing dot and meet another name: refused
// as unsafe on Windows, before anything is written. Elsewhere they are names.
TEST_F(FileSystemRules, NamesWindowsCannotHoldAreUnsafeThere) {
  for (const char* name : {"OEBPS/CON", "OEBPS/aux.xhtml", "OEBPS/Text./a.xhtml", "OEBPS/cover ", "OEBPS/a:stream"}) {
    SCOPED_TRACE(name);
    fs::remove_all(dir.path() / "files");
    const bool unpacked = unzipEntries({storedEntry(name, "x")});
    if (kWindowsNameRules) {
      EXPECT_FALSE(unpacked);
      EXPECT_EQ(message, formatText("Unsafe file name in zip file:\n%s", name));
      EXPECT_TRUE(test::listTree(dir.path() / "files").empty());  // the claimed folder, if any, stays empty
    } else {
      ASSERT_TRUE(unpacked) << message;
      EXPECT_EQ(readTree(dir.path() / "files")[name], "x");
    }
  }
}

// Two entries whose names differ only in case are one file where the file
// system ignores case (Windows): the later entry wins, as it does for two
// entries of exactly the same name. Where case counts, both are kept.
TEST_F(FileSystemRules, NamesThatDifferOnlyInCaseMeetWhereCaseIsIgnored) {
  ASSERT_TRUE(unzipEntries({storedEntry("Text/Chapter.xhtml", "first"), storedEntry("text/chapter.XHTML", "second")}))
      << message;
  const Tree tree = readTree(dir.path() / "files");
  if (kWindowsNameRules) {
    EXPECT_EQ(tree, (Tree{{"mimetype", "application/epub+zip"}, {"Text/Chapter.xhtml", "second"}}));
  } else {
    EXPECT_EQ(tree, (Tree{{"mimetype", "application/epub+zip"},
                          {"Text/Chapter.xhtml", "first"},
                          {"text/chapter.XHTML", "second"}}));
  }
}

// Entries that unpack to one file, as the file system decides: exact
// duplicates everywhere, names equal under NTFS's case folding (accented
// letters too, and folders) on Windows. The later entry wins, as unpacking
// in order gives, and the job names what it replaced; the warning says so.
TEST_F(FileSystemRules, EntriesThatUnpackToOneFileAreNamed) {
  using Replaced = std::vector<sReplacedEntry>;
  const struct {
    const char* label;
    std::vector<test::EntryPlan> entries;
    Tree posixTree;  // without the mimetype
    Replaced posixReplaced;
    Tree windowsTree;
    Replaced windowsReplaced;
  } cases[] = {
      {"exact duplicates",
       {storedEntry("OEBPS/ch.xhtml", "first"), storedEntry("OEBPS/ch.xhtml", "second")},
       {{"OEBPS/ch.xhtml", "second"}},
       {{"OEBPS/ch.xhtml", "OEBPS/ch.xhtml"}},
       {{"OEBPS/ch.xhtml", "second"}},
       {{"OEBPS/ch.xhtml", "OEBPS/ch.xhtml"}}},
      {"one path spelt two ways",
       {storedEntry("OEBPS/./ch.xhtml", "first"), storedEntry("OEBPS//ch.xhtml", "second")},
       {{"OEBPS/ch.xhtml", "second"}},
       {{"OEBPS/./ch.xhtml", "OEBPS//ch.xhtml"}},
       {{"OEBPS/ch.xhtml", "second"}},
       {{"OEBPS/./ch.xhtml", "OEBPS//ch.xhtml"}}},
      {"ASCII case",
       {storedEntry("Text/Chapter.xhtml", "first"), storedEntry("Text/chapter.XHTML", "second")},
       {{"Text/Chapter.xhtml", "first"}, {"Text/chapter.XHTML", "second"}},
       {},
       {{"Text/Chapter.xhtml", "second"}},
       {{"Text/Chapter.xhtml", "Text/chapter.XHTML"}}},
      {"accented letters",
       {storedEntry("\xC3\x89t\xC3\xA9.xhtml", "first"), storedEntry("\xC3\xA9t\xC3\x89.xhtml", "second")},
       {{"\xC3\x89t\xC3\xA9.xhtml", "first"}, {"\xC3\xA9t\xC3\x89.xhtml", "second"}},
       {},
       {{"\xC3\x89t\xC3\xA9.xhtml", "second"}},
       {{"\xC3\x89t\xC3\xA9.xhtml", "\xC3\xA9t\xC3\x89.xhtml"}}},
      {"folders",
       {storedEntry("A/x.xhtml", "first"), storedEntry("a/x.xhtml", "second")},
       {{"A/x.xhtml", "first"}, {"a/x.xhtml", "second"}},
       {},
       {{"A/x.xhtml", "second"}},
       {{"A/x.xhtml", "a/x.xhtml"}}},
      {"three of one name",
       {storedEntry("x.css", "1"), storedEntry("X.css", "2"), storedEntry("x.css", "3")},
       {{"x.css", "3"}, {"X.css", "2"}},
       {{"x.css", "x.css"}},
       {{"x.css", "3"}},
       {{"x.css", "X.css"}, {"X.css", "x.css"}}},
      {"different names",
       {storedEntry("a.xhtml", "first"), storedEntry("b.xhtml", "second"), storedEntry("a/", "")},
       {{"a.xhtml", "first"}, {"b.xhtml", "second"}},
       {},
       {{"a.xhtml", "first"}, {"b.xhtml", "second"}},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(dir.path() / "files");
    ASSERT_TRUE(unzipEntries(c.entries)) << message;
    Tree expected = kWindowsNameRules ? c.windowsTree : c.posixTree;
    expected["mimetype"] = "application/epub+zip";
    EXPECT_EQ(readTree(dir.path() / "files"), expected);
    const Replaced& replaced = kWindowsNameRules ? c.windowsReplaced : c.posixReplaced;
    EXPECT_EQ(statistics.replacedEntries, replaced);
    std::string warning;
    if (!replaced.empty())
      warning = "Some entries of the epub unpack to the same file; the later one replaced the earlier one:";
    for (const sReplacedEntry& entry : replaced) warning += "\n  " + entry.by + " replaced " + entry.replaced;
    EXPECT_EQ(replacedEntriesWarning(statistics), warning);
  }
}

// A long list of replaced entries is cut short in the warning.
TEST_F(FileSystemRules, TheWarningNamesTheFirstReplacedEntriesAndCountsTheRest) {
  std::vector<test::EntryPlan> entries;
  for (int i = 0; i < 25; ++i) entries.push_back(storedEntry("same.xhtml", std::to_string(i)));
  ASSERT_TRUE(unzipEntries(entries)) << message;
  EXPECT_EQ(test::readFile(dir.path() / "files" / "same.xhtml"), "24");
  ASSERT_EQ(statistics.replacedEntries.size(), 24u);
  const std::string warning = replacedEntriesWarning(statistics);
  std::string expected = "Some entries of the epub unpack to the same file; the later one replaced the earlier one:";
  for (std::size_t i = 0; i < kMostReplacedLines; ++i) expected += "\n  same.xhtml replaced same.xhtml";
  EXPECT_EQ(warning, expected + "\n  and 4 more");
}

// A book deep in a folder tree, with names that take every path past 260
// characters: zipped and unzipped as any other.
TEST_F(FileSystemRules, PathsLongerThan260CharactersWork) {
  fs::path deep = dir.path();
  for (int i = 0; i < 6; ++i) deep /= std::string(40, static_cast<char>('a' + i));
  const fs::path book = deep / "book";
  writeFile(book / "mimetype", "application/epub+zip");
  writeFile(book / "OEBPS" / (std::string(60, 'c') + ".xhtml"), "<p>deep</p>");
  ASSERT_GT(utf8FromPath(book / "OEBPS").size() + 66, 260u);
  ASSERT_TRUE(test::zipFolder(book, deep / "book.epub", 9, message)) << message;
  sStatistics statistics;
  ASSERT_TRUE(
      unzipJob(test::unzipOrder(utf8FromPath(deep / "book.epub"), utf8FromPath(deep / "again")), &message, statistics))
      << message;
  EXPECT_EQ(readTree(deep / "again"), readTree(book));
}

// A reading program may hold a book file open without sharing it (Windows):
// the zip names the file and says why.
TEST_F(FileSystemRules, ABookFileHeldByAnotherProgramIsNamed) {
  writeFile(dir.path() / "book" / "mimetype", "application/epub+zip");
  writeFile(dir.path() / "book" / "OEBPS" / "open.xhtml", "<p/>");
  const auto held = test::holdWithoutSharing(dir.path() / "book" / "OEBPS" / "open.xhtml");
  if (!held) GTEST_SKIP() << "files have no sharing modes on this system";
  EXPECT_FALSE(test::zipFolder(dir.path() / "book", dir.path() / "book.epub", 9, message));
  EXPECT_EQ(message, formatText(kFileInUseMessage, dir / "book/OEBPS/open.xhtml"));
  EXPECT_FALSE(fs::exists(dir.path() / "book.epub"));
}

// A read-only epub is replaced like any other (it was backed up first): the
// attribute keeps the file from being written, not its name from being
// reused by the program that made it.
TEST_F(FileSystemRules, AReadOnlyEpubIsReplacedAfterItsBackup) {
  writeFile(dir.path() / "book" / "mimetype", "application/epub+zip");
  writeFile(dir.path() / "book.epub", "old epub");
  fs::permissions(dir.path() / "book.epub", fs::perms::owner_read, fs::perm_options::replace);
  EpubWorkOrder order = test::zipOrder(dir.str() + "book", dir / "book.epub");
  order.BackupDir = dir / "backups";
  sStatistics statistics;
  EXPECT_TRUE(zipJob(order, &message, statistics)) << message;
  EXPECT_EQ(test::readFile(dir.path() / "backups" / "back1.zip"), "old epub");
  EXPECT_EQ(test::readFile(dir.path() / "book.epub").substr(30, 8), "mimetype");
}

}  // namespace
}  // namespace plimsy
