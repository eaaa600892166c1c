// The book check beside epubcheck. The codes `check` knows are those of the
// README's table; for every book of the table (tests/support/check_books.h)
// and for real books, `check --deep` reports one of them, with its severity,
// exactly when epubcheck does (where epubcheck knowingly differs, the row
// says what it reports and why).

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/book_check.h"
#include "interop/external_tools.h"
#include "support/check_books.h"
#include "support/file_tree.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

const char* const kEpubcheck = "/usr/share/java/epubcheck.jar";
const char* const kDebianEpub = "/usr/share/developers-reference/developers-reference.epub";

// The check section's table of the README: code -> its severity column.
std::map<std::string, std::string> readmeCodes() {
  std::ifstream in(fs::path(PLIMSY_SOURCE_DIR) / "README.md");
  std::map<std::string, std::string> codes;
  static const std::regex row(R"(^\| ([A-Z]{3}-\d{3}[a-z]?) \| ([a-z, ]+) \|)");
  bool inCheck = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("#")) inCheck = line == "### check";
    std::smatch match;
    if (inCheck && std::regex_search(line, match, row)) codes[match[1]] = match[2];
  }
  return codes;
}

const std::map<std::string, std::string>& knownCodes() {
  static const std::map<std::string, std::string> codes = readmeCodes();
  return codes;
}

bool known(const std::string& code) { return knownCodes().count(code) != 0; }

// "CODE severity" of every finding of a known code.
std::set<std::string> ourCodes(const fs::path& epub, bool deep) {
  sContainerCheckOptions options;
  options.deep = deep;
  std::set<std::string> codes;
  for (const sFinding& f : checkBook(epub.string(), options))
    if (known(f.code)) codes.insert(f.code + " " + std::string(severityName(f.severity)));
  return codes;
}

// The same from epubcheck's report; FATAL is an error.
std::set<std::string> epubcheckCodes(const std::string& report) {
  static const std::regex line(R"((?:^|\n)(FATAL|ERROR|WARNING)\(([A-Z]{3}-\d{3}[a-z]?)\))");
  std::set<std::string> codes;
  for (auto it = std::sregex_iterator(report.begin(), report.end(), line); it != std::sregex_iterator(); ++it)
    if (known((*it)[2])) codes.insert((*it)[2].str() + ((*it)[1] == "WARNING" ? " warning" : " error"));
  return codes;
}

// Runs epubcheck on every epub named, two at a time (each run takes seconds);
// returns each one's report.
std::map<std::string, std::string> runEpubcheck(const fs::path& folder, const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += name + "\n";
  test::writeFile(folder / "books.txt", list);
  std::string output;
  test::runCommand("cd " + test::shellQuote(folder.string()) + " && xargs -P 2 -I{} sh -c 'java -jar " + kEpubcheck +
                       " \"$1\" >\"$1.report\" 2>&1' _ {} <books.txt",
                   output);
  std::map<std::string, std::string> reports;
  for (const std::string& name : names) {
    std::ifstream in(folder / (name + ".report"), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    reports[name] = text.str();
    EXPECT_NE(reports[name].find("EPUBCheck completed"), std::string::npos) << name << ": " << output << reports[name];
  }
  return reports;
}

// The codes of a set that epubcheck can give: Plimsy's own (PLM-) left out.
std::set<std::string> epubcheckKnows(std::set<std::string> codes) {
  std::erase_if(codes, [](const std::string& code) { return code.starts_with("PLM-"); });
  return codes;
}

std::string listed(const std::set<std::string>& codes) {
  std::string text;
  for (const std::string& code : codes) text += (text.empty() ? "" : ", ") + code;
  return "{" + text + "}";
}

TEST(BookCheckInterop, TheReadmeListsTheCodes) {
  // The table must be found, or every comparison below compares nothing.
  for (const char* code : {"PKG-006", "RSC-016", "OPF-030", "RSC-001", "OPF-074", "OPF-049", "OPF-003", "HTM-014",
                           "HTM-014a", "OPF-054", "NCX-001", "RSC-007", "RSC-012"})
    EXPECT_TRUE(known(code)) << code << " is not in the README's table of check's codes";
  EXPECT_FALSE(known("RSC-005")) << "schema validation is out of check's reach";
}

// Without epubcheck: the check gives every book its codes (plain check none
// of a row that needs the content documents), and every code it gives is in
// the README's table with that severity.
TEST(BookCheckInterop, CheckGivesEachBookItsCodes) {
  test::TempDir dir;
  for (const test::CheckBook& book : test::checkBooks()) {
    SCOPED_TRACE(book.label);
    const fs::path epub = dir.path() / book.name;
    test::writeFile(epub, test::buildArchive(test::bookPlan(book.files)));
    EXPECT_EQ(ourCodes(epub, true), book.codes);
    EXPECT_EQ(ourCodes(epub, false), book.deepOnly ? std::set<std::string>{} : book.codes);
    for (const bool deep : {false, true}) {
      sContainerCheckOptions options;
      options.deep = deep;
      for (const sFinding& f : checkBook(epub.string(), options)) {
        const auto row = knownCodes().find(f.code);
        ASSERT_NE(row, knownCodes().end()) << f.code << " is not in the README's table: " << f.message;
        EXPECT_NE(row->second.find(severityName(f.severity)), std::string::npos)
            << f.code << " is " << severityName(f.severity) << ", the README says " << row->second;
      }
    }
  }
}

TEST(BookCheckInterop, EpubcheckGivesEachBookItsCodes) {
  PLIMSY_REQUIRE_TOOL("java");
  PLIMSY_REQUIRE_TOOL(kEpubcheck);
  test::TempDir dir;
  const std::vector<test::CheckBook> books = test::checkBooks();
  std::vector<std::string> names;
  for (const test::CheckBook& book : books) {
    test::writeFile(dir.path() / book.name, test::buildArchive(test::bookPlan(book.files)));
    names.push_back(book.name);
  }
  const std::map<std::string, std::string> reports = runEpubcheck(dir.path(), names);
  for (const test::CheckBook& book : books) {
    const std::string& report = reports.at(book.name);
    EXPECT_EQ(epubcheckCodes(report), epubcheckKnows(book.epubcheck.value_or(book.codes))) << book.label << "\n"
                                                                                           << report;
  }
}

// Books made by others: pandoc's EPUB 3 and EPUB 2 of a handbook with
// chapters that link to each other's sections, an image and notes; a book a
// Debian package ships. Check and epubcheck must agree on every known code.
TEST(BookCheckInterop, CheckAndEpubcheckAgreeOnRealBooks) {
  for (const char* tool : {"java", "pandoc", kEpubcheck}) PLIMSY_REQUIRE_TOOL(tool);
  test::TempDir dir;
  fs::copy_file(test::sampleBook() / "OEBPS/images/lighthouse.png", dir.path() / "lighthouse.png");
  std::string markdown = "---\ntitle: The Keeper's Handbook\nauthor: A. Writer\nlang: en\ndate: 2026-12-07\n---\n\n";
  for (int i = 1; i <= 6; ++i) {
    const std::string n = std::to_string(i);
    markdown += "# Chapter " + n + " {#chapter-" + n + "}\n\n## The lamp {#lamp-" + n +
                "}\n\nSee [the lamp of chapter " + std::to_string(i % 6 + 1) + "](#lamp-" + std::to_string(i % 6 + 1) +
                ") and [the start](#chapter-1)." + "[^n" + n + "]\n\n[^n" + n + "]: A note of chapter " + n + ".\n\n";
    if (i == 3) markdown += "![A lighthouse](lighthouse.png)\n\n";
  }
  test::writeFile(dir.path() / "handbook.md", markdown);
  for (const char* format : {"epub3", "epub2"})
    test::expectTool("cd " + test::shellQuote(dir.path().string()) + " && pandoc -t " + format + " -o pandoc-" +
                     format + ".epub handbook.md");
  std::vector<std::string> names = {"pandoc-epub3.epub", "pandoc-epub2.epub"};
  if (fs::exists(kDebianEpub)) {
    fs::copy_file(kDebianEpub, dir.path() / "debian.epub");
    names.push_back("debian.epub");
  }
  const std::map<std::string, std::string> reports = runEpubcheck(dir.path(), names);
  for (const std::string& name : names) {
    const std::set<std::string> ours = epubcheckKnows(ourCodes(dir.path() / name, true));
    const std::set<std::string> theirs = epubcheckCodes(reports.at(name));
    EXPECT_EQ(ours, theirs) << name << ": check " << listed(ours) << ", epubcheck " << listed(theirs) << "\n"
                            << reports.at(name);
  }
}

}  // namespace
}  // namespace plimsy
