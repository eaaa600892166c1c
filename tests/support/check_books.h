#pragma once

// Books made to show one finding of the book check each: the sample book
// (EPUB 3, a navigation document) and a small EPUB 2 book (an NCX), changed
// in one place. Every row says which codes `check --deep` gives it, with
// their severity, and, where epubcheck 4.2.6 knowingly reports otherwise,
// what epubcheck reports. The interop tests run the table through epubcheck;
// the fuzz corpus holds the books as seeds.

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/zip_builder.h"

namespace plimsy::test {

// A book's files by entry name, `mimetype` aside.
using BookFiles = std::map<std::string, std::string>;

struct CheckBook {
  std::string label;  // what is wrong with it
  std::string name;   // a file name for it: "opf-unique-identifier-unknown.epub"
  BookFiles files;
  // Codes as "CODE severity" ("RSC-012 error", "OPF-003 warning"); epubcheck's
  // FATAL counts as an error.
  std::set<std::string> codes;
  // What epubcheck reports instead, where it knowingly differs (among the
  // codes the check knows).
  std::optional<std::set<std::string>> epubcheck;
  // Plain `check` gives none of the codes: only --deep reads the content
  // documents (and checks the navigation's fragments against their ids).
  bool deepOnly = false;
};

// The sample book's files (EPUB 3).
BookFiles epub3Book();

// A small EPUB 2 book: a package document of version 2.0, an NCX, two
// chapters that link to each other's headings, a stylesheet.
BookFiles epub2Book();

// The files as an epub: mimetype first and stored, the rest deflated, in
// name order.
ArchivePlan bookPlan(const BookFiles& files);

// The table.
std::vector<CheckBook> checkBooks();

}  // namespace plimsy::test
