// META-INF/container.xml read with the XML parser: well-formedness as XML
// 1.0 defines it, the encodings a container may use, the rootfiles of the
// container namespace, and documents made to hurt a reader (entities from
// outside, expansion bombs, huge tags).

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/container_xml.h"
#include "engine/xml_reader.h"
#include "support/temp_dir.h"

namespace plimsy {
namespace {

const std::string kNs = std::string(kContainerNamespace);
const std::string kRootfile =
    "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>";

// A container.xml around `inner` (inside <rootfiles>), after `prolog`.
std::string container(const std::string& inner, const std::string& prolog = "<?xml version=\"1.0\"?>\n",
                      const std::string& nsAttribute = " xmlns=\"" + kNs + "\"") {
  return prolog + "<container version=\"1.0\"" + nsAttribute + ">\n<rootfiles>\n" + inner +
         "\n</rootfiles>\n</container>\n";
}

// The same, cut off after the rootfile.
std::string unclosed(const std::string& prolog = "<?xml version=\"1.0\"?>\n") {
  return prolog + "<container version=\"1.0\" xmlns=\"" + kNs + "\">\n<rootfiles>\n" + kRootfile + "\n";
}

// UTF-16 of ASCII-and-Latin-1 text written as UTF-8, with a byte-order mark.
std::string utf16(const std::string& utf8, bool bigEndian, bool mark = true) {
  std::u32string chars;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      chars += static_cast<char32_t>(b);
    } else {  // two-byte sequences only
      chars += static_cast<char32_t>(((b & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
      ++i;
    }
  }
  if (mark) chars.insert(chars.begin(), U'\xFEFF');
  std::string out;
  for (const char32_t c : chars) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

// Entities each ten times the one before: 10^9 copies of "ha" in all.
std::string laughs(const std::string& use) {
  std::string dtd = "<!DOCTYPE container [<!ENTITY l0 \"ha\">";
  for (int i = 1; i <= 9; ++i) {
    dtd += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) dtd += "&l" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  return container(use, "<?xml version=\"1.0\"?>\n" + dtd + "]>\n");
}

// One rootfile element with `count` more attributes; the last one repeats
// the first when `repeat`.
std::string manyAttributes(std::size_t count, bool repeat) {
  std::string tag = "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"";
  for (std::size_t i = 0; i < count; ++i) tag += " a" + std::to_string(i) + "=\"\"";
  if (repeat) tag += " a0=\"\"";
  return container(tag + "/>");
}

TEST(ContainerXml, ReadsWhatXmlAllowsAndRefusesTheRest) {
  const std::string latin1Comment = "<!-- caf\xE9 -->";  // é in ISO-8859-1
  const struct {
    const char* what;
    std::string text;
    bool wellFormed;
    std::vector<std::string> fullPaths;  // of the rootfiles read
    std::string refusedEncoding = "";
    const char* problem = "";  // a part of the parser's reason
    bool unread = false;       // rootfiles not looked for
  } cases[] = {
      {"sound", container(kRootfile), true, {"OEBPS/content.opf"}},
      {"byte-order mark", "\xEF\xBB\xBF" + container(kRootfile), true, {"OEBPS/content.opf"}},
      {"no declaration", container(kRootfile, ""), true, {"OEBPS/content.opf"}},
      {"lower-case utf-8",
       container(kRootfile, "<?xml version=\"1.0\" encoding=\"utf-8\"?>"),
       true,
       {"OEBPS/content.opf"}},
      {"UTF-16LE",
       utf16(container(kRootfile, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"), false),
       true,
       {"OEBPS/content.opf"}},
      {"UTF-16BE, a non-ASCII path",
       utf16(container("<rootfile full-path=\"OEBPS/caf\xC3\xA9.opf\" media-type=\"application/oebps-package+xml\"/>",
                       "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"),
             true),
       true,
       {"OEBPS/caf\xC3\xA9.opf"}},
      {"UTF-16LE without a mark, declared UTF-16LE",
       utf16(container(kRootfile, "<?xml version=\"1.0\" encoding=\"UTF-16LE\"?>"), false, false),
       true,
       {"OEBPS/content.opf"}},
      {"UTF-16BE without a declaration", utf16(container(kRootfile, ""), true), true, {"OEBPS/content.opf"}},
      {"an internal entity in full-path",
       container("<rootfile full-path=\"&p;\" media-type=\"application/oebps-package+xml\"/>",
                 "<!DOCTYPE container [<!ENTITY p \"OEBPS/content.opf\">]>\n"),
       true,
       {"OEBPS/content.opf"}},
      {"']' and '>' inside an entity value",
       container("<rootfile full-path=\"&p;\" media-type=\"application/oebps-package+xml\"/>",
                 "<!DOCTYPE container [<!ENTITY q \"a]>b\"><!ENTITY p \"OEBPS/&q;.opf\">]>\n"),
       true,
       {"OEBPS/a]>b.opf"}},
      {"references in full-path",
       container("<rootfile full-path=\"OEBPS/content&#46;opf&amp;\" media-type=\"application/oebps-package+xml\"/>"),
       true,
       {"OEBPS/content.opf&"}},
      {"rootfile with a prefix bound to the namespace",
       container("<c:rootfile xmlns:c=\"" + kNs +
                 "\" full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"),
       true,
       {"OEBPS/content.opf"}},
      {"rootfile of the namespace under a foreign root",
       "<other xmlns:c=\"" + kNs + "\"><c:rootfile full-path=\"x.opf\" media-type=\"m\"/></other>",
       true,
       {"x.opf"}},
      {"container in another namespace", container(kRootfile, "", " xmlns=\"urn:example:other\""), true, {}},
      {"container in no namespace", container(kRootfile, "", ""), true, {}},
      {"rootfile in another namespace",
       container("<o:rootfile xmlns:o=\"urn:example:o\" full-path=\"x.opf\" media-type=\"m\"/>"),
       true,
       {}},
      {"a prefixed full-path is not the full-path",
       container("<rootfile xmlns:c=\"" + kNs + "\" c:full-path=\"x.opf\" media-type=\"m\"/>"),
       true,
       {""}},
      {"ISO-8859-1, read all the same",
       container(kRootfile + latin1Comment, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"),
       true,
       {"OEBPS/content.opf"},
       "ISO-8859-1"},
      {"US-ASCII",
       container(kRootfile, "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>"),
       true,
       {"OEBPS/content.opf"},
       "US-ASCII"},
      {"windows-1252, which the parser cannot read",
       container(kRootfile, "<?xml version=\"1.0\" encoding=\"windows-1252\"?>"),
       true,
       {},
       "windows-1252",
       "",
       true},
      {"ISO-8859-1, not closed after the rootfile",
       unclosed("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"),
       false,
       {"OEBPS/content.opf"},
       "ISO-8859-1"},
      // Not well-formed.
      {"white space before the declaration",
       container(kRootfile, " \n<?xml version=\"1.0\"?>"),
       false,
       {},
       "",
       "XML or text declaration not at start of entity"},
      {"a second declaration",
       container(kRootfile, "<?xml version=\"1.0\"?>\n<?xml version=\"1.0\"?>"),
       false,
       {},
       "",
       "XML or text declaration not at start of entity"},
      {"a control character in an attribute",
       container("<rootfile id=\"a\x01"
                 "b\" full-path=\"x\" media-type=\"m\"/>"),
       false,
       {},
       "",
       "invalid token"},
      {"a control character in a comment",
       container("<!-- a\x01"
                 "b -->" +
                 kRootfile),
       false,
       {},
       "",
       "invalid token"},
      {"a raw U+FFFE",
       container("<!-- a\xEF\xBF\xBE"
                 "b -->" +
                 kRootfile),
       false,
       {},
       "",
       "invalid token"},
      {"an unbound prefix",
       container("<x:rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"),
       false,
       {},
       "",
       "unbound prefix"},
      {"declared UTF-16, written in UTF-8",
       container(kRootfile, "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"),
       false,
       {},
       "",
       "encoding"},
      {"not closed after the rootfile", unclosed(), false, {"OEBPS/content.opf"}, "", "no element found"},
      {"a duplicate attribute after the rootfile",
       container(kRootfile + "<x a=\"1\" a=\"2\"/>"),
       false,
       {"OEBPS/content.opf"},
       "",
       "duplicate attribute"},
      {"an undeclared entity",
       container("<rootfile full-path=\"&p;\" media-type=\"m\"/>"),
       false,
       {},
       "",
       "undefined entity"},
      {"an external entity in an attribute",
       container("<rootfile full-path=\"&p;\" media-type=\"m\"/>",
                 "<!DOCTYPE container [<!ENTITY p SYSTEM \"file:///etc/hostname\">]>\n"),
       false,
       {},
       "",
       "external entity"},
      {"empty", "", false, {}, "", "no element found"},
      {"UTF-16 cut in the middle of a character", utf16(container(kRootfile), false).substr(0, 41), false, {}, "", ""},
  };
  for (const auto& c : cases) {
    const sContainerXml xml = readContainerXml(c.text);
    EXPECT_EQ(xml.wellFormed, c.wellFormed) << c.what << ": " << xml.problem;
    EXPECT_EQ(xml.wellFormed, xml.problem.empty()) << c.what;
    EXPECT_NE(xml.problem.find(c.problem), std::string::npos) << c.what << ": " << xml.problem;
    EXPECT_EQ(xml.line > 0, !xml.wellFormed) << c.what;
    EXPECT_EQ(xml.refusedEncoding, c.refusedEncoding) << c.what;
    EXPECT_EQ(xml.rootfilesUnread, c.unread) << c.what;
    std::vector<std::string> fullPaths;
    for (const sRootfile& r : xml.rootfiles) fullPaths.push_back(r.fullPath);
    EXPECT_EQ(fullPaths, c.fullPaths) << c.what;
  }
}

TEST(ContainerXml, ErrorsSayLineAndColumn) {
  const struct {
    std::string text;
    std::size_t line, column;
  } cases[] = {
      {"<container>\n  <a></b>", 2, 8},  // at the name in the end tag
      {"<container>\r\n<a>\r\n\xC3\xA9\xC3\xA9<b></a>", 3, 8},  // columns count characters
      {"<a>\n\n<b", 3, 1},
  };
  for (const auto& c : cases) {
    const sContainerXml xml = readContainerXml(c.text);
    EXPECT_FALSE(xml.wellFormed) << c.text;
    EXPECT_EQ(xml.line, c.line) << c.text << ": " << xml.problem;
    EXPECT_EQ(xml.column, c.column) << c.text << ": " << xml.problem;
  }
}

// No entity from outside the document is read, whether it stands in the
// text, in an attribute or in the DTD.
TEST(ContainerXml, NeverReadsAnEntityFromOutside) {
  test::TempDir dir;
  const std::filesystem::path secret = dir.path() / "secret.txt";
  const std::filesystem::path dtd = dir.path() / "entities.dtd";
  test::writeFile(secret, "SECRET");
  test::writeFile(dtd, "<!ENTITY p \"SECRET\">");
  const std::string secretUri = "file://" + secret.generic_string();
  const std::string dtdUri = "file://" + dtd.generic_string();

  const std::string cases[] = {
      container(kRootfile + "<x>&p;</x>", "<!DOCTYPE container [<!ENTITY p SYSTEM \"" + secretUri + "\">]>\n"),
      container("<rootfile full-path=\"&p;\" media-type=\"m\"/>",
                "<!DOCTYPE container [<!ENTITY % e SYSTEM \"" + dtdUri + "\"> %e;]>\n"),
      container("<rootfile full-path=\"&p;\" media-type=\"m\"/>", "<!DOCTYPE container SYSTEM \"" + dtdUri + "\">\n"),
  };
  struct cEverything : cXmlHandler {
    std::string seen;
    void startElement(const sXmlName& name, std::span<const sXmlAttribute> attributes) override {
      seen += std::string(name.local) + " ";
      for (const sXmlAttribute& a : attributes) seen += std::string(a.value) + " ";
    }
    void text(std::string_view piece) override { seen += piece; }
  };
  for (const std::string& text : cases) {
    cEverything everything;
    parseXml(text, everything);
    EXPECT_EQ(everything.seen.find("SECRET"), std::string::npos) << text;
    const sContainerXml xml = readContainerXml(text);
    for (const sRootfile& r : xml.rootfiles) EXPECT_EQ(r.fullPath.find("SECRET"), std::string::npos) << text;
  }
}

TEST(ContainerXml, RefusesEntityExpansionBombs) {
  for (const std::string& text :
       {laughs(kRootfile + "<x>&l9;</x>"), laughs("<rootfile full-path=\"&l9;\" media-type=\"m\"/>")}) {
    const sContainerXml xml = readContainerXml(text);
    EXPECT_FALSE(xml.wellFormed);
    EXPECT_NE(xml.problem.find("amplification"), std::string::npos) << xml.problem;
  }
}

// A tag of 300,000 attributes (a few MB, inside the size container.xml may
// have): duplicates are looked for in one pass.
TEST(ContainerXml, HugeTagIsReadWhole) {
  const sContainerXml distinct = readContainerXml(manyAttributes(300000, false));
  EXPECT_TRUE(distinct.wellFormed) << distinct.problem;
  ASSERT_EQ(distinct.rootfiles.size(), 1u);
  EXPECT_EQ(distinct.rootfiles[0].fullPath, "OEBPS/content.opf");

  const sContainerXml repeated = readContainerXml(manyAttributes(300000, true));
  EXPECT_FALSE(repeated.wellFormed);
  EXPECT_NE(repeated.problem.find("duplicate attribute"), std::string::npos) << repeated.problem;
}

}  // namespace
}  // namespace plimsy
