// The container check beside epubcheck: on the sample book, damaged in ways
// both know, both must report the same container codes (where epubcheck
// knowingly differs, the row says what it reports and why).

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/container_check.h"
#include "interop/external_tools.h"
#include "support/file_tree.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::ArchivePlan;

const char* const kEpubcheck = "/usr/share/java/epubcheck.jar";

// The epubcheck codes that the container check gives too: only these are
// compared (epubcheck also checks the package document and the content).
const std::set<std::string> kSharedCodes = {"PKG-003", "PKG-004", "PKG-005", "PKG-006", "PKG-007", "PKG-008", "PKG-009",
                                            "PKG-010", "PKG-011", "PKG-014", "PKG-018", "RSC-002", "RSC-003", "RSC-016",
                                            "OPF-002", "OPF-016", "OPF-017", "OPF-060", "OPF-061"};

// The sample book as a plan: mimetype first and stored, every other file
// deflated, in name order.
ArchivePlan sampleBookPlan() {
  const fs::path book = test::sampleBook();
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(book))
    if (item.is_regular_file()) names.push_back(item.path().lexically_relative(book).generic_string());
  std::sort(names.begin(), names.end());
  ArchivePlan plan;
  plan.entries.push_back(test::storedEntry("mimetype", "application/epub+zip"));
  for (const std::string& name : names)
    if (name != "mimetype") plan.entries.push_back(test::deflatedEntry(name, test::readFile(book / name)));
  return plan;
}

test::EntryPlan* entryNamed(ArchivePlan& plan, const std::string& name) {
  for (test::EntryPlan& e : plan.entries)
    if (e.name == name) return &e;
  return nullptr;
}

std::set<std::string> epubcheckCodes(const fs::path& epub) {
  std::string output;
  test::runCommand(std::string("java -jar ") + kEpubcheck + " " + test::shellQuote(epub.string()), output);
  std::set<std::string> codes;
  static const std::regex line(R"(^(FATAL|ERROR|WARNING)\(([A-Z]{3}-\d{3})\))");
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = std::min(output.find('\n', start), output.size());
    std::smatch match;
    const std::string text = output.substr(start, end - start);
    if (std::regex_search(text, match, line) && kSharedCodes.count(match[2])) codes.insert(match[2]);
    start = end + 1;
  }
  return codes;
}

std::set<std::string> ourCodes(const fs::path& epub, bool deep = false) {
  sContainerCheckOptions options;
  options.deep = deep;
  std::set<std::string> codes;
  for (const sFinding& f : checkContainer(epub.string(), options))
    if (kSharedCodes.count(f.code)) codes.insert(f.code);
  return codes;
}

TEST(CheckInterop, EpubcheckReportsTheSameContainerCodes) {
  PLIMSY_REQUIRE_TOOL("java");
  PLIMSY_REQUIRE_TOOL(kEpubcheck);
  const auto addFile = [](ArchivePlan& p, const char* name) { p.entries.push_back(test::storedEntry(name, "x")); };
  const auto withRootfile = [](ArchivePlan& p, const std::string& attributes) {
    *entryNamed(p, "META-INF/container.xml") = test::deflatedEntry(
        "META-INF/container.xml",
        "<?xml version=\"1.0\"?>\n<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
        "<rootfiles><rootfile " +
            attributes + "/></rootfiles></container>");
  };
  const std::string overrunningExtra = test::le16(0xCAFE) + test::le16(10) + "ab";
  const struct {
    const char* damage;
    std::function<void(ArchivePlan&)> edit;
    std::set<std::string> expected;
    // What epubcheck reports where it knowingly differs.
    std::optional<std::set<std::string>> epubcheck = std::nullopt;
    bool deep = false;  // our check with --deep (epubcheck always reads every entry)
  } cases[] = {
      {"mimetype extra field, names OCF forbids",
       [&](ArchivePlan& p) {
         p.entries[0].lfhExtra = test::extraRecord(0xCAFE, "ab");
         addFile(p, "OEBPS/a*b.txt");
         addFile(p, "OEBPS/end.");
         addFile(p, "OEBPS/a b.txt");
       },
       {"PKG-005", "PKG-009", "PKG-010", "PKG-011"}},
      {"mimetype second, a duplicate entry",
       [&](ArchivePlan& p) {
         std::swap(p.entries[0], p.entries[1]);
         p.entries.push_back(*entryNamed(p, "OEBPS/css/style.css"));
       },
       {"PKG-006", "OPF-060"}},
      {"mimetype deflated, names equal but for case or normalization",
       [&](ArchivePlan& p) {
         p.entries[0] = test::deflatedEntry("mimetype", "application/epub+zip");
         addFile(p, "OEBPS/\xC3\x89t\xC3\xA9.txt");
         addFile(p, "OEBPS/\xC3\xA9t\xC3\xA9.txt");
         addFile(p, "OEBPS/caf\xC3\xA9.txt");
         addFile(p, "OEBPS/cafe\xCC\x81.txt");
       },
       {"PKG-007", "OPF-060", "OPF-061"}},
      {"container.xml not well-formed",
       [](ArchivePlan& p) {
         *entryNamed(p, "META-INF/container.xml") = test::deflatedEntry("META-INF/container.xml", "<container>");
       },
       {"RSC-016", "RSC-003"}},
      {"rootfile missing",
       [](ArchivePlan& p) { *entryNamed(p, "OEBPS/content.opf") = test::deflatedEntry("x.opf", "x"); },
       {"OPF-002"}},
      {"mimetype second, with a line feed",
       [](ArchivePlan& p) {
         p.entries[0] = test::storedEntry("mimetype", "application/epub+zip\n");
         std::swap(p.entries[0], p.entries[1]);
       },
       {"PKG-006", "PKG-007"}},
      {"rootfile without a full-path",
       [&](ArchivePlan& p) { withRootfile(p, "media-type=\"application/oebps-package+xml\""); },
       {"OPF-016"}},
      {"rootfile with an empty full-path",
       [&](ArchivePlan& p) { withRootfile(p, "full-path=\"\" media-type=\"application/oebps-package+xml\""); },
       {"OPF-017"}},
      {"an extra field sub-field overruns, central directory",
       [&](ArchivePlan& p) { entryNamed(p, "OEBPS/nav.xhtml")->cdrExtra = overrunningExtra; },
       {"PKG-008"}},
      // Java's ZIP reader never looks at a local header's extra field.
      {"an extra field sub-field overruns, local header",
       [&](ArchivePlan& p) { entryNamed(p, "OEBPS/nav.xhtml")->lfhExtra = overrunningExtra; },
       {"PKG-008"},
       std::set<std::string>{}},
      {"deflated data damaged",
       [](ArchivePlan& p) {
         test::EntryPlan& chapter = *entryNamed(p, "OEBPS/text/chapter1.xhtml");
         chapter.data.replace(0, 4, "\xFF\xFF\xFF\xFF");
       },
       {"PKG-008"},
       std::nullopt,
       true},
      {"Hangul names equal after normalization",
       [&](ArchivePlan& p) {
         addFile(p, "OEBPS/\xED\x95\x9C.txt");                          // HANGUL SYLLABLE HAN
         addFile(p, "OEBPS/\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB.txt");  // its jamo
       },
       {"OPF-061"}},
      // epubcheck reads the last copy, and stops after container.xml's
      // errors, before it looks for duplicates.
      {"two container.xml, the last not well-formed",
       [](ArchivePlan& p) { p.entries.push_back(test::deflatedEntry("META-INF/container.xml", "<container>")); },
       {"OPF-060", "RSC-016", "RSC-003"},
       std::set<std::string>{"RSC-016", "RSC-003"}},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    ArchivePlan plan = sampleBookPlan();
    c.edit(plan);
    const fs::path epub = dir.path() / "book.epub";
    test::writeFile(epub, test::buildArchive(plan));
    EXPECT_EQ(ourCodes(epub, c.deep), c.expected) << c.damage;
    EXPECT_EQ(epubcheckCodes(epub), c.epubcheck.value_or(c.expected)) << c.damage;
  }
  // Not a ZIP archive at all.
  const fs::path letter = dir.path() / "letter.epub";
  test::writeFile(letter, "This is a letter, not a book; it holds no ZIP archive at all.");
  EXPECT_EQ(ourCodes(letter), (std::set<std::string>{"PKG-004", "PKG-008"}));
  EXPECT_EQ(epubcheckCodes(letter), (std::set<std::string>{"PKG-004", "PKG-008"}));
  // An end record and nothing else: no container.xml. (Our reader refuses it
  // as well, PKG-008; Java's opens it with no entries.)
  const fs::path empty = dir.path() / "empty.epub";
  Ecd ecd;
  ecd.setSignature(kEcdSignature);
  test::writeFile(empty, test::bytesOf(ecd));
  EXPECT_EQ(ourCodes(empty), (std::set<std::string>{"PKG-003", "PKG-008", "RSC-002"}));
  EXPECT_EQ(epubcheckCodes(empty), (std::set<std::string>{"PKG-003", "RSC-002"}));
}

}  // namespace
}  // namespace plimsy
