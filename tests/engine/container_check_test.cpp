// The container check: a sound small book, damaged one way at a time, must
// give exactly the findings that damage calls for and nothing else.

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/container_check.h"
#include "engine/container_xml.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"
#include "tests/support/findings_summary.h"

namespace plimsy {
namespace {

using test::ArchiveLayout;
using test::ArchivePlan;
using test::deflatedEntry;
using test::storedEntry;

constexpr std::size_t kMimetype = 0;
constexpr std::size_t kContainer = 1;
constexpr std::size_t kChapter = 2;
constexpr std::size_t kPackage = 3;

ArchivePlan soundBook() {
  ArchivePlan plan = test::smallEpubPlan();
  plan.entries.push_back(deflatedEntry("OEBPS/content.opf", "<package/>\n"));
  return plan;
}

void withContainer(ArchivePlan& plan, std::string_view xml) {
  plan.entries[kContainer] = deflatedEntry("META-INF/container.xml", xml);
}

std::string rootfileXml(std::string_view attributes) {
  return "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile " +
         std::string(attributes) + "/></rootfiles></container>";
}

void addFile(ArchivePlan& plan, std::string name) { plan.entries.push_back(storedEntry(std::move(name), "x")); }

// An extra-field sub-field that claims 10 bytes of data and holds 2.
const std::string kOverrunningExtra = test::le16(0xCAFE) + test::le16(10) + "ab";

// A file of nothing but an end record that announces no entries.
std::string endRecordOnly() {
  Ecd ecd;
  ecd.setSignature(kEcdSignature);
  return test::bytesOf(ecd);
}

void setFlags(test::EntryPlan& entry, std::uint16_t flags) {
  entry.editLfh = [flags](Lfh& h) { h.setGeneralFlags(flags); };
  entry.editCdr = [flags](Cdr& c) { c.setGeneralFlags(flags); };
}

using test::summarize;

std::vector<sFinding> check(const std::string& archive, bool deep) {
  sContainerCheckOptions options;
  options.deep = deep;
  options.threads = 2;
  return checkContainer(std::span(reinterpret_cast<const std::uint8_t*>(archive.data()), archive.size()), options);
}

TEST(ContainerCheck, EachDamageGivesItsFindingsAndNoOthers) {
  using PlanEdit = std::function<void(ArchivePlan&)>;
  using ByteEdit = std::function<void(std::string&, const ArchiveLayout&)>;
  const struct {
    const char* damage;
    PlanEdit plan;
    ByteEdit bytes;
    std::vector<std::string> expected;  // sorted
    bool deep = false;
    const char* detail = "";  // a part of every finding's message
  } cases[] = {
      {"none", nullptr, nullptr, {}},
      {"none, deep", nullptr, nullptr, {}, true},
      {"mimetype second",
       [](ArchivePlan& p) { std::swap(p.entries[kMimetype], p.entries[kContainer]); },
       nullptr,
       {"PKG-006 error mimetype"}},
      {"mimetype missing",
       [](ArchivePlan& p) { p.entries.erase(p.entries.begin()); },
       nullptr,
       {"PKG-006 error mimetype"}},
      {"mimetype deflated",
       [](ArchivePlan& p) { p.entries[kMimetype] = deflatedEntry("mimetype", "application/epub+zip"); },
       nullptr,
       {"PKG-007 error mimetype"}},
      {"mimetype extra field",
       [](ArchivePlan& p) { p.entries[kMimetype].lfhExtra = test::extraRecord(0xCAFE, "ab"); },
       nullptr,
       {"PKG-005 error mimetype"}},
      {"mimetype line feed",
       [](ArchivePlan& p) { p.entries[kMimetype] = storedEntry("mimetype", "application/epub+zip\n"); },
       nullptr,
       {"PKG-007 error mimetype"}},
      {"mimetype second, with a line feed",
       [](ArchivePlan& p) {
         p.entries[kMimetype] = storedEntry("mimetype", "application/epub+zip\n");
         std::swap(p.entries[kMimetype], p.entries[kContainer]);
       },
       nullptr,
       {"PKG-006 error mimetype", "PKG-007 error mimetype"}},
      {"mimetype last, deflated, other text",
       [](ArchivePlan& p) {
         p.entries.erase(p.entries.begin());
         p.entries.push_back(deflatedEntry("mimetype", "application/zip"));
       },
       nullptr,
       {"PKG-006 error mimetype", "PKG-007 error mimetype"}},
      {"mimetype second, deflated, with an extra field, its text exact",
       [](ArchivePlan& p) {
         p.entries[kMimetype] = deflatedEntry("mimetype", "application/epub+zip");
         p.entries[kMimetype].lfhExtra = test::extraRecord(0xCAFE, "ab");
         std::swap(p.entries[kMimetype], p.entries[kContainer]);
       },
       nullptr,
       {"PKG-006 error mimetype"}},
      {"mimetype with a data descriptor",
       [](ArchivePlan& p) { setFlags(p.entries[kMimetype], 0x0008); },
       nullptr,
       {"PLM-001 warning mimetype"}},
      {"no container.xml",
       [](ArchivePlan& p) { p.entries.erase(p.entries.begin() + kContainer); },
       nullptr,
       {"RSC-002 error META-INF/container.xml"}},
      {"container.xml not closed",
       [](ArchivePlan& p) { withContainer(p, "<container><rootfiles>"); },
       nullptr,
       {"RSC-003 error META-INF/container.xml", "RSC-016 error META-INF/container.xml"}},
      {"no rootfile",
       [](ArchivePlan& p) { withContainer(p, "<container><rootfiles/></container>"); },
       nullptr,
       {"RSC-003 error META-INF/container.xml"}},
      {"rootfile without full-path",
       [](ArchivePlan& p) { withContainer(p, rootfileXml("media-type=\"application/oebps-package+xml\"")); },
       nullptr,
       {"OPF-016 error META-INF/container.xml"}},
      {"rootfile with an empty full-path",
       [](ArchivePlan& p) {
         withContainer(p, rootfileXml("full-path=\"\" media-type=\"application/oebps-package+xml\""));
       },
       nullptr,
       {"OPF-017 error META-INF/container.xml"}},
      {"two container.xml, the second not well-formed",
       [](ArchivePlan& p) { p.entries.push_back(deflatedEntry("META-INF/container.xml", "<container>")); },
       nullptr,
       {"OPF-060 error META-INF/container.xml", "RSC-003 error META-INF/container.xml",
        "RSC-016 error META-INF/container.xml"}},
      {"two container.xml, the first without a full-path",
       [](ArchivePlan& p) {
         p.entries.insert(
             p.entries.begin() + kContainer,
             deflatedEntry("META-INF/container.xml", rootfileXml("media-type=\"application/oebps-package+xml\"")));
       },
       nullptr,
       {"OPF-016 error META-INF/container.xml", "OPF-060 error META-INF/container.xml"}},
      {"rootfile not in the archive",
       [](ArchivePlan& p) { p.entries.pop_back(); },
       nullptr,
       {"OPF-002 error META-INF/container.xml"}},
      {"rootfile path with a reference",
       [](ArchivePlan& p) {
         withContainer(p, rootfileXml("full-path='OEBPS/content&#46;opf' media-type='application/oebps-package+xml'"));
       },
       nullptr,
       {}},
      {"forbidden characters",
       [](ArchivePlan& p) {
         for (const char* name : {"OEBPS/a:b.txt", "OEBPS/a*b.txt", "OEBPS/c1\xC2\x85.txt", "OEBPS/tag\xF3\xA0\x80\x81",
                                  "OEBPS/pua\xEE\x80\x80.txt"})
           addFile(p, name);
       },
       nullptr,
       {"PKG-009 error OEBPS/a*b.txt", "PKG-009 error OEBPS/a:b.txt", "PKG-009 error OEBPS/c1\xC2\x85.txt",
        "PKG-009 error OEBPS/pua\xEE\x80\x80.txt", "PKG-009 error OEBPS/tag\xF3\xA0\x80\x81"}},
      {"names allowed outside ASCII",
       [](ArchivePlan& p) {
         for (const char* name : {"OEBPS/caf\xC3\xA9.txt", "OEBPS/\xCE\xBA\xCE\xB5\xCF\x86.txt", "OEBPS/#1%20[a].txt"})
           addFile(p, name);
       },
       nullptr,
       {}},
      {"name ending in a full stop, name with a space",
       [](ArchivePlan& p) {
         addFile(p, "OEBPS/end.");
         addFile(p, "OEBPS/a b.txt");
       },
       nullptr,
       {"PKG-010 warning OEBPS/a b.txt", "PKG-011 error OEBPS/end."}},
      {"name not UTF-8",
       [](ArchivePlan& p) { addFile(p, "OEBPS/\xFF\xFE.txt"); },
       nullptr,
       {"PKG-008 error OEBPS/\\xFF\\xFE.txt"}},
      {"unsafe names",
       [](ArchivePlan& p) {
         for (const char* name : {"../evil.txt", "/abs.txt", "OEBPS/..\\x.txt", "OEBPS/x..y/z.txt"}) addFile(p, name);
       },
       nullptr,
       {"PKG-009 error OEBPS/..\\x.txt", "PLM-002 error ../evil.txt", "PLM-002 error /abs.txt",
        "PLM-002 error OEBPS/..\\x.txt"}},
      {"duplicate",
       [](ArchivePlan& p) { addFile(p, "OEBPS/chapter1.xhtml"); },
       nullptr,
       {"OPF-060 error OEBPS/chapter1.xhtml"}},
      {"names equal but for case",
       [](ArchivePlan& p) {
         addFile(p, "OEBPS/CHAPTER1.xhtml");
         addFile(p, "OEBPS/\xC3\x89t\xC3\xA9.txt");  // Été
         addFile(p, "OEBPS/\xC3\xA9t\xC3\xA9.txt");  // été
       },
       nullptr,
       {"OPF-060 error OEBPS/CHAPTER1.xhtml", "OPF-060 error OEBPS/\xC3\xA9t\xC3\xA9.txt"}},
      {"names equal after normalization",
       [](ArchivePlan& p) {
         addFile(p, "OEBPS/caf\xC3\xA9.txt");       // é precomposed
         addFile(p, "OEBPS/cafe\xCC\x81.txt");      // e and a combining acute
         addFile(p, "OEBPS/\xCE\xB1\xCC\x81.txt");  // Greek small alpha and a combining acute
         addFile(p, "OEBPS/\xCE\x86.txt");          // Greek capital alpha with tonos
       },
       nullptr,
       {"OPF-061 warning OEBPS/cafe\xCC\x81.txt", "OPF-061 warning OEBPS/\xCE\x86.txt"}},
      {"Hangul names equal after normalization",
       [](ArchivePlan& p) {
         addFile(p, "OEBPS/\xED\x95\x9C.txt");                          // HANGUL SYLLABLE HAN (LVT)
         addFile(p, "OEBPS/\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB.txt");  // its jamo: L, V, T
         addFile(p, "OEBPS/\xED\x95\x98\xE1\x86\xAB.txt");              // HA (LV) and the trailing T
         addFile(p, "OEBPS/\xED\x95\x98.txt");                          // HA (LV)
         addFile(p, "OEBPS/\xE1\x84\x92\xE1\x85\xA1.txt");              // its jamo: L, V
         addFile(p, "OEBPS/\xED\x95\x99.txt");                          // HAG: another syllable
       },
       nullptr,
       {"OPF-061 warning OEBPS/\xE1\x84\x92\xE1\x85\xA1.txt",
        "OPF-061 warning OEBPS/\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB.txt",
        "OPF-061 warning OEBPS/\xED\x95\x98\xE1\x86\xAB.txt"}},
      {"empty folder",
       [](ArchivePlan& p) { p.entries.push_back(storedEntry("OEBPS/empty/", "")); },
       nullptr,
       {"PKG-014 warning OEBPS/empty/"}},
      {"extra field sub-field overruns, local header",
       [](ArchivePlan& p) { p.entries[kChapter].lfhExtra = kOverrunningExtra; },
       nullptr,
       {"PKG-008 error OEBPS/chapter1.xhtml"}},
      {"extra field sub-field overruns, central directory",
       [](ArchivePlan& p) { p.entries[kChapter].cdrExtra = kOverrunningExtra; },
       nullptr,
       {"PKG-008 error OEBPS/chapter1.xhtml"}},
      {"extra field ends in 3 bytes that hold no sub-field, both records",
       [](ArchivePlan& p) {
         p.entries[kPackage].lfhExtra = test::extraRecord(0xCAFE, "ab") + "xyz";
         p.entries[kPackage].cdrExtra = "xyz";
       },
       nullptr,
       {"PKG-008 error OEBPS/content.opf", "PKG-008 error OEBPS/content.opf"}},
      {"extra fields that add up",
       [](ArchivePlan& p) {
         p.entries[kChapter].lfhExtra = test::extraRecord(0xCAFE, "ab") + test::extraRecord(0x7875, "");
         p.entries[kChapter].cdrExtra = test::extraRecord(0xCAFE, "");
       },
       nullptr,
       {}},
      {"encrypted without encryption.xml",
       [](ArchivePlan& p) { setFlags(p.entries[kChapter], 0x0001); },
       nullptr,
       {"PKG-008 error OEBPS/chapter1.xhtml"}},
      {"encrypted beside encryption.xml",
       [](ArchivePlan& p) {
         setFlags(p.entries[kChapter], 0x0001);
         addFile(p, "META-INF/encryption.xml");
       },
       nullptr,
       {"PKG-008 error OEBPS/chapter1.xhtml"}},
      {"headers disagree on the CRC-32",
       [](ArchivePlan& p) { p.entries[kChapter].editLfh = [](Lfh& h) { h.setCrc(h.crc() ^ 1); }; },
       nullptr,
       {"PLM-005 error OEBPS/chapter1.xhtml"}},
      {"stored entry whose sizes differ",
       [](ArchivePlan& p) {
         p.entries[kPackage] = storedEntry("OEBPS/content.opf", "<package/>\n");
         p.entries[kPackage].uncompressedSize = 3;
       },
       nullptr,
       {"PLM-005 error OEBPS/content.opf"}},
      {"sizes past the end of the entries",
       [](ArchivePlan& p) {
         p.entries[kPackage].editLfh = [](Lfh& h) { h.setCompressedSize(1 << 20); };
         p.entries[kPackage].editCdr = [](Cdr& c) { c.setCompressedSize(1 << 20); };
       },
       nullptr,
       {"PLM-004 error OEBPS/content.opf"}},
      {"two records of one local header",
       [](ArchivePlan& p) { p.entries[kPackage].lfhName = "OEBPS/chapter1.xhtml"; },
       nullptr,
       {"PLM-005 error OEBPS/content.opf"}},
      {"entries that overlap",
       nullptr,
       [](std::string& bytes, const ArchiveLayout& at) {
         test::patchLe32(bytes, at.cdrOffsets[kPackage] + 42, static_cast<std::uint32_t>(at.lfhOffsets[kChapter]));
       },
       {"PLM-003 error OEBPS/content.opf", "PLM-005 error OEBPS/content.opf"}},
      {"CRC-32 wrong in both headers, deep",
       [](ArchivePlan& p) { p.entries[kChapter].crc ^= 1; },
       nullptr,
       {"PLM-006 error OEBPS/chapter1.xhtml"},
       true},
      {"deflated data damaged, deep",
       nullptr,
       [](std::string& bytes, const ArchiveLayout& at) {
         test::patchLe32(bytes, at.dataOffsets[kChapter], 0xFFFFFFFF);
       },
       {"PKG-008 error OEBPS/chapter1.xhtml"},
       true,
       "deflated data is damaged: invalid"},
      {"deflated data cut short, deep",
       [](ArchivePlan& p) { p.entries[kChapter].data.resize(p.entries[kChapter].data.size() / 2); },
       nullptr,
       {"PKG-008 error OEBPS/chapter1.xhtml"},
       true,
       "the data ends before the deflate stream does"},
      {"length wrong in both headers, deep",
       [](ArchivePlan& p) { p.entries[kChapter].uncompressedSize += 1; },
       nullptr,
       {"PLM-006 error OEBPS/chapter1.xhtml"},
       true},
      {"container.xml's data damaged",
       nullptr,
       [](std::string& bytes, const ArchiveLayout& at) {
         test::patchLe32(bytes, at.dataOffsets[kContainer], 0xFFFFFFFF);
       },
       {"PKG-008 error META-INF/container.xml"}},
      {"central directory cut off",
       nullptr,
       [](std::string& bytes, const ArchiveLayout& at) { bytes.resize(at.cdOffset + 10); },
       {"PKG-008 error "}},
      {"central directory cut off, mimetype wrong",
       [](ArchivePlan& p) { p.entries[kMimetype] = storedEntry("mimetype", "application/zip"); },
       [](std::string& bytes, const ArchiveLayout& at) { bytes.resize(at.cdOffset + 10); },
       {"PKG-007 error mimetype", "PKG-008 error "}},
      {"not a ZIP archive",
       nullptr,
       [](std::string& bytes, const ArchiveLayout&) {
         bytes = "This is a letter, not a book; it holds no ZIP at all.";
       },
       {"PKG-004 error ", "PKG-008 error "}},
      {"an end record only",
       nullptr,
       [](std::string& bytes, const ArchiveLayout&) { bytes = endRecordOnly(); },
       {"PKG-003 error ", "PKG-008 error ", "RSC-002 error META-INF/container.xml"}},
      {"shorter than a local header",
       nullptr,
       [](std::string& bytes, const ArchiveLayout&) { bytes.resize(12); },
       {"PKG-003 error ", "PKG-008 error "}},
  };
  for (const auto& c : cases) {
    ArchivePlan plan = soundBook();
    if (c.plan) c.plan(plan);
    ArchiveLayout layout;
    std::string archive = test::buildArchive(plan, &layout);
    if (c.bytes) c.bytes(archive, layout);
    const std::vector<sFinding> findings = check(archive, c.deep);
    EXPECT_EQ(summarize(findings), c.expected) << c.damage;
    for (const sFinding& f : findings) {
      EXPECT_FALSE(f.message.empty()) << c.damage << ": " << f.code;
      EXPECT_NE(f.message.find(c.detail), std::string::npos) << c.damage << ": " << f.message;
    }
  }
}

// container.xml's text against the codes epubcheck 4.2.6 gives for it (its
// schema errors, RSC-005, aside; each code once).
TEST(ContainerCheck, ContainerXmlTextGivesItsCodes) {
  const std::string ns = "urn:oasis:names:tc:opendocument:xmlns:container";
  const std::string rootfile =
      "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>";
  const std::string missing = "<rootfile full-path=\"OEBPS/gone.opf\" media-type=\"application/oebps-package+xml\"/>";
  const auto doc = [&ns](const std::string& inner, const std::string& prolog = "<?xml version=\"1.0\"?>\n",
                         const std::string& nsAttribute = "") {
    return prolog + "<container version=\"1.0\" xmlns=\"" + (nsAttribute.empty() ? ns : nsAttribute) +
           "\">\n<rootfiles>\n" + inner + "\n</rootfiles>\n</container>\n";
  };
  const auto cut = [&ns](const std::string& inner, const std::string& prolog = "<?xml version=\"1.0\"?>\n") {
    return prolog + "<container version=\"1.0\" xmlns=\"" + ns + "\">\n<rootfiles>\n" + inner + "\n";
  };
  const auto decl = [](const char* encoding) {
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding + "\"?>\n";
  };
  const auto utf16le = [](const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) out += std::string{c, '\0'};
    return out;
  };
  const auto utf16be = [](const std::string& ascii) {
    std::string out;
    for (const char c : ascii) out += std::string{'\0', c};
    return out;
  };
  const std::string internalEntity = "<rootfile full-path=\"&p;\" media-type=\"application/oebps-package+xml\"/>";
  std::string laughs = "<!DOCTYPE container [<!ENTITY l0 \"ha\">";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]>\n";
  std::string attributes;
  for (int i = 0; i < 300000; ++i) attributes += " a" + std::to_string(i) + "=\"\"";
  const std::string hugeTag =
      "<rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"" + attributes;

  const std::string fatal = "RSC-016 error META-INF/container.xml";
  const std::string noRootfile = "RSC-003 error META-INF/container.xml";
  const std::string encoding = "CSS-003 error META-INF/container.xml";
  const std::string notThere = "OPF-002 error META-INF/container.xml";
  const struct {
    const char* what;
    std::string text;
    std::vector<std::string> expected;  // sorted
  } cases[] = {
      {"sound", doc(rootfile), {}},
      {"UTF-16LE", utf16le(doc(rootfile, decl("UTF-16"))), {}},
      {"UTF-16BE without a mark or declaration", utf16be(doc(rootfile, "")), {}},
      {"UTF-16 without a rootfile", utf16le(doc("", decl("UTF-16"))), {noRootfile}},
      {"an internal entity used",
       doc(internalEntity, "<!DOCTYPE container [<!ENTITY p \"OEBPS/content.opf\">]>\n"),
       {}},
      {"']' inside an entity value",
       doc(internalEntity, "<!DOCTYPE container [<!ENTITY q \"a]b\"><!ENTITY p \"OEBPS/content.opf\">]>\n"),
       {}},
      {"rootfile prefixed, in the namespace",
       doc("<c:rootfile xmlns:c=\"" + ns +
           "\" full-path=\"OEBPS/content.opf\" "
           "media-type=\"application/oebps-package+xml\"/>"),
       {}},
      {"rootfile outside rootfiles", "<container xmlns=\"" + ns + "\">" + rootfile + "<rootfiles/></container>", {}},
      {"white space before the declaration", doc(rootfile, " \n<?xml version=\"1.0\"?>\n"), {fatal, noRootfile}},
      {"a second declaration",
       doc(rootfile, "<?xml version=\"1.0\"?>\n<?xml version=\"1.0\"?>\n"),
       {fatal, noRootfile}},
      {"a control character in an attribute",
       doc("<rootfile id=\"a\x01"
           "b\" full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"),
       {fatal, noRootfile}},
      {"a control character in a comment",
       doc("<!-- a\x01"
           "b -->" +
           rootfile),
       {fatal, noRootfile}},
      {"a raw U+FFFE in a comment",
       doc("<!-- a\xEF\xBF\xBE"
           "b -->" +
           rootfile),
       {fatal, noRootfile}},
      {"a raw U+FFFE in text", doc("\xEF\xBF\xBE" + rootfile), {fatal, noRootfile}},
      {"an unbound prefix",
       doc("<x:rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"),
       {fatal, noRootfile}},
      {"container in another namespace", doc(rootfile, "", "urn:example:other"), {noRootfile}},
      {"container in no namespace", "<container><rootfiles>" + rootfile + "</rootfiles></container>", {noRootfile}},
      {"rootfile in another namespace",
       doc("<o:rootfile xmlns:o=\"urn:example:o\" full-path=\"OEBPS/content.opf\" "
           "media-type=\"application/oebps-package+xml\"/>"),
       {noRootfile}},
      {"ISO-8859-1", doc(rootfile + "<!-- caf\xE9 -->", decl("ISO-8859-1")), {encoding}},
      {"ISO-8859-1 without a rootfile", doc("", decl("ISO-8859-1")), {encoding, noRootfile}},
      {"ISO-8859-1, the package missing", doc(missing, decl("ISO-8859-1")), {encoding, notThere}},
      {"ISO-8859-1, not closed after the rootfile", cut(rootfile, decl("ISO-8859-1")), {encoding, fatal}},
      {"US-ASCII", doc(rootfile, decl("US-ASCII")), {encoding}},
      {"windows-1252", doc(rootfile, decl("windows-1252")), {encoding}},
      {"declared UTF-16, written in UTF-8", doc(rootfile, decl("UTF-16")), {fatal, noRootfile}},
      {"not closed after the rootfile", cut(rootfile), {fatal}},
      {"not closed after a rootfile whose package is missing", cut(missing), {notThere, fatal}},
      {"a duplicate attribute after the rootfile", doc(rootfile + "<x a=\"1\" a=\"2\"/>"), {fatal}},
      {"an undeclared entity", doc(internalEntity), {fatal, noRootfile}},
      {"an external entity in an attribute",
       doc(internalEntity, "<!DOCTYPE container [<!ENTITY p SYSTEM \"file:///etc/hostname\">]>\n"),
       {fatal, noRootfile}},
      // epubcheck also reports the declaration of an external entity (HTM-003).
      {"an external entity in text, not read",
       doc(rootfile + "<x>&p;</x>", "<!DOCTYPE container [<!ENTITY p SYSTEM \"file:///etc/hostname\">]>\n"),
       {}},
      // epubcheck was still expanding after five minutes.
      {"a billion laughs after the rootfile",
       doc(rootfile + "<x>&l9;</x>", "<?xml version=\"1.0\"?>\n" + laughs),
       {fatal}},
      {"300,000 attributes", doc(hugeTag + "/>"), {}},
      {"300,000 attributes, one twice", doc(hugeTag + " a7=\"\"/>"), {fatal, noRootfile}},
  };
  for (const auto& c : cases) {
    ArchivePlan plan = soundBook();
    withContainer(plan, c.text);
    const std::vector<sFinding> findings = check(test::buildArchive(plan), false);
    std::vector<std::string> expected = c.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(summarize(findings), expected) << c.what;
    for (const sFinding& f : findings) {
      if (f.code == "RSC-016") {
        EXPECT_NE(f.message.find(", column "), std::string::npos) << c.what << ": " << f.message;
      }
    }
  }
}

// The warnings before a zip find the book's mimetype as the zip job takes
// it: the top-level file of that name in any letter case.
TEST(ContainerCheck, BookFolderWarnings) {
  const struct {
    const char* book;
    std::vector<std::pair<std::string, std::string>> files;  // path, content
    std::vector<std::string> expected;                       // sorted
  } cases[] = {
      {"sound", {{"mimetype", "application/epub+zip"}, {"META-INF/container.xml", "<c/>"}}, {}},
      {"MIMETYPE in capitals", {{"MIMETYPE", "application/epub+zip"}, {"META-INF/container.xml", "<c/>"}}, {}},
      {"MimeType with a line feed",
       {{"MimeType", "application/epub+zip\n"}, {"META-INF/container.xml", "<c/>"}},
       {"PKG-007 warning mimetype"}},
      {"mimetype only below the top",
       {{"OEBPS/mimetype", "application/epub+zip"}, {"META-INF/container.xml", "<c/>"}},
       {"PKG-006 warning mimetype"}},
      {"a folder named mimetype, no container.xml",
       {{"Mimetype/x", "application/epub+zip"}},
       {"PKG-006 warning mimetype", "RSC-002 warning META-INF/container.xml"}},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    for (const auto& [path, content] : c.files) {
      const std::filesystem::path file = dir.path() / "book" / path;
      std::filesystem::create_directories(file.parent_path());
      test::writeFile(file, content);
    }
    EXPECT_EQ(summarize(checkBookFolder(dir / "book")), c.expected) << c.book;
  }
}

// The deep check on several threads finds every damaged entry once, in
// central directory order.
TEST(ContainerCheck, DeepCheckReportsEveryDamagedEntryInOrder) {
  ArchivePlan plan = soundBook();
  for (int i = 0; i < 40; ++i) plan.entries.push_back(deflatedEntry("OEBPS/f" + std::to_string(i) + ".txt", "text"));
  for (std::size_t i = 4; i < plan.entries.size(); i += 3) plan.entries[i].crc ^= 1;
  const std::vector<sFinding> findings = check(test::buildArchive(plan), true);
  std::vector<std::string> expected;
  for (std::size_t i = 4; i < plan.entries.size(); i += 3) expected.push_back(plan.entries[i].name);
  std::vector<std::string> found;
  for (const sFinding& f : findings) found.push_back(f.code + " " + f.entry);
  for (std::string& name : expected) name = "PLM-006 " + name;
  EXPECT_EQ(found, expected);
}

TEST(ContainerXml, WellFormednessAndRootfiles) {
  const struct {
    const char* text;
    bool wellFormed;
    std::size_t rootfiles;
  } cases[] = {
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- c --><a xmlns:b='urn:oasis:names:tc:opendocument:xmlns:container'>"
       "<b:rootfile full-path=\"x\"/></a>\n",
       true, 1},
      {"<a><b:rootfile full-path=\"x\"/></a>", false, 0},
      {"<a><rootfile full-path=\"x\"/></a>", true, 0},
      {"<!DOCTYPE a [<!ELEMENT a ANY>]><a><![CDATA[<&>]]>&lt;&#x41;&#65;</a>", true, 0},
      {"<a/><b/>", false, 0},
      {"<a></b>", false, 0},
      {"<a x='1' x='2'/>", false, 0},
      {"<a x=1/>", false, 0},
      {"<a x='<'/>", false, 0},
      {"<a>&unknown;</a>", false, 0},
      {"<a>&#0;</a>", false, 0},
      {"<a>\x01</a>", false, 0},
      {"text<a/>", false, 0},
      {"<a><!-- -- --></a>", false, 0},
      {"<a>\xFF</a>", false, 0},
      {"", false, 0},
      {"<a xmlns='urn:oasis:names:tc:opendocument:xmlns:container'><rootfile full-path='p'/><rootfile media-type='m'>",
       false, 2},
  };
  for (const auto& c : cases) {
    const sContainerXml xml = readContainerXml(c.text);
    EXPECT_EQ(xml.wellFormed, c.wellFormed) << c.text << ": " << xml.problem;
    EXPECT_EQ(xml.wellFormed, xml.problem.empty()) << c.text;
    EXPECT_EQ(xml.rootfiles.size(), c.rootfiles) << c.text;
  }
}

}  // namespace
}  // namespace plimsy
