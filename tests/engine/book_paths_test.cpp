#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/book_paths.h"
#include "engine/xml_reader.h"

namespace plimsy {
namespace {

struct sReferenceRow {
  const char* base;
  const char* reference;
  eReferenceKind kind;
  const char* entry;
  const char* fragment;
};

TEST(BookPaths, ReferencesResolveToEntryNames) {
  using enum eReferenceKind;
  const sReferenceRow rows[] = {
      {"OEBPS/text/ch1.xhtml", "ch2.xhtml", InBook, "OEBPS/text/ch2.xhtml", ""},
      {"OEBPS/text/ch1.xhtml", "../images/a%20b.png", InBook, "OEBPS/images/a b.png", ""},
      {"OEBPS/text/ch1.xhtml", "#note-1", InBook, "OEBPS/text/ch1.xhtml", "note-1"},
      {"OEBPS/text/ch1.xhtml", "", InBook, "OEBPS/text/ch1.xhtml", ""},
      {"OEBPS/text/ch1.xhtml", "./x/../ch3.xhtml?v=2#s%C3%A9", InBook, "OEBPS/text/ch3.xhtml", "s\xC3\xA9"},
      {"content.opf", "text/ch1.xhtml", InBook, "text/ch1.xhtml", ""},
      {"OEBPS/content.opf", "../META-INF/x.xml", InBook, "META-INF/x.xml", ""},
      {"OEBPS/content.opf", "../../x.xml", Outside, "", ""},
      {"OEBPS/content.opf", "/OEBPS/x.xml", Outside, "", ""},
      {"OEBPS/content.opf", "//host/x.xml", Outside, "", ""},
      {"OEBPS/content.opf", "https://example.org/a#b", Remote, "", ""},
      {"OEBPS/content.opf", "mailto:someone@example.org", Remote, "", ""},
      {"OEBPS/content.opf", "data:image/png;base64,AAAA", Remote, "", ""},
      {"OEBPS/content.opf", "a%2", Invalid, "", ""},
      {"OEBPS/content.opf", "a%zz.xhtml", Invalid, "", ""},
      {"OEBPS/content.opf", "a%00.xhtml", Invalid, "", ""},
      // A colon after a slash is part of a path, not a scheme.
      {"OEBPS/content.opf", "text/a:b.xhtml", InBook, "OEBPS/text/a:b.xhtml", ""},
  };
  for (const sReferenceRow& row : rows) {
    const sResolvedReference got = resolveReference(row.base, row.reference);
    EXPECT_EQ(got.kind, row.kind) << row.reference;
    if (row.kind != InBook) continue;
    EXPECT_EQ(got.entry, row.entry) << row.reference;
    EXPECT_EQ(got.fragment, row.fragment) << row.reference;
  }
}

// Collects what the parser hands over, one line per event.
class cEventLog : public cXmlHandler {
 public:
  std::string log;
  void startElement(const sXmlName& name, std::span<const sXmlAttribute> attributes) override {
    log += "<{" + std::string(name.ns) + "}" + std::string(name.local);
    for (const sXmlAttribute& a : attributes)
      log += " {" + std::string(a.name.ns) + "}" + std::string(a.name.local) + "=" + std::string(a.value);
    log += ">";
  }
  void endElement(const sXmlName& name) override { log += "</" + std::string(name.local) + ">"; }
  void text(std::string_view piece) override { log += piece; }
};

TEST(XmlReader, DocumentsFedInAnyPiecesGiveTheSameEvents) {
  const std::string document =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE p [<!ENTITY who \"the &amp; world\">]>"
      "<p xmlns=\"urn:a\" xmlns:x=\"urn:x\" x:id=\"1\" plain=\"&who;\">hello &who;<x:b/></p>";
  cEventLog whole;
  ASSERT_TRUE(parseXml(document, whole));
  EXPECT_EQ(whole.log, "<{urn:a}p {urn:x}id=1 {}plain=the & world>hello the & world<{urn:x}b></b></p>");
  for (std::size_t size : {1u, 2u, 7u}) {
    cEventLog pieces;
    cXmlParser parser(pieces);
    for (std::size_t at = 0; at < document.size(); at += size)
      ASSERT_TRUE(parser.feed(std::string_view(document).substr(at, size), false));
    ASSERT_TRUE(parser.feed(std::string_view(), true));
    EXPECT_EQ(pieces.log, whole.log) << size;
  }
}

struct sRefusalRow {
  const char* what;
  std::string document;
  const char* problem;  // the start of expat's description
  std::size_t line;
};

TEST(XmlReader, RefusesWhatIsNotWellFormedAndSaysWhere) {
  std::string laughs = "<!DOCTYPE l [<!ENTITY a0 \"lol\">";
  for (int i = 1; i < 12; ++i)
    laughs += "<!ENTITY a" + std::to_string(i) + " \"" + [&] {
      std::string s;
      for (int k = 0; k < 10; ++k) s += "&a" + std::to_string(i - 1) + ";";
      return s;
    }() + "\">";
  laughs += "]>\n<l>&a11;</l>";
  const sRefusalRow rows[] = {
      {"unclosed", "<a>\n<b></a>", "mismatched tag", 2},
      {"space before the declaration", " <?xml version=\"1.0\"?><a/>", "XML or text declaration not at start", 1},
      {"unbound prefix", "<a>\n<x:b/></a>", "unbound prefix", 2},
      {"control character", "<a b=\"\x01\"/>", "not well-formed", 1},
      {"undefined entity", "<a>&nope;</a>", "undefined entity", 1},
      {"billion laughs", laughs, "limit on input amplification", 2},
  };
  for (const sRefusalRow& row : rows) {
    cEventLog events;
    sXmlError error;
    EXPECT_FALSE(parseXml(row.document, events, &error)) << row.what;
    EXPECT_EQ(error.problem.rfind(row.problem, 0), 0u) << row.what << ": " << error.problem;
    EXPECT_EQ(error.line, row.line) << row.what;
  }
}

TEST(XmlReader, NeverReadsAnExternalEntity) {
  cEventLog events;
  EXPECT_TRUE(parseXml("<!DOCTYPE a [<!ENTITY e SYSTEM \"/etc/hostname\">]><a>[&e;]</a>", events));
  EXPECT_EQ(events.log, "<{}a>[]</a>");
}

TEST(XmlReader, AHandlerStopsTheParseWithItsReason) {
  struct cStopAtB : cEventLog {
    cXmlParser* parser = nullptr;
    void startElement(const sXmlName& name, std::span<const sXmlAttribute>) override {
      if (name.local == "b") parser->stop("b is not allowed");
    }
  } handler;
  cXmlParser parser(handler);
  handler.parser = &parser;
  EXPECT_FALSE(parser.feed("<a>\n\n<b/></a>", true));
  EXPECT_EQ(describeXmlError(parser.error()), "b is not allowed (line 3, column 1)");
}

}  // namespace
}  // namespace plimsy
