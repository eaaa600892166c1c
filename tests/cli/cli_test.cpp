// plimsy-cli end to end: the real executable, run in a temporary folder.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "core/paths.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "engine/zip_reader.h"

#include "support/file_tree.h"
#include "support/process.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/times.h"
#include "support/work_orders.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

using CliRun = test::ProgramRun;

// Runs plimsy-cli in `folder` with these words as its arguments.
CliRun cliWords(const fs::path& folder, const std::vector<std::string>& words) {
  return test::runProgram(PLIMSY_CLI_EXECUTABLE, words, folder);
}

// The same with `arguments` split into words as a shell would split them (''
// is an empty word).
CliRun cli(const fs::path& folder, const std::string& arguments) {
  return cliWords(folder, test::splitWords(arguments));
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy(test::sampleBook(), dir.path() / "book", fs::copy_options::recursive); }
  TempDir dir;
};

TEST_F(Cli, UsageErrorsExitWithTwoAndVersionWithZero) {
  for (const char* arguments :
       {"", "zip", "zip book out.epub --level 10", "zip book out.epub --no-backup --backup-dir x", "frobnicate",
        "zip book out.epub --threads 0", "zip book out.epub --threads many", "unzip made.epub --threads 2", "repack",
        "repack made.epub --level 10", "repack made.epub --no-backup --backup-dir x"})
    EXPECT_EQ(cli(dir.path(), arguments).exitCode, 2) << arguments;
  const CliRun version = cli(dir.path(), "--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_NE(version.output.find("0.1"), std::string::npos);
  EXPECT_EQ(cli(dir.path(), "zip --help").exitCode, 0);
}

// Usage errors of our own wording: the command that does not exist is named,
// and what was left over is listed in the order typed.
TEST_F(Cli, UsageErrorsNameTheUnknownCommandAndTheExtrasInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"zap", "Unknown command: zap\n"},
      {"zap book out.epub", "Unknown command: zap\n"},
      {"--help-me zip book", "The following argument was not expected: --help-me\n"},
      {"Zip book out.epub", "Unknown command: Zip\n"},
      {"zip book out.epub extra", "The following argument was not expected: extra\n"},
      {"zip book out.epub c d e", "The following arguments were not expected: c d e\n"},
      {"analyze book.epub second third", "The following arguments were not expected: second third\n"},
      {"", "A subcommand is required\n"},
  };
  for (const auto& [arguments, expected] : cases) {
    const CliRun run = cli(dir.path(), arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments;
    EXPECT_EQ(run.output, std::string(expected) + "Run with --help for more information.\n") << arguments;
  }
}

// Every help fits a console 80 columns wide (a line of 80 would leave an
// empty line after it there), and still names every option.
TEST_F(Cli, HelpFitsAnEightyColumnConsole) {
  for (const char* arguments :
       {"--help", "zip --help", "unzip --help", "analyze --help", "repack --help", "check --help"}) {
    const CliRun help = cli(dir.path(), arguments);
    EXPECT_EQ(help.exitCode, 0) << arguments;
    std::size_t at = 0;
    while (at < help.output.size()) {
      const std::size_t end = std::min(help.output.find('\n', at), help.output.size());
      EXPECT_LE(end - at, 79u) << arguments << ": " << help.output.substr(at, end - at);
      at = end + 1;
    }
  }
  const CliRun zip = cli(dir.path(), "zip --help");
  for (const char* option : {"--level", "--threads", "--deflate-compressed", "--datetime", "--backup-dir",
                             "--no-backup", "--no-real-times", "-q,--quiet"})
    EXPECT_NE(zip.output.find("\n  " + std::string(option)), std::string::npos) << option;
  EXPECT_NE(zip.output.find("                              Threads that read and compress files: 1 does one\n"
                            "                              file after the other"),
            std::string::npos)
      << zip.output;
}

// A --datetime that cannot be read, or that the DOS fields of an entry cannot
// hold, is found while the command line is read: a usage error, and nothing
// is created (not even the backup folder, which the request checks make
// before they come to the datetime).
TEST_F(Cli, WrongDatetimeIsAUsageErrorThatCreatesNothing) {
  ASSERT_EQ(cli(dir.path(), "zip book made.epub -q").exitCode, 0);
  const test::ScopedTimeZone zone("XYZ-2");  // local time is UTC+2 all year (where a test can set it)
  const auto before = test::listTree(dir.path());
  const struct {
    const char* command;
    const char* datetime;
    bool inLocalTime = false;  // needs the zone above
  } cases[] = {
      {"zip book out.epub", "garbage"},
      {"zip book out.epub", "2024-02-30"},
      {"zip book out.epub", "+02:00"},
      {"zip book out.epub", "2024-02-03T10:20"},
      {"zip book out.epub", "''"},
      {"zip book out.epub --backup-dir newbackups", "bad"},
      {"zip book --backup-dir newbackups", "1601-01-01T00:00:00Z"},
      {"zip book out.epub", "1979-12-31T23:59:59Z"},
      {"zip book out.epub", "1980-01-01T01:59:59", true},  // 1979-12-31T23:59:59Z
      {"zip book out.epub", "2107-12-31T23:59:59Z"},
      {"zip book out.epub", "2108-01-01Z"},
      {"unzip made.epub files --backup-dir newbackups", "2024-02-30"},
      {"unzip made.epub", "1980-01-01", true},  // local midnight: 1979-12-31T22:00:00Z
  };
  for (const auto& [command, datetime, inLocalTime] : cases) {
    if (inLocalTime && !test::ScopedTimeZone::kSupported) continue;
    const std::string arguments = std::string(command) + " --datetime " + datetime;
    const CliRun run = cli(dir.path(), arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.output;
    EXPECT_EQ(run.output.substr(0, 12), "--datetime: ") << arguments << "\n" << run.output;
    EXPECT_EQ(test::listTree(dir.path()), before) << arguments;
  }
}

// The first and last times the DOS fields hold, in UTC and in local time.
TEST_F(Cli, DatetimesAtTheEdgesOfTheDosRangeAreStamped) {
  const test::ScopedTimeZone zone("XYZ-2");
  const struct {
    const char* datetime;
    std::uint16_t dosTime;
    std::uint16_t dosDate;
    bool inLocalTime = false;
  } cases[] = {
      {"1980-01-01T00:00:00Z", 0x0000, 0x0021},
      {"1980-01-01T02:00:00", 0x0000, 0x0021, true},
      {"2107-12-31T23:59:58Z", 0xBF7D, 0xFF9F},
      {"2108-01-01T01:59:58", 0xBF7D, 0xFF9F, true},
  };
  for (const auto& c : cases) {
    if (c.inLocalTime && !test::ScopedTimeZone::kSupported) continue;
    const CliRun run = cli(dir.path(), std::string("zip book out.epub -q --no-backup --datetime ") + c.datetime);
    ASSERT_EQ(run.exitCode, 0) << c.datetime << "\n" << run.output;
    const std::string epub = readFile(dir.path() / "out.epub");
    EXPECT_EQ(epub.substr(10, 4), test::le16(c.dosTime) + test::le16(c.dosDate)) << c.datetime;
  }
}

TEST_F(Cli, ThreadsChangeNothingInTheEpub) {
  std::string first;
  for (const char* threads : {"1", "2", "7"}) {
    const CliRun run =
        cli(dir.path(), std::string("zip book out.epub -q --no-backup --datetime 2024-05-01Z --threads ") + threads);
    ASSERT_EQ(run.exitCode, 0) << threads << "\n" << run.output;
    const std::string epub = readFile(dir.path() / "out.epub");
    if (first.empty()) first = epub;
    EXPECT_TRUE(epub == first) << threads;
  }
}

bool onlyLineFeedsAmongControls(const std::string& text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\n') || byte == 0x7F;
  });
}

// Names from an archive and words from the command line reach the terminal
// with their control characters escaped, on both output streams.
TEST_F(Cli, ControlCharactersArePrintedEscaped) {
  const std::string hostile =
      "\x1B]0;owned\x07\r\xC2\x9B"
      "2J/../x.txt";
  writeFile(dir.path() / "hostile.epub",
            test::buildArchive(test::planOf(
                {test::storedEntry("mimetype", "application/epub+zip"), test::storedEntry(hostile, "x")})));
  const CliRun unzip = cli(dir.path(), "unzip hostile.epub files");
  EXPECT_EQ(unzip.exitCode, 1);
  EXPECT_EQ(unzip.output, "Unsafe file name in zip file:\n\\x1B]0;owned\\x07\\x0D\\u009B2J/../x.txt\n");

  const CliRun datetime = cliWords(dir.path(), {"zip", "book", "out.epub", "--datetime", "\x1B]0;owned\x07"});
  EXPECT_EQ(datetime.exitCode, 2);
  EXPECT_NE(datetime.output.find("\"\\x1B]0;owned\\x07\""), std::string::npos) << datetime.output;

  const CliRun argument = cliWords(dir.path(), {"zip", "book", "out.epub", "extra\x1B[2J"});
  EXPECT_EQ(argument.exitCode, 2);
  EXPECT_NE(argument.output.find("extra\\x1B[2J"), std::string::npos) << argument.output;
  for (const CliRun* run : {&unzip, &datetime, &argument})
    EXPECT_TRUE(onlyLineFeedsAmongControls(run->output)) << run->output;
}

// A folder name in a chosen path, printed on standard output. (Windows allows
// no control characters in names.)
TEST_F(Cli, ControlCharactersInChosenPathsArePrintedEscaped) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names cannot hold control characters";
#endif
  const fs::path folder = dir.path() / "b\x1B[2Jd";
  fs::create_directory(folder);
  writeFile(folder / "hostile.epub", "not an epub");
  const CliRun chosen = cliWords(dir.path(), {"unzip", "b\x1B[2Jd/hostile.epub"});
  EXPECT_EQ(chosen.exitCode, 1);
  EXPECT_NE(chosen.output.find("Files folder: " + dir.str() + "b\\x1B[2Jd/files1/\n"), std::string::npos)
      << chosen.output;
  EXPECT_TRUE(onlyLineFeedsAmongControls(chosen.output)) << chosen.output;
}

TEST_F(Cli, ZipPrintsTheSuccessTextWithStatisticsAndTime) {
  const CliRun run = cli(dir.path(), "zip book out.epub --level 0");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string expectedStart =
      "Success! You successfully zipped your files.\n\n"
      "Number of files: 9\nNumber of files stored: 9\nNumber of files deflated: 0\n"
      "Number of zero-length files: 0\n";
  EXPECT_EQ(run.output.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(run.output.find("Overall size ratio: 1.00\nDeflation ratio: \xE2\x80\x94\nZIP64: no\nTime elapsed: "),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.substr(run.output.size() - 14), " milliseconds\n");
  const std::string epub = readFile(dir.path() / "out.epub");
  EXPECT_EQ(epub.substr(30, 8), "mimetype");
}

TEST_F(Cli, OmittedEpubIsChosenBesideTheFolderAndPrinted) {
  writeFile(dir.path() / "book1.epub", "taken");
  const CliRun run = cli(dir.path(), "zip book/");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.substr(0, run.output.find('\n')), "Epub: " + (dir.path() / "book2.epub").string());
  EXPECT_TRUE(fs::exists(dir.path() / "book2.epub"));
  EXPECT_EQ(readFile(dir.path() / "book1.epub"), "taken");
}

TEST_F(Cli, FailuresGoToStandardErrorWithExitCodeOne) {
  writeFile(dir.path() / "junk.epub", "this is not a zip file, only some text");
  // A damaged archive is named after what is wrong with it.
  const std::string junk = "Unable to find end of central directory.\n" + (dir / "junk.epub") + "\n";
  const std::pair<const char*, std::string> cases[] = {
      {"zip nothing-here out.epub", "You specified a files directory that doesn't exist.\n"},
      {"zip book book/inside.epub", "Epub file is in files directory tree.\n"},
      {"analyze junk.epub --log log.txt", junk},
      {"unzip nothing.epub somewhere", "You specified an epub file that doesn't exist.\n"},
      {"repack nothing.epub", "You specified an epub file that doesn't exist.\n"},
      {"repack junk.epub", junk},
  };
  for (const auto& [arguments, expected] : cases) {
    const CliRun run = cli(dir.path(), arguments);
    EXPECT_EQ(run.exitCode, 1) << arguments;
    EXPECT_EQ(run.output, expected) << arguments;
  }
}

// A failure about a file prints the engine's message unchanged, as the
// window shows it: the first line, the path, the system's reason.
TEST_F(Cli, FailuresAboutAFileNameItAndTheReasonAsTheWindowDoes) {
  writeFile(dir.path() / "plainfile", "a file");
  const std::string book = (dir.path() / "book").string();
  const std::string epub = (dir.path() / "out.epub").string();
  const std::string missing = (dir.path() / "missing.epub").string();
  const std::string belowFile = (dir.path() / "plainfile" / "out.epub").string();
  const std::string filesBelowFile = (dir.path() / "plainfile" / "files").string();
  ASSERT_EQ(cliWords(dir.path(), {"zip", book, epub, "-q"}).exitCode, 0);
  struct sCase {
    std::vector<std::string> words;
    std::function<bool(std::string*)> engine;  // the same job in this process
  };
  const sCase cases[] = {
      {{"analyze", missing, "--log", (dir.path() / "log.txt").string()},
       [&](std::string* message) { return cZipReader().open(message, missing); }},
      {{"zip", book, belowFile},
       [&](std::string* message) {
         sStatistics statistics;
         return zipJob(test::zipOrder(book, belowFile), message, statistics);
       }},
      {{"unzip", epub, filesBelowFile},
       [&](std::string* message) {
         sStatistics statistics;
         return unzipJob(test::unzipOrder(epub, filesBelowFile), message, statistics);
       }},
  };
  for (const sCase& c : cases) {
    SCOPED_TRACE(c.words.front());
    std::string expected;
    ASSERT_FALSE(c.engine(&expected));
    ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 2) << expected;
    const CliRun run = cliWords(dir.path(), c.words);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, expected + "\n");
  }
}

TEST_F(Cli, QuietPrintsNothingAndBackupsFollowTheOptions) {
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q").output, "");
  // Zipping again keeps the old epub as back1.zip beside it (the default),
  // in a folder of the user's, or not at all.
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q").exitCode, 0);
  EXPECT_TRUE(fs::exists(dir.path() / "back1.zip"));
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q --backup-dir saved/old").exitCode, 0);
  EXPECT_TRUE(fs::exists(dir.path() / "saved/old/back1.zip"));
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q --no-backup").exitCode, 0);
  EXPECT_FALSE(fs::exists(dir.path() / "back2.zip"));
  EXPECT_FALSE(fs::exists(dir.path() / "temp1.zip"));
}

// Repack writes elsewhere, or in place keeping the old epub beside it; the
// book is the same either way.
TEST_F(Cli, RepackKeepsTheBookAndTheOldEpub) {
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q").exitCode, 0);
  const CliRun copy = cli(dir.path(), "repack out.epub stored.epub --level 0");
  ASSERT_EQ(copy.exitCode, 0) << copy.output;
  EXPECT_EQ(copy.output.substr(0, 46), "Success! You successfully repacked your epub.\n");
  const std::string before = readFile(dir.path() / "out.epub");
  ASSERT_EQ(cli(dir.path(), "repack out.epub -q").exitCode, 0);
  EXPECT_EQ(readFile(dir.path() / "back1.zip"), before);
  for (const char* epub : {"out.epub", "stored.epub"}) {
    ASSERT_EQ(cliWords(dir.path(), {"unzip", epub, std::string("from-") + epub, "-q"}).exitCode, 0);
    EXPECT_EQ(test::readTree(dir.path() / (std::string("from-") + epub)), test::readTree(dir.path() / "book"));
  }
}

TEST_F(Cli, AnalyzeWritesTheLogAndNamesIt) {
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q --datetime 2022-03-04T10:20:30Z").exitCode, 0);
  const CliRun run = cli(dir.path(), "analyze out.epub --log a.txt");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.substr(0, 38), "Your epub was successfully analyzed.\n\n");
  const std::string logPath = (dir.path() / "a.txt").string();
  EXPECT_EQ(run.output.substr(run.output.size() - logPath.size() - 15), "Analysis log: " + logPath + "\n");
  const std::string log = readFile(logPath);
  EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_NE(log.find("[Date/Time = 2022-Mar-04 10:20:30]"), std::string::npos);
}

// Arguments arrive as typed, whatever their characters, and a path from the
// root ("/books/x.epub", from the current drive's root on Windows) is a path,
// never an option.
TEST_F(Cli, NamesBeyondAsciiAndPathsFromTheRootAreTakenAsTyped) {
  fs::rename(dir.path() / "book", dir.path() / u8"Livre \u00E9t\u00E9 \u4E2D\u6587");
  ASSERT_EQ(cliWords(dir.path(), {"zip", "Livre \u00E9t\u00E9 \u4E2D\u6587", "\u00E9t\u00E9.epub", "-q"}).exitCode, 0);
  const CliRun unzip = cliWords(dir.path(), {"unzip", "\u00E9t\u00E9.epub", "R\u00E9sultat", "-q"});
  ASSERT_EQ(unzip.exitCode, 0) << unzip.output;
  EXPECT_EQ(test::readTree(dir.path() / u8"R\u00E9sultat"),
            test::readTree(dir.path() / u8"Livre \u00E9t\u00E9 \u4E2D\u6587"));

  const CliRun rooted = cliWords(dir.path(), {"unzip", "/no-such-folder-here/book.epub"});
  EXPECT_EQ(rooted.exitCode, 1);
  EXPECT_EQ(rooted.output, "You specified an epub file that doesn't exist.\n");
}

TEST_F(Cli, UnzipChoosesFiles1BesideTheEpubAndRestoresTheBook) {
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q").exitCode, 0);
  const CliRun run = cli(dir.path(), "unzip out.epub");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output.substr(0, run.output.find('\n')), "Files folder: " + (dir / "files1/"));
  EXPECT_NE(run.output.find("Success! You successfully unzipped your file.\n\nNumber of files: 9\n"),
            std::string::npos);
  EXPECT_EQ(test::readTree(dir.path() / "files1"), test::readTree(dir.path() / "book"));
}

// Unzipping onto a file refuses, with backups or without, before anything is
// written: the file stays as it was and nothing is made beside it.
TEST_F(Cli, UnzipOntoAFileKeepsTheFile) {
  ASSERT_EQ(cli(dir.path(), "zip book out.epub -q").exitCode, 0);
  writeFile(dir.path() / "notes.txt", "my notes");
  const std::string refusal = "The files folder is a file:\n" + (dir / "notes.txt") + "\n";
  for (const char* arguments : {"unzip out.epub notes.txt --no-backup", "unzip out.epub notes.txt",
                                "unzip out.epub notes.txt --backup-dir saved"}) {
    const CliRun run = cli(dir.path(), arguments);
    EXPECT_EQ(run.exitCode, 1) << arguments;
    EXPECT_EQ(run.output, refusal) << arguments;
    EXPECT_EQ(readFile(dir.path() / "notes.txt"), "my notes") << arguments;
    EXPECT_EQ(test::namesIn(dir.path()), (std::set<std::string>{"book", "notes.txt", "out.epub"})) << arguments;
  }
}

// Entries that unpack to one file: the later one wins, the unzip succeeds,
// and standard error names what was replaced (escaped, as every name from an
// archive), whether quiet or not.
TEST_F(Cli, UnzipWarnsOfReplacedEntriesOnStandardErrorAndSucceeds) {
  std::vector<test::EntryPlan> entries = {test::storedEntry("mimetype", "application/epub+zip"),
                                          test::storedEntry("OEBPS/ch.xhtml", "first"),
                                          test::storedEntry("OEBPS/ch.xhtml", "second")};
  std::string expected =
      "Some entries of the epub unpack to the same file; the later one replaced the earlier one:\n"
      "  OEBPS/ch.xhtml replaced OEBPS/ch.xhtml\n";
#ifndef _WIN32  // Windows names hold no control characters
  entries.push_back(test::storedEntry("x\x1B[2J.css", "a"));
  entries.push_back(test::storedEntry("x\x1B[2J.css", "b"));
  expected += "  x\\x1B[2J.css replaced x\\x1B[2J.css\n";
#endif
  writeFile(dir.path() / "dup.epub", test::buildArchive(test::planOf(entries)));
  const CliRun quiet = cli(dir.path(), "unzip dup.epub files -q");
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.output, expected);  // standard output says nothing when quiet
  EXPECT_EQ(readFile(dir.path() / "files" / "OEBPS" / "ch.xhtml"), "second");

  const CliRun told = cli(dir.path(), "unzip dup.epub again");
  EXPECT_EQ(told.exitCode, 0);
  EXPECT_NE(told.output.find("Success! You successfully unzipped your file."), std::string::npos);
  EXPECT_NE(told.output.find(expected), std::string::npos) << told.output;
}

// check: exit 0 without errors (warnings allowed), 1 with one, 2 for usage
// errors; the JSON holds every finding with its name escaped.
TEST_F(Cli, CheckExitsByTheWorstFindingAndWritesJson) {
  ASSERT_EQ(cli(dir.path(), "zip book made.epub -q").exitCode, 0);
  test::ArchivePlan warned = test::smallEpubPlan();
  // A package that lists every file: the one warning is the name's.
  warned.entries.push_back(test::storedEntry(
      "OEBPS/content.opf",
      "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"u\"><metadata "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier "
      "id=\"u\">b</dc:identifier></metadata><manifest><item id=\"c\" "
      "href=\"chapter1.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/><item id=\"t\" "
      "href=\"a%20b.txt\" media-type=\"text/plain\"/></manifest><spine><itemref idref=\"c\"/></spine></package>"));
  warned.entries.push_back(test::storedEntry("OEBPS/a b.txt", "x"));
  writeFile(dir.path() / "warned.epub", test::buildArchive(warned));
  writeFile(dir.path() / "empty.epub", "");
  writeFile(dir.path() / "broken.epub",
            test::buildArchive(test::planOf({test::storedEntry("mimetype", "application/epub+zip\n"),
                                             test::storedEntry("a\"b\x01\n\xFF.txt", "x")})));
  const struct {
    const char* arguments;
    int exitCode;
    std::string output;
  } cases[] = {
      {"check made.epub", 0, "0 errors, 0 warnings\n"},
      {"check made.epub --deep -q", 0, ""},
      {"check warned.epub", 0,
       "PKG-010 warning OEBPS/a b.txt: The name holds spaces: every reference to it needs them escaped.\n"
       "0 errors, 1 warning\n"},
      {"check missing.epub --format json", 1,
       "{\"file\": \"missing.epub\", \"findings\": [\n"
       "  {\"code\": \"PKG-018\", \"severity\": \"error\", \"entry\": \"\", \"message\": \"The file could not be "
       "found.\"}\n], \"summary\": {\"errors\": 1, \"warnings\": 0}}\n"},
      {"check broken.epub --format json", 1,
       "{\"file\": \"broken.epub\", \"findings\": [\n"
       "  {\"code\": \"PKG-007\", \"severity\": \"error\", \"entry\": \"mimetype\", \"message\": \"mimetype holds "
       "application/epub+zip followed by white space or a line end.\"},\n"
       "  {\"code\": \"PKG-008\", \"severity\": \"error\", \"entry\": \"a\\\"b\\u0001\\n\\\\xFF.txt\", \"message\": "
       "\"The entry's name is not valid UTF-8: a\\\"b\\u0001\\n\\\\xFF.txt.\"},\n"
       "  {\"code\": \"RSC-002\", \"severity\": \"error\", \"entry\": \"META-INF/container.xml\", \"message\": "
       "\"META-INF/container.xml is missing.\"}\n"
       "], \"summary\": {\"errors\": 3, \"warnings\": 0}}\n"},
      {"check made.epub --format json", 0,
       "{\"file\": \"made.epub\", \"findings\": [], \"summary\": {\"errors\": 0, \"warnings\": 0}}\n"},
      {"check broken.epub -q", 1,
       "PKG-007 error mimetype: mimetype holds application/epub+zip followed by white space or a line end.\n"
       "PKG-008 error a\"b\\x01\\x0A\\xFF.txt: The entry's name is not valid UTF-8: a\"b\\x01\\x0A\\xFF.txt.\n"
       "RSC-002 error META-INF/container.xml: META-INF/container.xml is missing.\n"},
      // A fault of the whole file stays on its line: the reason, not the path, after the first sentence.
      {"check empty.epub -q", 1, "PKG-008 error: Unable to open zip file. The file is empty.\n"},
      {"check", 2, ""},
      {"check made.epub --format xml", 2, ""},
  };
  for (const auto& c : cases) {
    const CliRun run = cli(dir.path(), c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
    if (c.exitCode != 2) {
      EXPECT_EQ(run.output, c.output) << c.arguments;
    }
  }
}

// zip warns of what check would find in the epub, and zips all the same.
TEST_F(Cli, ZipWarnsOfAFolderWithoutMimetypeOrContainer) {
  fs::remove(dir.path() / "book" / "mimetype");
  fs::remove(dir.path() / "book" / "META-INF" / "container.xml");
  const CliRun run = cli(dir.path(), "zip book out.epub --no-backup");
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("PKG-006 warning mimetype: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("RSC-002 warning META-INF/container.xml: "), std::string::npos) << run.output;
  writeFile(dir.path() / "book" / "mimetype", "application/epub+zip\r\n");
  const CliRun quiet = cli(dir.path(), "zip book out.epub --no-backup --quiet");
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.output, "");
  EXPECT_EQ(cli(dir.path(), "check out.epub -q").output,
            "PKG-007 error mimetype: mimetype holds application/epub+zip followed by white space or a line end.\n"
            "RSC-002 error META-INF/container.xml: META-INF/container.xml is missing.\n");
}

}  // namespace
}  // namespace plimsy
