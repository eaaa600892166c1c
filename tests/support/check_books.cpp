#include "support/check_books.h"

#include <filesystem>
#include <stdexcept>
#include <utility>

#include "support/sample_data.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy::test {
namespace {

const char* const kOpf = "OEBPS/content.opf";
const char* const kNav = "OEBPS/nav.xhtml";
const char* const kChapter1 = "OEBPS/text/chapter1.xhtml";
const char* const kStyle = "OEBPS/css/style.css";
const char* const kContainer = "META-INF/container.xml";
const char* const kNcx = "OEBPS/toc.ncx";

// Replaces the first `from` in a file of the book; a row whose text is not
// there is a fault of the table.
void replace(BookFiles& files, const std::string& entry, const std::string& from, const std::string& to) {
  const auto file = files.find(entry);
  const std::size_t at = file == files.end() ? std::string::npos : file->second.find(from);
  if (at == std::string::npos) throw std::logic_error("no \"" + from + "\" in " + entry);
  file->second.replace(at, from.size(), to);
}

// Moves a file to another name, and every mention of its name in the given
// files with it.
void moveFile(BookFiles& files, const std::string& from, const std::string& to, const std::string& oldHref,
              const std::string& newHref, const std::vector<std::string>& mentions) {
  auto node = files.extract(from);
  if (node.empty()) throw std::logic_error("no entry " + from);
  node.key() = to;
  files.insert(std::move(node));
  for (const std::string& entry : mentions) replace(files, entry, "\"" + oldHref, "\"" + newHref);
}

const char* const kEpub2Container = R"(<?xml version="1.0" encoding="UTF-8"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles>
    <rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/>
  </rootfiles>
</container>
)";

const char* const kEpub2Package = R"(<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="2.0" unique-identifier="book-id">
  <metadata xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:opf="http://www.idpf.org/2007/opf">
    <dc:identifier id="book-id" opf:scheme="UUID">urn:uuid:0d5e6f70-3a1b-4c2d-8e9f-a0b1c2d3e4f5</dc:identifier>
    <dc:title>The Tide Tables</dc:title>
    <dc:language>en</dc:language>
    <dc:date>2026-12-07</dc:date>
  </metadata>
  <manifest>
    <item id="ncx" href="toc.ncx" media-type="application/x-dtbncx+xml"/>
    <item id="css" href="style.css" media-type="text/css"/>
    <item id="ch1" href="chapter1.xhtml" media-type="application/xhtml+xml"/>
    <item id="ch2" href="chapter2.xhtml" media-type="application/xhtml+xml"/>
  </manifest>
  <spine toc="ncx">
    <itemref idref="ch1"/>
    <itemref idref="ch2"/>
  </spine>
</package>
)";

const char* const kEpub2Ncx = R"(<?xml version="1.0" encoding="UTF-8"?>
<ncx xmlns="http://www.daisy.org/z3986/2005/ncx/" version="2005-1">
  <head>
    <meta name="dtb:uid" content="urn:uuid:0d5e6f70-3a1b-4c2d-8e9f-a0b1c2d3e4f5"/>
    <meta name="dtb:depth" content="1"/>
    <meta name="dtb:totalPageCount" content="0"/>
    <meta name="dtb:maxPageNumber" content="0"/>
  </head>
  <docTitle><text>The Tide Tables</text></docTitle>
  <navMap>
    <navPoint id="p1" playOrder="1"><navLabel><text>High Water</text></navLabel><content src="chapter1.xhtml"/></navPoint>
    <navPoint id="p2" playOrder="2"><navLabel><text>Low Water</text></navLabel><content src="chapter2.xhtml#low"/></navPoint>
  </navMap>
</ncx>
)";

std::string epub2Chapter(const std::string& title, const std::string& body) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.1//EN" "http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd">
<html xmlns="http://www.w3.org/1999/xhtml">
<head><title>)" +
         title + R"(</title><link rel="stylesheet" type="text/css" href="style.css"/></head>
<body>
)" + body +
         R"(
</body>
</html>
)";
}

}  // namespace

BookFiles epub3Book() {
  const fs::path book = sampleBook();
  BookFiles files;
  for (const auto& item : fs::recursive_directory_iterator(book)) {
    const std::string name = item.path().lexically_relative(book).generic_string();
    if (item.is_regular_file() && name != "mimetype") files[name] = readFile(item.path());
  }
  return files;
}

BookFiles epub2Book() {
  return {
      {kContainer, kEpub2Container},
      {kOpf, kEpub2Package},
      {kNcx, kEpub2Ncx},
      {"OEBPS/chapter1.xhtml", epub2Chapter("High Water",
                                            R"(<h1 id="high">High Water</h1>
<p>The tide turns at <a href="chapter2.xhtml#low">low water</a>.</p>)")},
      {"OEBPS/chapter2.xhtml", epub2Chapter("Low Water", R"(<h1 id="low">Low Water</h1>
<p>Back to <a href="chapter1.xhtml#high">high water</a>.</p>)")},
      {"OEBPS/style.css", "body { margin: 0 5%; }\nh1 { text-align: center; }\n"},
  };
}

ArchivePlan bookPlan(const BookFiles& files) {
  ArchivePlan plan;
  plan.entries.push_back(storedEntry("mimetype", "application/epub+zip"));
  for (const auto& [name, data] : files) plan.entries.push_back(deflatedEntry(name, data));
  return plan;
}

std::vector<CheckBook> checkBooks() {
  std::vector<CheckBook> books;
  const auto add = [&books](std::string label, std::string name, BookFiles files,
                            std::set<std::string> codes) -> CheckBook& {
    return books.emplace_back(
        CheckBook{std::move(label), std::move(name), std::move(files), std::move(codes), {}, false});
  };
  // The sample book changed by `edit`.
  const auto epub3 = [](const auto& edit) {
    BookFiles files = epub3Book();
    edit(files);
    return files;
  };
  const auto epub2 = [](const auto& edit) {
    BookFiles files = epub2Book();
    edit(files);
    return files;
  };

  add("EPUB 3, sound", "sound-epub3.epub", epub3Book(), {});
  add("EPUB 2, sound", "sound-epub2.epub", epub2Book(), {});

  // container.xml
  add("container.xml: a rootfile with a prefix bound to no namespace", "container-unbound-prefix.epub",
      epub3([](BookFiles& f) { replace(f, kContainer, "<rootfile ", "<x:rootfile "); }),
      {"RSC-016 error", "RSC-003 error"});
  add("container.xml: the container in another namespace", "container-other-namespace.epub", epub3([](BookFiles& f) {
        replace(f, kContainer, "urn:oasis:names:tc:opendocument:xmlns:container", "urn:example:container");
      }),
      {"RSC-003 error"});
  add("container.xml in UTF-16", "container-utf16.epub", epub3([](BookFiles& f) {
        std::string text = f[kContainer];
        text.replace(text.find("UTF-8"), 5, "UTF-16");
        std::string utf16 = "\xFF\xFE";  // little-endian, with a byte-order mark; the text is ASCII
        for (const char c : text) utf16 += std::string{c, '\0'};
        f[kContainer] = utf16;
      }),
      {});

  // The package document.
  // epubcheck also lists every file as one the manifest does not declare
  // (OPF-003) when it cannot read the manifest at all: the check says only
  // that the package document is not well-formed.
  add("package document not well-formed", "opf-not-well-formed.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, "</manifest>", "</manifest"); }), {"RSC-016 error"})
      .epubcheck = std::set<std::string>{"RSC-016 error", "OPF-003 warning"};
  add("unique-identifier names no identifier", "opf-unique-identifier-unknown.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, "unique-identifier=\"book-id\"", "unique-identifier=\"isbn\""); }),
      {"OPF-030 error"});
  // The navigation document's link to the missing chapter is not reported
  // again (RSC-007): the manifest item's finding says it. (epubcheck reports
  // RSC-007 only for files the manifest does not list.)
  add("a manifest item's file is missing", "opf-item-file-missing.epub",
      epub3([](BookFiles& f) { f.erase("OEBPS/text/chapter3.xhtml"); }), {"RSC-001 error"});
  // The same for a chapter's image: the manifest lists it, so the chapter's
  // reference to it is no second finding.
  add("a manifest item's image is missing, a chapter shows it", "opf-item-image-missing.epub",
      epub3([](BookFiles& f) { f.erase("OEBPS/images/lighthouse.png"); }), {"RSC-001 error"});
  add("two manifest items of one href", "opf-href-twice.epub", epub3([](BookFiles& f) {
        replace(f, kOpf, "<item id=\"ch3\"",
                "<item id=\"ch2-again\" href=\"text/chapter2.xhtml\" media-type=\"application/xhtml+xml\"/>\n"
                "    <item id=\"ch3\"");
      }),
      {"OPF-074 error"});
  add("a spine itemref names no manifest item", "opf-itemref-unknown.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, "<itemref idref=\"ch3\"/>", "<itemref idref=\"ch4\"/>"); }),
      {"OPF-049 error"});
  add("a file the manifest does not list", "opf-file-not-listed.epub",
      epub3([](BookFiles& f) { f["OEBPS/notes.txt"] = "Oil: 40 gallons.\n"; }), {"OPF-003 warning"});
  add("EPUB 3: an XHTML content document named .html", "opf-xhtml-named-html.epub", epub3([](BookFiles& f) {
        moveFile(f, "OEBPS/text/chapter3.xhtml", "OEBPS/text/chapter3.html", "text/chapter3.xhtml",
                 "text/chapter3.html", {kOpf, kNav});
      }),
      {"HTM-014a warning"});
  add("EPUB 2: an XHTML content document named .txt", "opf2-xhtml-named-txt.epub", epub2([](BookFiles& f) {
        moveFile(f, "OEBPS/chapter2.xhtml", "OEBPS/chapter2.txt", "chapter2.xhtml", "chapter2.txt",
                 {kOpf, kNcx, "OEBPS/chapter1.xhtml"});
      }),
      {"HTM-014 warning"});
  add("EPUB 2: an XHTML content document named .html", "opf2-xhtml-named-html.epub", epub2([](BookFiles& f) {
        moveFile(f, "OEBPS/chapter2.xhtml", "OEBPS/chapter2.html", "chapter2.xhtml", "chapter2.html",
                 {kOpf, kNcx, "OEBPS/chapter1.xhtml"});
      }),
      {});
  add("EPUB 2: a dc:date that is not a date", "opf2-date-in-words.epub",
      epub2([](BookFiles& f) { replace(f, kOpf, "2026-12-07", "the seventh of December"); }), {"OPF-054 error"});
  add("EPUB 2: a dc:date with month 13", "opf2-date-month-13.epub",
      epub2([](BookFiles& f) { replace(f, kOpf, "2026-12-07", "2026-13-45"); }), {"OPF-054 error"});
  add("EPUB 2: a dc:date of year and month", "opf2-date-year-month.epub",
      epub2([](BookFiles& f) { replace(f, kOpf, "2026-12-07", "2026-12"); }), {});
  // An EPUB 3 date off the syntax is a warning.
  add("EPUB 3: a dc:date that is not a date", "opf-date-in-words.epub", epub3([](BookFiles& f) {
        replace(f, kOpf, "<dc:language>", "<dc:date>the seventh of December</dc:date>\n    <dc:language>");
      }),
      {"OPF-053 warning"});
  // epubcheck goes on with EPUB 2's rules and misses the NCX; the check
  // judges a package of an unknown version by neither version's rules.
  add("package version 2.5", "opf-version-unknown.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, "version=\"3.0\"", "version=\"2.5\""); }), {"OPF-001 error"})
      .epubcheck = std::set<std::string>{"OPF-001 error", "NCX-002 error"};
  // epubcheck also looks for the identifier "null" (OPF-030).
  add("package without unique-identifier", "opf-unique-identifier-none.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, " unique-identifier=\"book-id\"", ""); }), {"OPF-048 error"})
      .epubcheck = std::set<std::string>{"OPF-048 error", "OPF-030 error"};
  add("package without a spine", "opf-spine-none.epub", epub3([](BookFiles& f) {
        const std::string& text = f[kOpf];
        const std::size_t from = text.find("  <spine>");
        const std::size_t to = text.find("</spine>\n");
        if (from == std::string::npos || to == std::string::npos) throw std::logic_error("no spine");
        f[kOpf] = text.substr(0, from) + text.substr(to + 9);
      }),
      {"OPF-019 error"});
  add("every itemref linear=\"no\"", "opf-spine-nothing-linear.epub", epub3([](BookFiles& f) {
        for (const char* id : {"ch1", "ch2", "ch3"})
          replace(f, kOpf, std::string("idref=\"") + id + "\"/>", std::string("idref=\"") + id + "\" linear=\"no\"/>");
      }),
      {"OPF-033 error"});
  add("package document in ISO-8859-1", "opf-latin1.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, "encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\""); }),
      {"CSS-003 error"});
  // epubcheck keeps the second item of an id and then takes the first
  // item's file as one the manifest does not list (OPF-003).
  add("two manifest items of one id", "opf-id-twice.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, "<item id=\"nav\"", "<item id=\"css\""); }), {"PLM-009 error"})
      .epubcheck = std::set<std::string>{"OPF-003 warning"};
  add("EPUB 3: no item has the nav property", "opf-nav-none.epub",
      epub3([](BookFiles& f) { replace(f, kOpf, " properties=\"nav\"", ""); }), {"PLM-011 error"});
  add("EPUB 2: a spine without toc", "opf2-spine-toc-none.epub",
      epub2([](BookFiles& f) { replace(f, kOpf, "<spine toc=\"ncx\">", "<spine>"); }), {"NCX-002 error"});
  add("EPUB 2: the spine's toc names no item", "opf2-spine-toc-unknown.epub",
      epub2([](BookFiles& f) { replace(f, kOpf, "<spine toc=\"ncx\">", "<spine toc=\"contents\">"); }),
      {"OPF-049 error"});
  add("EPUB 2: the spine's toc names the stylesheet", "opf2-spine-toc-stylesheet.epub",
      epub2([](BookFiles& f) { replace(f, kOpf, "<spine toc=\"ncx\">", "<spine toc=\"css\">"); }), {"OPF-050 error"});

  // The navigation document and the NCX.
  add("navigation document not well-formed", "nav-not-well-formed.epub",
      epub3([](BookFiles& f) { replace(f, kNav, "</ol>", "</ul>"); }), {"RSC-016 error"});
  add("navigation document links to a missing chapter", "nav-link-missing.epub",
      epub3([](BookFiles& f) { replace(f, kNav, "text/chapter3.xhtml", "text/chapter4.xhtml"); }), {"RSC-007 error"});
  add("navigation document links to an id its chapter lacks", "nav-fragment-missing.epub",
      epub3([](BookFiles& f) { replace(f, kNav, "text/chapter3.xhtml\"", "text/chapter3.xhtml#relief\""); }),
      {"RSC-012 error"})
      .deepOnly = true;
  add("NCX not well-formed", "ncx-not-well-formed.epub",
      epub2([](BookFiles& f) { replace(f, kNcx, "</navMap>", "</navmap>"); }), {"RSC-016 error"});
  add("NCX dtb:uid differs from the package's identifier", "ncx-uid-differs.epub",
      epub2([](BookFiles& f) { replace(f, kNcx, "e4f5\"/>", "e4f6\"/>"); }), {"NCX-001 error"});
  add("NCX links to a missing chapter", "ncx-link-missing.epub",
      epub2([](BookFiles& f) { replace(f, kNcx, "src=\"chapter1.xhtml\"", "src=\"chapter9.xhtml\""); }),
      {"RSC-007 error"});
  add("NCX links to an id its chapter lacks", "ncx-fragment-missing.epub",
      epub2([](BookFiles& f) { replace(f, kNcx, "chapter2.xhtml#low", "chapter2.xhtml#ebb"); }), {"RSC-012 error"})
      .deepOnly = true;

  // Content documents (--deep).
  add("a chapter not well-formed", "xhtml-not-well-formed.epub",
      epub3([](BookFiles& f) { replace(f, kChapter1, "</figure>", "</figur>"); }), {"RSC-016 error"})
      .deepOnly = true;
  add("EPUB 2: a chapter not well-formed", "xhtml2-not-well-formed.epub",
      epub2([](BookFiles& f) { replace(f, "OEBPS/chapter2.xhtml", "</p>", "</b>"); }), {"RSC-016 error"})
      .deepOnly = true;
  add("a chapter's image is missing", "xhtml-image-missing.epub",
      epub3([](BookFiles& f) { replace(f, kChapter1, "../images/lighthouse.png", "../images/lantern.png"); }),
      {"RSC-007 error"})
      .deepOnly = true;
  add("a chapter's stylesheet is missing", "xhtml-stylesheet-missing.epub",
      epub3([](BookFiles& f) { replace(f, kChapter1, "../css/style.css", "../css/print.css"); }), {"RSC-007 error"})
      .deepOnly = true;
  add("a stylesheet's url() names a missing image", "css-url-missing.epub",
      epub3([](BookFiles& f) { f[kStyle] += "body { background: url(\"../images/paper.png\"); }\n"; }),
      {"RSC-007 error"})
      .deepOnly = true;
  add("a chapter links to an id another chapter lacks", "xhtml-fragment-missing.epub", epub3([](BookFiles& f) {
        replace(f, kChapter1, "<p>She had", "<p><a href=\"chapter2.xhtml#fog\">Later</a>, she had");
      }),
      {"RSC-012 error"})
      .deepOnly = true;
  add("EPUB 2: a chapter links to an id the other lacks", "xhtml2-fragment-missing.epub",
      epub2([](BookFiles& f) { replace(f, "OEBPS/chapter1.xhtml", "chapter2.xhtml#low", "chapter2.xhtml#ebb"); }),
      {"RSC-012 error"})
      .deepOnly = true;
  add("links percent-encoded, with ./ and ../, a query, a fragment of its own page", "xhtml-links-sound.epub",
      epub3([](BookFiles& f) {
        replace(f, kChapter1, "<h1>", "<h1 id=\"top\">");
        replace(f, kChapter1, "<p>She had",
                "<p><a href=\"./chapter%32.xhtml\">On</a> <a href=\"../text/chapter3.xhtml?part=1\">and</a> "
                "<a href=\"#top\">up</a>: she had");
      }),
      {});
  add("remote links, mail and an image as a data: URL", "xhtml-remote-links.epub", epub3([](BookFiles& f) {
        replace(
            f, kChapter1, "<p>She had",
            "<p><a href=\"https://example.org/ledger#march\">The</a> <a href=\"mailto:keeper@example.org\">keeper</a>"
            " <img src=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA"
            "60e6kgAAAABJRU5ErkJggg==\" alt=\"\"/> had");
      }),
      {});
  return books;
}

}  // namespace plimsy::test
