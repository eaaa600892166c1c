// The deep pass over a book's content documents: crafted books, each made to
// show one kind of fault (or to look like one and not be), must give exactly
// the findings expected, in the documents' order.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/content_check.h"
#include "engine/css_urls.h"
#include "engine/zip_reader.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

using test::deflatedEntry;
using test::storedEntry;

constexpr const char* kXhtml = "application/xhtml+xml";
constexpr const char* kSvg = "image/svg+xml";
constexpr const char* kCss = "text/css";
constexpr const char* kPng = "image/png";
constexpr const char* kNotListed = "";  // in the archive, not in the manifest

struct sFile {
  std::string entry;
  std::string content;
  std::string mediaType = kXhtml;
  bool inArchive = true;
  bool stored = false;
};

std::string xhtml(std::string_view body, std::string_view head = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html "
         "xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title>" +
         std::string(head) + "</head><body>\n" + std::string(body) + "\n</body></html>";
}

std::string svg(std::string_view body) {
  return "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\" viewBox=\"0 0 10 10\">" +
         std::string(body) + "</svg>";
}

std::string buildBook(const std::vector<sFile>& files) {
  std::vector<test::EntryPlan> entries{storedEntry("mimetype", "application/epub+zip")};
  for (const sFile& f : files)
    if (f.inArchive) entries.push_back(f.stored ? storedEntry(f.entry, f.content) : deflatedEntry(f.entry, f.content));
  return test::buildArchive(test::planOf(std::move(entries)));
}

std::vector<sFinding> checkBook(const std::vector<sFile>& files, const std::vector<sBookReference>& others = {},
                                unsigned threads = 2) {
  const std::string archive = buildBook(files);
  cZipReader reader;
  std::string message;
  EXPECT_TRUE(reader.open(&message, std::span(reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size())))
      << message;
  std::vector<sBookDocument> documents;
  for (const sFile& f : files)
    if (!f.mediaType.empty()) documents.push_back({f.entry, f.mediaType});
  std::vector<sFinding> findings;
  checkContentDocuments(reader, documents, others, threads, findings);
  return findings;
}

// "CODE entry", in order.
std::vector<std::string> summarize(const std::vector<sFinding>& findings) {
  std::vector<std::string> lines;
  for (const sFinding& f : findings)
    lines.push_back(f.code + (f.severity == eSeverity::Warning ? " warning " : " ") + f.entry);
  return lines;
}

const std::string kPngBytes = "\x89PNG\r\n\x1a\n";

struct sBookCase {
  const char* name;
  std::vector<sFile> files;
  std::vector<std::string> expected;        // "CODE entry", in order
  std::vector<std::string> namedInOrder{};  // what each finding's message quotes, in order
};

TEST(ContentCheck, EachBookGivesItsFindingsInOrder) {
  const std::vector<sBookCase> cases = {
      {"sound links of every kind",
       {{"OEBPS/c1.xhtml",
         xhtml("<p id=\"top\"><a href=\"#top\">a</a><a href=\"c2.xhtml#s2\">b</a><a href=\"c2.xhtml\">c</a>"
               "<a href=\"text/c%203.xhtml#x%20y\">d</a><img src=\"img/p.png\" alt=\"\"/><a href=\"\">e</a></p>",
               "<link rel=\"stylesheet\" type=\"text/css\" href=\"s.css\"/>")},
        {"OEBPS/c2.xhtml", xhtml("<section id=\"s2\"><a href=\"c1.xhtml#top\">back</a></section>")},
        {"OEBPS/text/c 3.xhtml", xhtml("<p id=\"x y\"><a href=\"../c1.xhtml\">x</a></p>")},
        {"OEBPS/s.css", "p { background: url(img/p.png) } @import url('more.css');", kCss},
        {"OEBPS/more.css", "", kCss},
        {"OEBPS/img/p.png", kPngBytes, kPng}},
       {}},
      {"a link to a missing page, and one to a missing id there and here",
       {{"OEBPS/c1.xhtml",
         xhtml("<p><a href=\"nope.xhtml\">x</a><a href=\"c2.xhtml#gone\">y</a><a href=\"#here\">z</a></p>")},
        {"OEBPS/c2.xhtml", xhtml("<p id=\"there\">y</p>")}},
       {"RSC-007 OEBPS/c1.xhtml", "RSC-012 OEBPS/c1.xhtml", "RSC-012 OEBPS/c1.xhtml"},
       {"\"nope.xhtml\"", "\"c2.xhtml#gone\"", "\"#here\""}},
      {"every element that names a resource, each resource missing, in the document's order",
       {{"OEBPS/c1.xhtml",
         xhtml("<p><img src=\"i1.png\" srcset=\"i2.png 2x, i3.png 640w\" alt=\"\"/><iframe src=\"f.xhtml\"></iframe>"
               "<embed src=\"e.svg\"/><object data=\"o.svg\"></object><audio src=\"a.mp3\"><source src=\"s.mp3\"/>"
               "</audio><video src=\"v.mp4\" poster=\"p.png\"><track src=\"t.vtt\"/></video></p>"
               "<form action=\"#\"><input type=\"image\" src=\"in.png\" alt=\"x\"/></form>",
               "<link rel=\"stylesheet\" href=\"l.css\"/><script src=\"j.js\"></script>")}},
       {"RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml",
        "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml",
        "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml",
        "RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml"},
       {"\"l.css\"", "\"j.js\"", "\"i1.png\"", "\"i2.png\"", "\"i3.png\"", "\"f.xhtml\"", "\"e.svg\"", "\"o.svg\"",
        "\"a.mp3\"", "\"s.mp3\"", "\"v.mp4\"", "\"p.png\"", "\"t.vtt\"", "\"in.png\""}},
      {"what is left alone: remote, data:, another host's path, cite, area, empty and epubcfi fragments, malformed "
       "escapes",
       {{"OEBPS/c1.xhtml",
         xhtml("<p><a href=\"http://example.com/x#y\">a</a><a href=\"mailto:a@b.c\">b</a>"
               "<img src=\"data:image/png;base64,AAAA\" alt=\"\"/><img src=\"//example.com/x.png\" alt=\"\"/>"
               "<blockquote cite=\"gone.xhtml\"><p>q</p></blockquote>"
               "<map name=\"m\"><area href=\"gone.xhtml\" alt=\"a\"/></map><a href=\"c1.xhtml#\">d</a>"
               "<a href=\"#epubcfi(/4/2)\">e</a><a href=\"a%zz.xhtml\">f</a></p>")}},
       {}},
      {"fragments into resources that are not XHTML or SVG are not looked up",
       {{"OEBPS/c1.xhtml", xhtml("<p><img src=\"p.png#xywh=0,0,1,1\" alt=\"\"/><a href=\"s.css#x\">a</a></p>",
                                 "<link rel=\"stylesheet\" href=\"s.css#nothing\"/>")},
        {"OEBPS/p.png", kPngBytes, kPng},
        {"OEBPS/s.css", "p {}", kCss}},
       {}},
      {"paths that leave the container name nothing in the book",
       {{"OEBPS/c1.xhtml", xhtml("<p><a href=\"../../out.xhtml\">c</a><img src=\"/abs.png\" alt=\"\"/></p>")}},
       {"RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml"},
       {"\"../../out.xhtml\" leads outside", "\"/abs.png\" leads outside"}},
      {"an entity that an external DTD would declare is no fault (the DTD is not read)",
       {{"OEBPS/c1.xhtml",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
         "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
         "<title>t</title></head><body><p>a&nbsp;b</p></body></html>"}},
       {}},
      {"fragments into SVG through img and object are looked up",
       {{"OEBPS/c1.xhtml", xhtml("<p><img src=\"s.svg#r\" alt=\"\"/><img src=\"s.svg#nope\" alt=\"\"/><object "
                                 "data=\"s.svg#gone\"></object></p>")},
        {"OEBPS/s.svg", svg("<rect id=\"r\"/>"), kSvg}},
       {"RSC-012 OEBPS/c1.xhtml", "RSC-012 OEBPS/c1.xhtml"}},
      {"a@name and xml:id are no ids, in XHTML or SVG",
       {{"OEBPS/c1.xhtml", xhtml("<p><a href=\"c2.xhtml#nm\">x</a><a href=\"c2.xhtml#xid\">y</a></p>")},
        {"OEBPS/c2.xhtml", xhtml("<p><a name=\"nm\">y</a><span xml:id=\"xid\">z</span></p>")},
        {"OEBPS/s.svg", svg("<rect xml:id=\"r\"/><use xlink:href=\"#r\"/>"), kSvg}},
       {"RSC-012 OEBPS/c1.xhtml", "RSC-012 OEBPS/c1.xhtml", "RSC-012 OEBPS/s.svg"}},
      {"a reference to a manifest item whose entry is missing is the package check's",
       {{"OEBPS/c1.xhtml", xhtml("<p><a href=\"c2.xhtml#a\">x</a><img src=\"p.png\" alt=\"\"/></p>")},
        {"OEBPS/c2.xhtml", "", kXhtml, false},
        {"OEBPS/p.png", "", kPng, false}},
       {}},
      {"an entry in the archive but not in the manifest is found; its ids are not known",
       {{"OEBPS/c1.xhtml", xhtml("<p><a href=\"extra.xhtml#nope\">x</a></p>")},
        {"OEBPS/extra.xhtml", xhtml("<p>x</p>"), kNotListed}},
       {}},
      {"not well-formed: the references before the fault are still checked, the fault comes last",
       {{"OEBPS/c1.xhtml", xhtml("<p><img src=\"gone.png\" alt=\"\"/></q><img src=\"after.png\" alt=\"\"/>")},
        {"OEBPS/c2.xhtml", xhtml("<p><a href=\"c1.xhtml#late\">x</a></p>")}},
       {"RSC-007 OEBPS/c1.xhtml", "RSC-016 OEBPS/c1.xhtml", "RSC-012 OEBPS/c2.xhtml"},
       {"\"gone.png\"", "(line 3, column ", "\"c1.xhtml#late\""}},
      {"an undefined entity, no DTD: not well-formed",
       {{"OEBPS/c1.xhtml", xhtml("<p>a&nbsp;b</p>"), kXhtml, true, true}},
       {"RSC-016 OEBPS/c1.xhtml"},
       {"undefined entity (line 3, column 5)"}},
      {"SVG documents: image, use and a",
       {{"OEBPS/c1.xhtml", xhtml("<p id=\"p\">x</p>")},
        {"OEBPS/s.svg",
         svg("<rect id=\"r\" width=\"1\" height=\"1\"/><use xlink:href=\"#r\"/><use xlink:href=\"#nope\"/>"
             "<image xlink:href=\"gone.png\" width=\"1\" height=\"1\"/><a xlink:href=\"c1.xhtml#nope\"><rect/></a>"
             "<a xlink:href=\"c1.xhtml#p\"><rect/></a><image href=\"svg2-href.png\"/>"),
         kSvg},
        {"OEBPS/t.svg", svg("<rect></svg>"), kSvg}},
       {"RSC-012 OEBPS/s.svg", "RSC-007 OEBPS/s.svg", "RSC-012 OEBPS/s.svg", "RSC-016 OEBPS/t.svg"},
       {"\"#nope\"", "\"gone.png\"", "\"c1.xhtml#nope\"", "mismatched tag"}},
      {"a link into an SVG document, and SVG inside XHTML",
       {{"OEBPS/c1.xhtml",
         xhtml("<p><a href=\"s.svg#r\">a</a><a href=\"s.svg#nope\">b</a><svg xmlns=\"http://www.w3.org/2000/svg\" "
               "xmlns:xlink=\"http://www.w3.org/1999/xlink\"><image xlink:href=\"gone.png\"/></svg></p>")},
        {"OEBPS/s.svg", svg("<rect id=\"r\"/>"), kSvg}},
       {"RSC-012 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml"}},
      {"stylesheets: url() and @import, not in comments or strings",
       {{"OEBPS/c1.xhtml", xhtml("<p>x</p>")},
        {"OEBPS/css/s.css",
         "/* url(comment.png) */ a::after { content: \"url(string.png)\" }\n"
         "@import \"gone.css\";\n@font-face { src: url(\"../fonts/gone.ttf\") }\n"
         "p { background: URL( n\\6F pe.png ) } q { background: url(../img/p.png) }",
         kCss},
        {"OEBPS/img/p.png", kPngBytes, kPng}},
       {"RSC-007 OEBPS/css/s.css", "RSC-007 OEBPS/css/s.css", "RSC-007 OEBPS/css/s.css"},
       {"\"gone.css\"", "\"../fonts/gone.ttf\"", "\"nope.png\""}},
      {"style elements and attributes",
       {{"OEBPS/c1.xhtml", xhtml("<p style=\"background: url(a.png)\">x</p>",
                                 "<style type=\"text/css\">/* url(c.png) */ p { background: url('b.png') }</style>")}},
       {"RSC-007 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml"},
       {"\"b.png\"", "\"a.png\""}},
      {"a document listed twice is read once; media types are read without case or parameters",
       {{"OEBPS/c1.xhtml", xhtml("<p><a href=\"gone.xhtml\">x</a></p>"), "Application/XHTML+XML; charset=utf-8"},
        {"OEBPS/c1.xhtml", "", kXhtml, false}},
       {"RSC-007 OEBPS/c1.xhtml"}},
      {"white space around a reference is not part of it",
       {{"OEBPS/c1.xhtml", xhtml("<p id=\"a\"><a href=\" #a \">x</a><a href=\"\n gone.xhtml \">y</a></p>")}},
       {"RSC-007 OEBPS/c1.xhtml"},
       {"\"gone.xhtml\""}},
  };
  for (const sBookCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<sFinding> findings = checkBook(c.files);
    EXPECT_EQ(summarize(findings), c.expected);
    for (std::size_t i = 0; i < c.namedInOrder.size() && i < findings.size(); ++i)
      EXPECT_NE(findings[i].message.find(c.namedInOrder[i]), std::string::npos) << findings[i].message;
  }
}

TEST(ContentCheck, MessagesNameTheReferenceAsWrittenAndItsTarget) {
  const std::vector<sFinding> findings =
      checkBook({{"OEBPS/text/c1.xhtml", xhtml("<p><a href=\"../gone%20page.xhtml\">x</a><a href=\"#nope\">y</a>")}});
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_EQ(findings[0].message,
            "The reference \"../gone%20page.xhtml\" names OEBPS/gone page.xhtml, which is not in the book.");
  EXPECT_EQ(findings[1].message,
            "The reference \"#nope\" names the fragment \"nope\", which is no id in OEBPS/text/c1.xhtml.");
  EXPECT_EQ(findings[2].message, "The document is not well-formed XML: mismatched tag (line 4, column 3).");
  EXPECT_EQ(findings[2].severity, eSeverity::Error);
}

TEST(ContentCheck, OtherReferencesAreCheckedOnceAfterTheirSourceDocument) {
  const std::vector<sFile> files = {
      {"OEBPS/nav.xhtml", xhtml("<nav><a href=\"c1.xhtml#gone\">x</a><a href=\"c1.xhtml#in\">y</a></nav>")},
      {"OEBPS/c1.xhtml", xhtml("<p id=\"in\"><a href=\"#nope\">x</a></p>")},
  };
  const std::vector<sBookReference> others = {
      {"OEBPS/nav.xhtml", "c1.xhtml#gone", resolveReference("OEBPS/nav.xhtml", "c1.xhtml#gone")},
      {"OEBPS/nav.xhtml", "c1.xhtml#in", resolveReference("OEBPS/nav.xhtml", "c1.xhtml#in")},
      {"OEBPS/toc.ncx", "c1.xhtml#ncx-gone", resolveReference("OEBPS/toc.ncx", "c1.xhtml#ncx-gone")},
      {"OEBPS/toc.ncx", "gone.xhtml#a", resolveReference("OEBPS/toc.ncx", "gone.xhtml#a")},
      {"OEBPS/toc.ncx", "http://example.com/#a", resolveReference("OEBPS/toc.ncx", "http://example.com/#a")},
  };
  const std::vector<sFinding> findings = checkBook(files, others);
  EXPECT_EQ(summarize(findings),
            (std::vector<std::string>{"RSC-012 OEBPS/nav.xhtml", "RSC-012 OEBPS/c1.xhtml", "RSC-012 OEBPS/toc.ncx"}));
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_NE(findings[0].message.find("\"c1.xhtml#gone\""), std::string::npos);
  EXPECT_NE(findings[2].message.find("\"c1.xhtml#ncx-gone\""), std::string::npos);
}

// A document that expat would have to hold whole is given up with a warning;
// an image of a few MiB as a data: URL is read through.
TEST(ContentCheck, OneHugePieceOfMarkupIsNotHeldInMemory) {
  const std::string image = "<img alt=\"\" src=\"data:image/png;base64," + std::string(3 << 20, 'A') + "\"/>";
  for (const bool stored : {true, false}) {
    SCOPED_TRACE(stored);
    const std::vector<sFinding> fine = checkBook(
        {{"OEBPS/c1.xhtml", xhtml("<p>" + image + "<img src=\"gone.png\" alt=\"\"/></p>"), kXhtml, true, stored}});
    EXPECT_EQ(summarize(fine), (std::vector<std::string>{"RSC-007 OEBPS/c1.xhtml"}));
  }

  std::string page = xhtml("<p><img src=\"gone.png\" alt=\"\"/><p title=\"" + std::string(6 << 20, 'a') +
                           "\">x</p><img src=\"after.png\" alt=\"\"/></p>");
  const std::vector<sFinding> findings = checkBook({{"OEBPS/c1.xhtml", std::move(page), kXhtml, true, true}});
  EXPECT_EQ(summarize(findings),
            (std::vector<std::string>{"RSC-007 OEBPS/c1.xhtml", "PLM-008 warning OEBPS/c1.xhtml"}));
}

// Many chapters linking forward and back: ids of chapters not yet read are
// waited for, and the findings keep the chapters' order whatever the threads.
TEST(ContentCheck, ABigBookGivesTheSameFindingsOnAnyNumberOfThreads) {
  constexpr int kChapters = 2000;
  std::vector<sFile> files;
  for (int i = 0; i < kChapters; ++i) {
    const int next = (i + 1) % kChapters;
    const int previous = (i + kChapters - 1) % kChapters;
    std::string body = "<h1 id=\"h" + std::to_string(i) + "\">c</h1><p><a href=\"c" + std::to_string(next) +
                       ".xhtml#h" + std::to_string(next) + "\">next</a><a href=\"c" + std::to_string(previous) +
                       ".xhtml#h" + std::to_string(previous) + "\">back</a></p>";
    // Every 100th chapter links to an id that its neighbour lacks, every
    // 250th to a page that is not there.
    if (i % 100 == 7) body += "<p><a href=\"c" + std::to_string(next) + ".xhtml#lost\">x</a></p>";
    if (i % 250 == 3) body += "<p><img src=\"gone" + std::to_string(i) + ".png\" alt=\"\"/></p>";
    files.push_back({"OEBPS/c" + std::to_string(i) + ".xhtml", xhtml(body)});
  }
  std::vector<std::string> expected;
  for (int i = 0; i < kChapters; ++i) {
    if (i % 100 == 7) expected.push_back("RSC-012 OEBPS/c" + std::to_string(i) + ".xhtml");
    if (i % 250 == 3) expected.push_back("RSC-007 OEBPS/c" + std::to_string(i) + ".xhtml");
  }
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(summarize(checkBook(files, {}, threads)), expected);
  }
}

// A document far larger than the check's memory bound is read piece by piece.
TEST(ContentCheck, ADocumentLargerThanTheMemoryBoundIsReadInPieces) {
  std::string body;
  body.reserve(std::size_t{73} << 20);
  const std::string paragraph = "<p id=\"p\">" + std::string(1000, 'x') + "</p>\n";
  while (body.size() < (std::size_t{72} << 20)) body += paragraph;
  body += "<a href=\"#p\">ok</a><a href=\"#end\">x</a><img src=\"gone.png\" alt=\"\"/>";
  // Stored, so that the test need not deflate it: the pieces are the same.
  const std::vector<sFinding> findings = checkBook({{"OEBPS/c1.xhtml", xhtml(body), kXhtml, true, true}});
  EXPECT_EQ(summarize(findings), (std::vector<std::string>{"RSC-012 OEBPS/c1.xhtml", "RSC-007 OEBPS/c1.xhtml"}));
}

// ---- The stylesheet scanner --------------------------------------------------------

std::vector<std::string> urlsOf(std::string_view css, bool oneCharacterAtATime) {
  std::vector<std::string> urls;
  cCssUrlScanner scanner([&urls](std::string_view url) { urls.emplace_back(url); });
  if (oneCharacterAtATime)
    for (const char c : css) scanner.feed(std::string_view(&c, 1));
  else
    scanner.feed(css);
  scanner.finish();
  return urls;
}

TEST(CssUrls, FindsUrlsAndImportsAndSkipsCommentsAndStrings) {
  const struct {
    const char* css;
    std::vector<std::string> urls;
  } cases[] = {
      {"p { background: url(a.png) }", {"a.png"}},
      {"p { background: url( \"b c.png\" ) }", {"b c.png"}},
      {"p { background: URL('d.png') }", {"d.png"}},
      {"p { background: url(  e.png  ) }", {"e.png"}},
      {"@import \"f.css\";", {"f.css"}},
      {"@import 'g.css' screen;", {"g.css"}},
      {"@IMPORT url(h.css);", {"h.css"}},
      {"@import url(\"i.css\") print;", {"i.css"}},
      {"/* url(no.png) @import \"no.css\"; */ p{}", {}},
      {"/* a * / url(still-comment.png) **/ url(j.png)", {"j.png"}},
      {"a::after { content: \"url(no.png)\" } b::after { content: 'it\\'s url(no.png)' }", {}},
      {"p { content: \"a\" } q { background: url(k.png) }", {"k.png"}},
      {"p { font-family: \"x\"; } @media print { p { background: url(l.png) } }", {"l.png"}},
      {"myurl(no.png) x-url(no.png)", {}},
      {"p { background: url(\\6D .png) }", {"m.png"}},
      {"p { background: url(\"n\\\"o.png\") }", {"n\"o.png"}},
      {"p { background: url(\"\\1F600.png\") }", {"\xF0\x9F\x98\x80.png"}},
      {"p { background: url(bad url.png) } q { background: url(o.png) }", {"o.png"}},
      {"p { background: url(bad\"url.png) } q { background: url(p.png) }", {"p.png"}},
      {"p { content: \"broken\n } q { background: url(q.png) }", {"q.png"}},
      {"p { content: \"broken\n\" } q { background: url(no.png) }", {}},
      {"p { background: url() } q { background: url(\"\") }", {}},
      {"@import\"r.css\";p{content:\"s.css\"}", {"r.css"}},
      {"p { background: url(t.png", {"t.png"}},
      {"p { background: url(data:image/png;base64,AAAA) }", {"data:image/png;base64,AAAA"}},
      {"p{}/", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.css);
    EXPECT_EQ(urlsOf(c.css, false), c.urls);
    EXPECT_EQ(urlsOf(c.css, true), c.urls);
  }
}

}  // namespace
}  // namespace plimsy
