// The whole-book check: a sound small book (EPUB 3 with a navigation
// document, or EPUB 2 with an NCX), changed one way at a time, must give
// exactly the findings that change calls for and nothing else.

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/book_check.h"
#include "engine/navigation_check.h"
#include "engine/package_document.h"
#include "support/zip_builder.h"
#include "tests/support/findings_summary.h"

namespace plimsy {
namespace {

constexpr const char* kOpf = "OEBPS/content.opf";
constexpr const char* kUid = "urn:uuid:12345678-1234-1234-1234-123456789abc";

const std::string kContainerXml =
    "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
    "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles>\n"
    "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
    "</rootfiles></container>\n";

const std::string kMetadata = std::string("<dc:identifier id=\"uid\">") + kUid +
                              "</dc:identifier><dc:title>T</dc:title><dc:language>en</dc:language>";
const std::string kItems3 =
    "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>\n"
    "<item id=\"c1\" href=\"c1.xhtml\" media-type=\"application/xhtml+xml\"/>\n";
const std::string kItems2 =
    "<item id=\"ncx\" href=\"toc.ncx\" media-type=\"application/x-dtbncx+xml\"/>\n"
    "<item id=\"c1\" href=\"c1.xhtml\" media-type=\"application/xhtml+xml\"/>\n";

struct sOpf {
  std::string version = "3.0";
  std::string uniqueIdentifier = " unique-identifier=\"uid\"";
  std::string metadata = kMetadata;
  std::string items = kItems3;
  std::string spineAttributes;
  std::string spine = "<itemref idref=\"c1\"/>";
};

std::string opf(const sOpf& p) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"" +
         p.version + "\"" + p.uniqueIdentifier + ">\n<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">" +
         p.metadata + "</metadata>\n<manifest>\n" + p.items + "</manifest>\n<spine" + p.spineAttributes + ">" +
         p.spine + "</spine>\n</package>\n";
}

sOpf epub2Opf() {
  sOpf p;
  p.version = "2.0";
  p.items = kItems2;
  p.spineAttributes = " toc=\"ncx\"";
  return p;
}

std::string xhtml(std::string_view body = "<p id=\"p1\">Hi</p>") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t"
         "</title></head><body>" +
         std::string(body) + "</body></html>\n";
}

std::string nav(std::string_view links = "<li><a href=\"c1.xhtml\">One</a></li>") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" "
         "xmlns:epub=\"http://www.idpf.org/2007/ops\"><head><title>t</title></head><body>\n<nav "
         "epub:type=\"toc\"><ol>" +
         std::string(links) + "</ol></nav></body></html>\n";
}

std::string ncx(std::string_view uid = kUid, std::string_view src = "c1.xhtml") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\" "
         "version=\"2005-1\"><head><meta name=\"dtb:uid\" content=\"" +
         std::string(uid) +
         "\"/></head><docTitle><text>T</text></docTitle>\n<navMap><navPoint id=\"n1\" playOrder=\"1\"><navLabel>"
         "<text>One</text></navLabel><content src=\"" +
         std::string(src) + "\"/></navPoint></navMap></ncx>\n";
}

// The ASCII text as UTF-16LE with a byte-order mark, its declared encoding
// `from` changed to `to`.
std::string utf16le(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  std::string out = "\xFF\xFE";
  for (const char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

using Files = std::map<std::string, std::optional<std::string>>;  // nullopt: left out

Files epub3Book() {
  return {{"META-INF/container.xml", kContainerXml},
          {kOpf, opf({})},
          {"OEBPS/nav.xhtml", nav()},
          {"OEBPS/c1.xhtml", xhtml()}};
}

Files epub2Book() {
  return {{"META-INF/container.xml", kContainerXml},
          {kOpf, opf(epub2Opf())},
          {"OEBPS/toc.ncx", ncx()},
          {"OEBPS/c1.xhtml", xhtml()}};
}

Files with(Files files, const Files& changes) {
  for (const auto& [name, content] : changes) files[name] = content;
  return files;
}

std::string archiveOf(const Files& files) {
  std::vector<test::EntryPlan> entries = {test::storedEntry("mimetype", "application/epub+zip")};
  // The container first, then the others in name order.
  const auto container = files.find("META-INF/container.xml");
  if (container != files.end() && container->second)
    entries.push_back(test::deflatedEntry(container->first, *container->second));
  for (const auto& [name, content] : files)
    if (content && name != "META-INF/container.xml") entries.push_back(test::deflatedEntry(name, *content));
  return test::buildArchive(test::planOf(std::move(entries)));
}

using test::summarize;

std::vector<sFinding> check(const std::string& archive, bool deep = false) {
  sContainerCheckOptions options;
  options.deep = deep;
  options.threads = 2;
  return checkBook(std::span(reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size()), options);
}

std::string item(std::string_view id, std::string_view href, std::string_view type = "application/xhtml+xml") {
  return "<item id=\"" + std::string(id) + "\" href=\"" + std::string(href) + "\" media-type=\"" + std::string(type) +
         "\"/>\n";
}

sOpf opfWith(std::function<void(sOpf&)> change, sOpf p = {}) {
  change(p);
  return p;
}

TEST(BookCheck, EachFaultGivesItsFindingsAndNoOthers) {
  const std::string opfLine = std::string(" ") + kOpf;
  const struct {
    const char* fault;
    Files files;
    std::vector<std::string> expected;  // sorted
    const char* detail = "";            // a part of some finding's message
  } cases[] = {
      {"none, EPUB 3", epub3Book(), {}},
      {"none, EPUB 2", epub2Book(), {}},
      {"package not well-formed",
       with(epub3Book(), {{kOpf, "<package xmlns=\"http://www.idpf.org/2007/opf\"><manifest></package>"}}),
       {"RSC-016 error OEBPS/content.opf"},
       "(line 1, column "},
      {"package in UTF-16", with(epub3Book(), {{kOpf, utf16le(opf({}), "UTF-8", "UTF-16")}}), {}},
      {"package in UTF-16, not well-formed",
       with(epub3Book(), {{kOpf, utf16le(opf({}).substr(0, 120), "UTF-8", "UTF-16")}}),
       {"RSC-016 error OEBPS/content.opf"}},
      {"package in Latin-1",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) {
                                   p.metadata += "<dc:creator>Jos\xE9</dc:creator>";
                                 })).replace(30, 5, "ISO-8859-1")}}),
       {"CSS-003 error OEBPS/content.opf"},
       "ISO-8859-1"},
      {"unique-identifier names no identifier",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.uniqueIdentifier = " unique-identifier=\"isbn\""; }))}}),
       {"OPF-030 error OEBPS/content.opf"},
       "\"isbn\""},
      {"unique-identifier names the second identifier",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) {
                             p.metadata = "<dc:identifier id=\"isbn\">1</dc:identifier>" + kMetadata;
                           }))}}),
       {}},
      // The navigation's link to it is not a second finding (as epubcheck).
      {"manifest file missing",
       with(epub3Book(), {{"OEBPS/c1.xhtml", std::nullopt}}),
       {"RSC-001 error OEBPS/content.opf"},
       "OEBPS/c1.xhtml"},
      {"manifest href climbs out of the container",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("x", "../../x.png", "image/png"); }))}}),
       {"RSC-001 error OEBPS/content.opf"},
       "../../x.png"},
      {"manifest href percent-encoded, relative and with a query",
       with(epub3Book(),
            {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("i", "../images/a%20b.png?v=1", "image/png"); }))},
             {"images/a b.png", "png"}}),
       {"PKG-010 warning images/a b.png"}},
      {"manifest href remote",
       with(epub3Book(),
            {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("r", "https://example.com/a.png", "image/png"); }))}}),
       {}},
      {"manifest item without href",
       with(epub3Book(),
            {{kOpf, opf(opfWith([](sOpf& p) { p.items += "<item id=\"x\" media-type=\"image/png\"/>"; }))}}),
       {"PLM-012 error OEBPS/content.opf"},
       "\"x\""},
      {"two items name one file",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("c2", "./c1.xhtml"); }))}}),
       {"OPF-074 error OEBPS/content.opf"},
       "\"c1\" and \"c2\""},
      {"two items share an id",
       with(epub3Book(),
            {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("c1", "c2.xhtml"); }))}, {"OEBPS/c2.xhtml", xhtml()}}),
       {"PLM-009 error OEBPS/content.opf"},
       "\"c1\""},
      {"spine names an unknown item",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.spine += "<itemref idref=\"zz\"/>"; }))}}),
       {"OPF-049 error OEBPS/content.opf"},
       "\"zz\""},
      {"spine empty",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.spine.clear(); }))}}),
       {"PLM-010 error OEBPS/content.opf"}},
      {"EPUB 3 without a nav item",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.items = item("c1", "c1.xhtml"); }))},
                          {"OEBPS/nav.xhtml", std::nullopt}}),
       {"PLM-011 error OEBPS/content.opf"}},
      {"EPUB 3 with two nav items",
       with(epub3Book(),
            {{kOpf, opf(opfWith([](sOpf& p) {
                p.items +=
                    "<item id=\"n2\" href=\"n2.xhtml\" media-type=\"application/xhtml+xml\" properties=\"x nav\"/>";
              }))},
             {"OEBPS/n2.xhtml", nav()}}),
       {"PLM-011 error OEBPS/content.opf"}},
      {"EPUB 2 spine without toc",
       with(epub2Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.spineAttributes.clear(); }, epub2Opf()))}}),
       {"NCX-002 error OEBPS/content.opf"}},
      {"EPUB 2 spine toc names the chapter",
       with(epub2Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.spineAttributes = " toc=\"c1\""; }, epub2Opf()))}}),
       {"OPF-050 error OEBPS/content.opf"}},
      {"EPUB 2 spine toc names no item",
       with(epub2Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.spineAttributes = " toc=\"zz\""; }, epub2Opf()))}}),
       {"OPF-049 error OEBPS/content.opf"}},
      {"spine of items that are all not linear",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.spine = "<itemref idref=\"c1\" linear=\"no\"/>"; }))}}),
       {"OPF-033 error OEBPS/content.opf"}},
      {"package without a version",
       with(epub3Book(), {{kOpf, opf({}).replace(opf({}).find(" version=\"3.0\""), 14, "")}}),
       {"OPF-001 error OEBPS/content.opf"}},
      {"package of version 3.1, otherwise faulty",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) {
                             p.version = "3.1";
                             p.spine = "<itemref idref=\"zz\"/>";
                           }))},
                          {"OEBPS/extra.css", ""}}),
       {"OPF-001 error OEBPS/content.opf"},
       "\"3.1\""},
      {"package of version 3.0.1", with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.version = "3.0.1"; }))}}), {}},
      {"package of version 2.0.1",
       with(epub2Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.version = "2.0.1"; }, epub2Opf()))}}),
       {"OPF-001 error OEBPS/content.opf"}},
      {"package without unique-identifier",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.uniqueIdentifier.clear(); }))}}),
       {"OPF-048 error OEBPS/content.opf"}},
      {"package root in no namespace",
       with(epub3Book(), {{kOpf, "<package version=\"3.0\"><spine/></package>"}}),
       {"OPF-019 error OEBPS/content.opf"}},
      {"package without a spine",
       with(epub3Book(), {{kOpf, opf({}).replace(opf({}).find("<spine>"), 36, "")}}),
       {"OPF-019 error OEBPS/content.opf"}},
      {"file not in the manifest",
       with(epub3Book(), {{"OEBPS/extra.css", "p {}"}, {"META-INF/x.xml", "<x/>"}, {"OEBPS/images/", ""}}),
       {"OPF-003 warning OEBPS/extra.css", "PKG-014 warning OEBPS/images/"}},
      {"XHTML document named .html in EPUB 3",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) {
                             p.items += item("c2", "c2.html");
                             p.spine += "<itemref idref=\"c2\"/>";
                           }))},
                          {"OEBPS/c2.html", xhtml()}}),
       {"HTM-014a warning OEBPS/content.opf"},
       "OEBPS/c2.html"},
      {"XHTML document named .html in EPUB 2",
       with(epub2Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("c2", "c2.html"); }, epub2Opf()))},
                          {"OEBPS/c2.html", xhtml()}}),
       {}},
      {"XHTML document named .txt in EPUB 2",
       with(epub2Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.items += item("c2", "c2.txt"); }, epub2Opf()))},
                          {"OEBPS/c2.txt", xhtml()}}),
       {"HTM-014 warning OEBPS/c2.txt"}},
      {"EPUB 3 date out of range",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) { p.metadata += "<dc:date>2021-02-29</dc:date>"; }))}}),
       {"OPF-053 warning OEBPS/content.opf"},
       "2021-02-29"},
      {"EPUB 2 date in words",
       with(epub2Book(),
            {{kOpf, opf(opfWith([](sOpf& p) { p.metadata += "<dc:date>last Tuesday</dc:date>"; }, epub2Opf()))}}),
       {"OPF-054 error OEBPS/content.opf"}},
      {"EPUB 2 dates that are sound",
       with(epub2Book(), {{kOpf, opf(
                                     opfWith(
                                         [](sOpf& p) {
                                           p.metadata +=
                                               "<dc:date>2020</dc:date><dc:date> 2020-02-29 </dc:date>"
                                               "<dc:date>2020-02-29T10:00:00.5+01:00</dc:date>";
                                         },
                                         epub2Opf()))}}),
       {}},
      {"navigation document not well-formed",
       with(epub3Book(), {{"OEBPS/nav.xhtml", "<html xmlns=\"http://www.w3.org/1999/xhtml\"><body></html>"}}),
       {"RSC-016 error OEBPS/nav.xhtml"}},
      {"navigation links to missing files",
       with(epub3Book(), {{"OEBPS/nav.xhtml", nav("<li><a href=\"nope.xhtml#x\">1</a></li><li><a href=\"c1.xhtml\">2"
                                                  "</a></li><li><a href=\"https://example.com/\">3</a></li>")}}),
       {"RSC-007 error OEBPS/nav.xhtml"},
       "nope.xhtml"},
      {"navigation link that climbs out of the container",
       with(epub3Book(), {{"OEBPS/nav.xhtml", nav("<li><a href=\"c1.xhtml\">1</a></li><li><a href=\"../../x.xhtml\">2"
                                                  "</a></li>")}}),
       {"RSC-007 error OEBPS/nav.xhtml"},
       "../../x.xhtml"},
      {"package in an encoding the parser does not know",
       with(epub3Book(), {{kOpf, opf({}).replace(30, 5, "windows-1252")}}),
       {"CSS-003 error OEBPS/content.opf"}},
      {"navigation document in Latin-1",
       with(epub3Book(), {{"OEBPS/nav.xhtml", nav().replace(30, 5, "ISO-8859-1")}}),
       {"CSS-003 error OEBPS/nav.xhtml"}},
      {"NCX not well-formed",
       with(epub2Book(), {{"OEBPS/toc.ncx", "<ncx xmlns=\"http://www.daisy.org/z3986/2005/ncx/\"><navMap></ncx>"}}),
       {"RSC-016 error OEBPS/toc.ncx"}},
      {"NCX identifier differs",
       with(epub2Book(), {{"OEBPS/toc.ncx", ncx("urn:uuid:other")}}),
       {"NCX-001 error OEBPS/toc.ncx"},
       "urn:uuid:other"},
      {"NCX identifier with white space around it",
       with(epub2Book(), {{"OEBPS/toc.ncx", ncx(std::string(" ") + kUid + "\n")}}),
       {}},
      {"NCX link to a missing file",
       with(epub2Book(), {{"OEBPS/toc.ncx", ncx(kUid, "text/c1.xhtml#p1")}}),
       {"RSC-007 error OEBPS/toc.ncx"},
       "OEBPS/text/c1.xhtml"},
      {"NCX of an EPUB 3 book, named by the spine",
       with(epub3Book(), {{kOpf, opf(opfWith([](sOpf& p) {
                             p.items += item("ncx", "toc.ncx", "application/x-dtbncx+xml");
                             p.spineAttributes = " toc=\"ncx\"";
                           }))},
                          {"OEBPS/toc.ncx", ncx("other")}}),
       {"NCX-001 error OEBPS/toc.ncx"}},
      {"container.xml names no package",
       with(epub3Book(), {{"META-INF/container.xml", "<container/>"}}),
       {"RSC-003 error META-INF/container.xml"}},
      {"container.xml names a missing package",
       with(epub3Book(), {{kOpf, std::nullopt}}),
       {"OPF-002 error META-INF/container.xml"}},
      {"two renditions, the second not well-formed",
       with(epub3Book(), {{"META-INF/container.xml",
                           "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
                           "full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/><rootfile "
                           "full-path=\"OEBPS/b.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles>"
                           "</container>"},
                          {"OEBPS/b.opf", "<package"}}),
       {"RSC-016 error OEBPS/b.opf"}},
      {"package at the root, the book in a folder",
       with(epub3Book(), {{"META-INF/container.xml",
                           "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
                           "full-path=\"book.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles>"
                           "</container>"},
                          {kOpf, std::nullopt},
                          {"book.opf", opf(opfWith([](sOpf& p) {
                             p.items = item("nav", "OEBPS/nav.xhtml") + item("c1", "OEBPS/c1.xhtml");
                             p.items.insert(p.items.find("/>"), " properties=\"nav\"");
                           }))}}),
       {}},
  };
  for (const auto& c : cases) {
    const std::vector<sFinding> findings = check(archiveOf(c.files));
    EXPECT_EQ(summarize(findings), c.expected) << c.fault;
    if (*c.detail) {
      EXPECT_TRUE(std::any_of(findings.begin(), findings.end(),
                              [&c](const sFinding& f) { return f.message.find(c.detail) != std::string::npos; }))
          << c.fault << ": no message names " << c.detail;
    }
    for (const sFinding& f : findings) {
      EXPECT_FALSE(f.message.empty()) << c.fault;
      EXPECT_EQ(f.message.find('\n'), std::string::npos) << c.fault << ": " << f.message;
    }
  }
}

// A package document whose data does not inflate is said to be unreadable,
// once, and nothing is made up from it.
TEST(BookCheck, DamagedPackageDataIsOneFinding) {
  std::vector<test::EntryPlan> entries = {
      test::storedEntry("mimetype", "application/epub+zip"),
      test::deflatedEntry("META-INF/container.xml", kContainerXml), test::deflatedEntry(kOpf, opf({})),
      test::deflatedEntry("OEBPS/nav.xhtml", nav()), test::deflatedEntry("OEBPS/c1.xhtml", xhtml())};
  entries[2].data[0] = static_cast<char>(0xFF);  // an invalid block type
  EXPECT_EQ(summarize(check(test::buildArchive(test::planOf(entries)))),
            std::vector<std::string>{"PKG-008 error OEBPS/content.opf"});
}

// With several copies of container.xml, the last one names the package.
TEST(BookCheck, TheLastContainerXmlNamesThePackage) {
  std::vector<test::EntryPlan> entries = {
      test::storedEntry("mimetype", "application/epub+zip"),
      test::deflatedEntry("META-INF/container.xml", "<container/>"),
      test::deflatedEntry("META-INF/container.xml", kContainerXml),
      test::deflatedEntry(kOpf, opf(opfWith([](sOpf& p) { p.uniqueIdentifier = " unique-identifier=\"x\""; }))),
      test::deflatedEntry("OEBPS/nav.xhtml", nav()),
      test::deflatedEntry("OEBPS/c1.xhtml", xhtml())};
  const std::vector<std::string> found = summarize(check(test::buildArchive(test::planOf(entries))));
  EXPECT_NE(std::find(found.begin(), found.end(), "OPF-030 error OEBPS/content.opf"), found.end());
}

TEST(BookCheck, PackageDatesFollowTheW3cProfile) {
  const struct {
    const char* date;
    bool valid;
  } cases[] = {
      {"2020", true},
      {"2020-02", true},
      {"2020-02-29", true},
      {"2000-02-29", true},
      {"1900-02-29", false},
      {"2021-02-29", false},
      {"2020-13", false},
      {"2020-04-31", false},
      {"2020-1-1", false},
      {"20", false},
      {"2020-01-01T10:00Z", true},
      {"2020-01-01T10:00:59Z", true},
      {"2020-01-01T24:00Z", false},
      {"2020-01-01T10:00:00.25-05:30", true},
      {"2020-01-01T10:00", true},
      {"2020-01-01T10", false},
      {"2020-01-01T10:00:00.Z", false},
      {"2020-01-01T10:00+0100", false},
      {"", false},
      {"2020-01-01 ", true},
  };
  for (const auto& c : cases) EXPECT_EQ(isValidPackageDate(c.date), c.valid) << '"' << c.date << '"';
}

// What the readers keep: only the package's own elements (an item of another
// namespace is no item), every link of the navigation, the NCX's first uid.
TEST(BookCheck, ReadersKeepWhatTheChecksNeed) {
  const sPackageDocument package = readPackageDocument(
      "<package xmlns=\"http://www.idpf.org/2007/opf\" xmlns:x=\"urn:x\" version=\"3.0\" x:version=\"9\" "
      "unique-identifier=\"u\"><metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier id=\"u\">a"
      "&amp;b</dc:identifier><x:identifier id=\"v\">no</x:identifier></metadata><manifest><item id=\"a\" "
      "href=\"a.xhtml\" "
      "media-type=\"application/xhtml+xml\" properties=\" svg  nav \"/><x:item id=\"b\" href=\"b.xhtml\"/></manifest>"
      "<spine toc=\"\"><itemref idref=\"a\"/></spine></package>");
  ASSERT_TRUE(package.wellFormed);
  EXPECT_EQ(package.version, "3.0");
  ASSERT_EQ(package.identifiers.size(), 1u);
  EXPECT_EQ(package.identifiers[0].value, "a&b");
  ASSERT_EQ(package.items.size(), 1u);
  EXPECT_TRUE(hasWord(package.items[0].properties, "nav"));
  EXPECT_FALSE(hasWord(package.items[0].properties, "na"));
  EXPECT_TRUE(package.hasSpineToc);
  ASSERT_EQ(package.spine.size(), 1u);

  const sNavigationDocument navigation =
      readNavigationDocument(nav("<li><a href=\"a.xhtml\">a</a><img src=\"i.png\"/><span href=\"no\"/></li>"));
  ASSERT_TRUE(navigation.wellFormed);
  std::vector<std::string> links;
  for (const sNavigationLink& link : navigation.links) links.push_back(link.written);
  EXPECT_EQ(links, (std::vector<std::string>{"a.xhtml", "i.png"}));

  const sNavigationDocument toc = readNcx(ncx("first"));
  EXPECT_TRUE(toc.hasUid);
  EXPECT_EQ(toc.uid, "first");
  ASSERT_EQ(toc.links.size(), 1u);
  EXPECT_EQ(toc.links[0].written, "c1.xhtml");
}

}  // namespace
}  // namespace plimsy
