// Repack beside epubcheck: every book of the repack table, repacked, gets no
// code from epubcheck that the book did not get (a duplicate entry, a missing
// chapter, a folder that is a file, ...).

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/repack_job.h"
#include "interop/external_tools.h"
#include "support/repack_books.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

const char* const kEpubcheck = "/usr/share/java/epubcheck.jar";

// Every code epubcheck reports, whatever its severity.
std::set<std::string> epubcheckCodes(const fs::path& epub, std::string& output) {
  test::runCommand(std::string("java -jar ") + kEpubcheck + " " + test::shellQuote(epub.string()), output);
  std::set<std::string> codes;
  static const std::regex code(R"((FATAL|ERROR|WARNING|USAGE|INFO)\(([A-Z]{3}-\d{3}[a-z]?)\))");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), code); it != std::sregex_iterator(); ++it)
    codes.insert((*it)[2]);
  return codes;
}

TEST(RepackInterop, EpubcheckFindsNothingNewInARepackedBook) {
  PLIMSY_REQUIRE_TOOL("java");
  PLIMSY_REQUIRE_TOOL(kEpubcheck);
  test::TempDir dir;
  for (const test::RepackBook& book : test::repackBooks()) {
    // Books packed again hold what the copied ones hold; epubcheck takes seconds a book.
    if (book.refusal || book.level) continue;
    SCOPED_TRACE(book.label);
    const fs::path input = dir.path() / "in.epub";
    const fs::path output = dir.path() / "out.epub";
    fs::remove(output);
    test::writeFile(input, test::buildArchive(book.plan));
    std::string message;
    sStatistics statistics;
    ASSERT_TRUE(repackJob({input.string(), output.string(), "", book.level}, &message, statistics)) << message;
    std::string before;
    std::string after;
    const std::set<std::string> was = epubcheckCodes(input, before);
    for (const std::string& code : epubcheckCodes(output, after))
      EXPECT_TRUE(was.count(code)) << "new code " << code << "\nbefore:\n" << before << "\nafter:\n" << after;
  }
}

}  // namespace
}  // namespace plimsy
