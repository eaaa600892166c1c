#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;

const std::string kFreshLines =
    "<Settings>\n"
    "<OpenFinishedWork>true</OpenFinishedWork>\n"
    "<ShowSuccessMessage>true</ShowSuccessMessage>\n"
    "<sDatetime></sDatetime>\n"
    "<PutBackupsInOriginalLocation>true</PutBackupsInOriginalLocation>\n"
    "<UseSpecifiedBackupFolder>false</UseSpecifiedBackupFolder>\n"
    "<SaveBackups>true</SaveBackups>\n"
    "<EpubWorkOrder>\n"
    "<tDatetime>0</tDatetime>\n"
    "<CompressionLevel>9</CompressionLevel>\n"
    "<FilesDir></FilesDir>\n"
    "<ZipPath></ZipPath>\n"
    "<DoWhat>2</DoWhat>\n"
    "<RealFileCreationTimes>true</RealFileCreationTimes>\n"
    "<DeflateCompressedFiles>false</DeflateCompressedFiles>\n"
    "<BackupDir></BackupDir>\n"
    "<AnalyzeZipLogPath></AnalyzeZipLogPath>\n"
    "</EpubWorkOrder>\n"
    "</Settings>\n";

std::string crLf(std::string text) {
  for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 2)) text.insert(i, "\r");
  return text;
}

const std::string kFreshFileBytes = "\xEF\xBB\xBF" + crLf(kFreshLines);

std::string xmlOf(const cSettings& settings) {
  std::string text;
  EXPECT_TRUE(settings.writeXml(text));
  return text;
}

// A default object after reading `text` (joined as start-up joins the lines).
cSettings readFrom(const std::string& text) {
  cSettings settings;
  EXPECT_TRUE(settings.readXml(text));
  return settings;
}

cSettings withWorkOrderElement(const std::string& element) {
  return readFrom("<Settings><EpubWorkOrder>" + element + "</EpubWorkOrder></Settings>");
}

cSettings everyFieldChanged() {
  cSettings s;
  s.SaveBackups = false;
  s.PutBackupsInOriginalLocation = false;
  s.UseSpecifiedBackupFolder = true;
  s.OpenFinishedWork = false;
  s.ShowSuccessMessage = false;
  s.sDatetime = "2022-07-01T10:20:30Z";
  s.workOrder.BackupDir = "/backups/Tom & Jerry/";
  s.workOrder.ZipPath = "/books/Café \xE6\x97\xA5\xE6\x9C\xAC > 2.epub";
  s.workOrder.FilesDir = "/books/a&amp;b/ files /";
  s.workOrder.AnalyzeZipLogPath = "/logs/analysis\tlog.txt";
  s.workOrder.tDatetime = 0xFFFFFFFFFFFFFFFEull;
  s.workOrder.CompressionLevel = kNoCompressionLevel;
  s.workOrder.RealFileCreationTimes = false;
  s.workOrder.DeflateCompressedFiles = true;
  s.workOrder.DoWhat = kDoWhatZip;
  return s;
}

// Tests that touch the process-wide object start and end with the defaults.
class ProcessSettings : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    updateSettings([](cSettings& s) { s = cSettings(); });
  }
};

// ---- Writing -------------------------------------------------------------------

TEST(SettingsWrite, FreshObjectGivesTheNineteenLinesWithBomAndCrLf) {
  const cSettings fresh;
  EXPECT_EQ(xmlOf(fresh), kFreshLines);
  EXPECT_EQ(settingsFileBytes(xmlOf(fresh)), kFreshFileBytes);
  EXPECT_EQ(fresh.applicationName(), "Plimsy");

  TempDir dir;
  const std::string path = dir / "deep/folder/settings.xml";
  std::string message;
  ASSERT_TRUE(writeSettingsFile(fresh, path, &message)) << message;
  EXPECT_EQ(readFile(path), kFreshFileBytes);
  // The temporary file was renamed away: the folder holds settings.xml alone.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "deep/folder"), fs::directory_iterator()), 1);
}

TEST(SettingsWrite, DoWhatIsStoredAsZipOrElseUnzip) {
  cSettings s;
  for (const auto& [doWhat, stored] : {std::pair{0, "2"}, {1, "1"}, {2, "2"}, {3, "2"}, {-1, "2"}}) {
    s.workOrder.DoWhat = doWhat;
    EXPECT_NE(xmlOf(s).find(std::string("<DoWhat>") + stored + "</DoWhat>\n"), std::string::npos) << doWhat;
  }
}

TEST(SettingsWrite, ValuesAreWrittenUnescapedAndNumbersUnsigned) {
  cSettings s;
  s.workOrder.FilesDir = "/a&b<c>\"d\"/";
  s.workOrder.CompressionLevel = kNoCompressionLevel;
  s.workOrder.tDatetime = 0xFFFFFFFFFFFFFFFFull;
  const std::string text = xmlOf(s);
  EXPECT_NE(text.find("<FilesDir>/a&b<c>\"d\"/</FilesDir>\n"), std::string::npos);
  EXPECT_NE(text.find("<CompressionLevel>4294967295</CompressionLevel>\n"), std::string::npos);
  EXPECT_NE(text.find("<tDatetime>18446744073709551615</tDatetime>\n"), std::string::npos);
}

TEST(SettingsWrite, FailureLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir / "settings.xml";
  writeFile(path, "old");
  // A folder in the way of the rename: the write fails and cleans up.
  fs::create_directory(dir.path() / "taken.xml");
  std::string message;
  EXPECT_FALSE(writeSettingsFile(cSettings(), dir / "taken.xml", &message));
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
  EXPECT_EQ(readFile(path), "old");
  // No path: nothing is written anywhere (never into the current folder).
  EXPECT_FALSE(writeSettingsFile(cSettings(), ""));
  // An existing file is replaced whole.
  ASSERT_TRUE(writeSettingsFile(cSettings(), path));
  EXPECT_EQ(readFile(path), kFreshFileBytes);
}

// ---- Round trip ----------------------------------------------------------------

TEST(SettingsRoundTrip, EveryFieldSurvivesTextAndFile) {
  const cSettings changed = everyFieldChanged();
  EXPECT_EQ(readFrom(xmlOf(changed)), changed);

  cSettings nearLimit = changed;
  nearLimit.workOrder.tDatetime = 0xFFFFFFFFFFFFFFFFull;
  nearLimit.workOrder.CompressionLevel = 0;
  nearLimit.workOrder.DoWhat = kDoWhatUnzip;
  EXPECT_EQ(readFrom(xmlOf(nearLimit)), nearLimit);
}

TEST_F(ProcessSettings, FileRoundTripThroughLoadSettingsFile) {
  TempDir dir;
  const std::string path = dir / "settings.xml";
  const cSettings changed = everyFieldChanged();
  ASSERT_TRUE(writeSettingsFile(changed, path));
  EXPECT_TRUE(loadSettingsFile(path));
  EXPECT_EQ(settingsSnapshot(), changed);
}

// ---- Numbers -------------------------------------------------------------------

TEST(SettingsNumbers, ParseLikeTheCLibraryWithBaseZero) {
  EXPECT_EQ(parseUnsigned32("9"), 9u);
  EXPECT_EQ(parseUnsigned32("0x5"), 5u);
  EXPECT_EQ(parseUnsigned32("0XfF"), 255u);
  EXPECT_EQ(parseUnsigned32("010"), 8u);
  EXPECT_EQ(parseUnsigned32("08"), 0u);  // octal stops at 8
  EXPECT_EQ(parseUnsigned32("0x"), 0u);
  EXPECT_EQ(parseUnsigned32("0xg"), 0u);
  EXPECT_EQ(parseUnsigned32("abc"), 0u);
  EXPECT_EQ(parseUnsigned32(""), 0u);
  EXPECT_EQ(parseUnsigned32("-"), 0u);
  EXPECT_EQ(parseUnsigned32(" \t\v+42abc"), 42u);
  EXPECT_EQ(parseUnsigned32("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(parseUnsigned32("4294967296"), 0xFFFFFFFFu);
  EXPECT_EQ(parseUnsigned32("99999999999"), 0xFFFFFFFFu);
  // A minus sign negates in unsigned arithmetic; a too-large value stays the maximum.
  EXPECT_EQ(parseUnsigned32("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(parseUnsigned32("-0x10"), 0xFFFFFFF0u);
  EXPECT_EQ(parseUnsigned32("-4294967295"), 1u);
  EXPECT_EQ(parseUnsigned32("-99999999999"), 0xFFFFFFFFu);
  // Only ASCII white space is skipped; a non-breaking space stops the parse.
  EXPECT_EQ(parseUnsigned32("\xC2\xA0"
                            "5"),
            0u);

  EXPECT_EQ(parseUnsigned64("4294967296"), 4294967296ull);
  EXPECT_EQ(parseUnsigned64("18446744073709551615"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(parseUnsigned64("18446744073709551616"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(parseUnsigned64("0xFFFFFFFFFFFFFFFF"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(parseUnsigned64("02000000000000000000000"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(parseUnsigned64("-1"), 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(parseUnsigned64("-2"), 0xFFFFFFFFFFFFFFFEull);
}

// ---- Reader --------------------------------------------------------------------

TEST(SettingsReader, TagPositionsAndNames) {
  const std::string_view text = "<a><b x='1'>hi</b></a>";
  const XmlRange whole{0, text.size()};
  XmlElement b;
  ASSERT_TRUE(findElement(text, whole, "b", b));
  EXPECT_EQ(b.tagStart, 3u);
  EXPECT_EQ(b.tagEnd, 12u);
  EXPECT_EQ(b.name(text), "b");
  EXPECT_EQ(b.content(text), "hi");
  EXPECT_EQ(b.contentEnd, 14u);
  EXPECT_EQ(b.elementEnd, 18u);

  const auto nameOf = [](std::string_view tagText) {
    std::size_t position = 0;
    XmlElement tag;
    EXPECT_TRUE(nextTag(tagText, {0, tagText.size()}, position, tag)) << tagText;
    EXPECT_EQ(position, tagText.size());
    return std::string(tag.name(tagText));
  };
  EXPECT_EQ(nameOf("<?xml version=\"1.0\"?>"), "xml");
  EXPECT_EQ(nameOf("<!-- note -->"), "--");
  EXPECT_EQ(nameOf("</Settings>"), "Settings");
  EXPECT_EQ(nameOf("<br/>"), "br");
  EXPECT_EQ(nameOf("<a=b>"), "a");
  EXPECT_EQ(nameOf("<a/b>"), "a/b");
  EXPECT_EQ(nameOf("<>"), "");

  // No tag: an unclosed "<", a NUL before the "<", a ">" beyond the range.
  for (const std::string_view noTag : {std::string_view("text <a"), std::string_view("x\0<a>", 5)}) {
    std::size_t position = 0;
    XmlElement tag;
    EXPECT_FALSE(nextTag(noTag, {0, noTag.size()}, position, tag));
    EXPECT_EQ(position, noTag.size());
  }
  std::size_t position = 0;
  XmlElement tag;
  EXPECT_FALSE(nextTag("<abc>", {0, 4}, position, tag));
  EXPECT_EQ(position, 4u);
}

TEST(SettingsReader, FindElementCountsNestingAndSelfClosing) {
  const std::string_view nested = "<r><n>a<n>b</n>c<n/></n><n>second</n></r>";
  XmlElement n;
  ASSERT_TRUE(findElement(nested, {0, nested.size()}, "n", n));
  EXPECT_EQ(n.content(nested), "a<n>b</n>c<n/>");

  const std::string_view selfClosing = "<r><n/><n>later</n></r>";
  ASSERT_TRUE(findElement(selfClosing, {0, selfClosing.size()}, "n", n));
  EXPECT_EQ(n.content(selfClosing), "");
  EXPECT_EQ(n.elementEnd, 7u);

  const std::string_view unclosed = "<r><n>open<n>inner</n></r>";
  EXPECT_FALSE(findElement(unclosed, {0, unclosed.size()}, "n", n));
  // Names compare exactly: case and length.
  EXPECT_FALSE(findElement(nested, {0, nested.size()}, "N", n));
  EXPECT_FALSE(findElement(nested, {0, nested.size()}, "nn", n));
}

TEST(SettingsReader, RootElementRules) {
  XmlElement root;
  const std::string_view declared = "<?xml version=\"1.0\"?><!-- c --><R><x></R></x></R>";
  ASSERT_TRUE(rootElement(declared, root));
  EXPECT_EQ(root.name(declared), "R");
  EXPECT_EQ(root.content(declared), "<x>");  // the first end tag closes it, nesting not counted

  const std::string_view open = "<R><x>1</x>";
  ASSERT_TRUE(rootElement(open, root));
  EXPECT_EQ(root.elementEnd, open.size());

  const std::string_view single = "<R/><x>1</x>";
  ASSERT_TRUE(rootElement(single, root));
  EXPECT_EQ(root.elementEnd, 4u);

  EXPECT_FALSE(rootElement("", root));
  EXPECT_FALSE(rootElement("no tags", root));
  EXPECT_FALSE(rootElement("<?xml?><!-- only -->", root));
}

TEST(SettingsReader, ConversionQuirks) {
  EXPECT_EQ(withWorkOrderElement("<DoWhat>3</DoWhat>").workOrder.DoWhat, kDoWhatUnzip);
  EXPECT_EQ(withWorkOrderElement("<DoWhat>1</DoWhat>").workOrder.DoWhat, kDoWhatZip);
  EXPECT_EQ(withWorkOrderElement("<DoWhat>0x1</DoWhat>").workOrder.DoWhat, kDoWhatZip);
  EXPECT_EQ(withWorkOrderElement("<DoWhat></DoWhat>").workOrder.DoWhat, kDoWhatUnzip);
  EXPECT_EQ(withWorkOrderElement("").workOrder.DoWhat, kDoWhatNothing);  // not found: unchanged

  EXPECT_EQ(withWorkOrderElement("<CompressionLevel>0x5</CompressionLevel>").workOrder.CompressionLevel, 5u);
  EXPECT_EQ(withWorkOrderElement("<CompressionLevel>010</CompressionLevel>").workOrder.CompressionLevel, 8u);
  EXPECT_EQ(withWorkOrderElement("<CompressionLevel>abc</CompressionLevel>").workOrder.CompressionLevel, 0u);
  EXPECT_EQ(withWorkOrderElement("<CompressionLevel>-1</CompressionLevel>").workOrder.CompressionLevel,
            kNoCompressionLevel);
  EXPECT_EQ(withWorkOrderElement("<CompressionLevel>99999999999</CompressionLevel>").workOrder.CompressionLevel,
            kNoCompressionLevel);
  EXPECT_EQ(withWorkOrderElement("<CompressionLevel>12</CompressionLevel>").workOrder.CompressionLevel, 12u);
  EXPECT_EQ(withWorkOrderElement("<tDatetime>-1</tDatetime>").workOrder.tDatetime, 0xFFFFFFFFFFFFFFFFull);

  EXPECT_FALSE(readFrom("<Settings><SaveBackups>True</SaveBackups></Settings>").SaveBackups);
  EXPECT_FALSE(readFrom("<Settings><SaveBackups>true </SaveBackups></Settings>").SaveBackups);
  EXPECT_FALSE(readFrom("<Settings><SaveBackups></SaveBackups></Settings>").SaveBackups);
  EXPECT_TRUE(readFrom("<Settings><UseSpecifiedBackupFolder>true</UseSpecifiedBackupFolder></Settings>")
                  .UseSpecifiedBackupFolder);
  // Strings are taken exactly: no trimming, no entity decoding.
  EXPECT_EQ(withWorkOrderElement("<ZipPath> a&amp;b </ZipPath>").workOrder.ZipPath, " a&amp;b ");
  // Element names are case-sensitive; attributes are passed over.
  EXPECT_TRUE(readFrom("<Settings><savebackups>false</savebackups></Settings>").SaveBackups);
  EXPECT_FALSE(readFrom("<Settings><SaveBackups a=\"1\">false</SaveBackups></Settings>").SaveBackups);
}

TEST(SettingsReader, DocumentShapes) {
  // Without EpubWorkOrder the options are read and the work order keeps its defaults.
  const cSettings noWorkOrder =
      readFrom("<Settings><OpenFinishedWork>false</OpenFinishedWork><tDatetime>5</tDatetime></Settings>");
  EXPECT_FALSE(noWorkOrder.OpenFinishedWork);
  EXPECT_EQ(noWorkOrder.workOrder, EpubWorkOrder());

  const cSettings declared = readFrom(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- saved by hand --><Settings>"
      "<ShowSuccessMessage>false</ShowSuccessMessage></Settings>");
  EXPECT_FALSE(declared.ShowSuccessMessage);

  // The root's name is not checked, and an unclosed root still reads.
  EXPECT_FALSE(readFrom("<Whatever><SaveBackups>false</SaveBackups></Whatever>").SaveBackups);
  EXPECT_FALSE(readFrom("<Settings><SaveBackups>false</SaveBackups>").SaveBackups);
  // Elements after a self-closing root lie outside it.
  EXPECT_TRUE(readFrom("<Settings/><SaveBackups>false</SaveBackups>").SaveBackups);

  // A self-closing element is found and empties its string.
  cSettings s;
  s.workOrder.FilesDir = "/before/";
  s.readXml("<Settings><EpubWorkOrder><FilesDir/></EpubWorkOrder></Settings>");
  EXPECT_EQ(s.workOrder.FilesDir, "");

  // Nested elements of the same name are counted: the outer one's content is taken whole.
  EXPECT_EQ(readFrom("<Settings><sDatetime>a<sDatetime>b</sDatetime>c</sDatetime></Settings>").sDatetime,
            "a<sDatetime>b</sDatetime>c");

  // A "<" in one value loses that value only.
  const cSettings confused = readFrom(
      "<Settings><sDatetime>a<b</sDatetime><SaveBackups>false</SaveBackups>"
      "<EpubWorkOrder><ZipPath>/x.epub</ZipPath></EpubWorkOrder></Settings>");
  EXPECT_EQ(confused.sDatetime, "");
  EXPECT_FALSE(confused.SaveBackups);
  EXPECT_EQ(confused.workOrder.ZipPath, "/x.epub");

  EXPECT_EQ(readFrom(""), cSettings());
  EXPECT_EQ(readFrom("plain text"), cSettings());
}

// ---- Loading the file ------------------------------------------------------------

TEST(SettingsFileText, DecodesAndDropsLineBreaks) {
  std::size_t count = 0;
  EXPECT_EQ(settingsFileText("\xEF\xBB\xBF<a>\r\nx\xE2\x80\xA8y\xE2\x80\xA9</a>\n", count), "<a>xy</a>");
  EXPECT_EQ(count, 14u);
  EXPECT_EQ(settingsFileText("\xEF\xBB\xBF", count), "");
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(settingsFileText("\r\n", count), "");
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(settingsFileText("a\xFF"
                             "b",
                             count),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(count, 3u);
}

TEST_F(ProcessSettings, LoadSettingsFileKeepsDefaultsForEmptyMissingOrBreaksOnly) {
  TempDir dir;
  EXPECT_FALSE(loadSettingsFile(dir / "missing.xml"));
  EXPECT_FALSE(loadSettingsFile(dir.str()));  // a folder cannot be read
  EXPECT_FALSE(loadSettingsFile(""));

  writeFile(dir / "empty.xml", "");
  EXPECT_FALSE(loadSettingsFile(dir / "empty.xml"));
  writeFile(dir / "bom.xml", "\xEF\xBB\xBF");
  EXPECT_FALSE(loadSettingsFile(dir / "bom.xml"));

  // Only line breaks: the reader is called with empty text and changes nothing.
  writeFile(dir / "breaks.xml", "\xEF\xBB\xBF\r\n\r\n\xE2\x80\xA8\xE2\x80\xA9");
  EXPECT_TRUE(loadSettingsFile(dir / "breaks.xml"));
  EXPECT_EQ(settingsSnapshot(), cSettings());
}

TEST_F(ProcessSettings, LoadSettingsFileJoinsLinesAndReplacesBadBytes) {
  TempDir dir;
  // No byte-order mark, LF line ends, a value broken over two lines, a bad byte.
  writeFile(dir / "settings.xml",
            "<Settings>\n<SaveBackups>false</SaveBackups>\n<EpubWorkOrder>\n<ZipPath>/bo\r\noks/\xFE.epub</ZipPath>\n"
            "</EpubWorkOrder>\n</Settings>\n");
  EXPECT_TRUE(loadSettingsFile(dir / "settings.xml"));
  const cSettings loaded = settingsSnapshot();
  EXPECT_FALSE(loaded.SaveBackups);
  EXPECT_EQ(loaded.workOrder.ZipPath, "/books/\xEF\xBF\xBD.epub");
  EXPECT_TRUE(loaded.OpenFinishedWork);
}

// ---- Location and the process-wide save ---------------------------------------------

// The variable that names the settings base folder: the local application
// data folder on Windows, the XDG configuration folder elsewhere.
#ifdef _WIN32
constexpr const char* kSettingsBaseVariable = "LOCALAPPDATA";
#else
constexpr const char* kSettingsBaseVariable = "XDG_CONFIG_HOME";
#endif

// (Windows: the local application data folder, tested with the platform layer.)
#ifndef _WIN32
TEST(SettingsLocation, BaseFolderFromTheEnvironment) {
  ScopedEnv configHome("XDG_CONFIG_HOME");
  ScopedEnv home("HOME");
  configHome.set("/cfg");
  home.set("/home/reader");
  EXPECT_EQ(settingsBaseFolder(), "/cfg");
  configHome.set("relative/cfg");
  EXPECT_EQ(settingsBaseFolder(), "/home/reader/.config");
  configHome.unset();
  EXPECT_EQ(settingsBaseFolder(), "/home/reader/.config");
  home.set("relative");
  EXPECT_EQ(settingsBaseFolder(), "");
  home.unset();
  EXPECT_EQ(settingsBaseFolder(), "");
  EXPECT_EQ(settingsFilePathBelow(""), "");
}
#endif

TEST(SettingsLocation, PathBelowMakesTheFolders) {
  TempDir dir;
  const std::string path = settingsFilePathBelow(dir.str());
  EXPECT_EQ(path, utf8FromPath(dir.path() / "Tarnwick" / "Plimsy" / "settings.xml"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "Tarnwick" / "Plimsy"));
  EXPECT_FALSE(fs::exists(path));
}

// The only test that fixes this process's settings path: the environment is
// set before the path is first taken.
TEST_F(ProcessSettings, SaveSettingsWritesTheProcessObjectAtTheKeptPath) {
  TempDir dir;
  ScopedEnv configHome(kSettingsBaseVariable);
  configHome.set(utf8FromPath(dir.path()));
  const std::string path = settingsFilePath();
  const std::string expected = utf8FromPath(dir.path() / "Tarnwick" / "Plimsy" / "settings.xml");
  // Never write into a real settings folder when the path was fixed earlier.
  ASSERT_EQ(path, expected) << "the settings path was taken before this test";
  EXPECT_EQ(cSettings().settingsFilePath(), expected);

  ASSERT_TRUE(saveSettings());
  EXPECT_EQ(readFile(path), kFreshFileBytes);

  updateSettings([](cSettings& s) { s.workOrder.ZipPath = "/books/b.epub"; });
  fs::remove_all(dir.path() / "Tarnwick");  // a folder deleted while running is made again
  ASSERT_TRUE(saveSettings());
  EXPECT_NE(readFile(path).find("<ZipPath>/books/b.epub</ZipPath>\r\n"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "Tarnwick" / "Plimsy"), fs::directory_iterator()), 1);

  // The kept path does not follow later changes of the environment.
  configHome.set(utf8FromPath(dir.path() / "elsewhere"));
  EXPECT_EQ(settingsFilePath(), expected);

  updateSettings([](cSettings& s) { s = cSettings(); });
  EXPECT_TRUE(loadSettingsFile());
  EXPECT_EQ(settingsSnapshot().workOrder.ZipPath, "/books/b.epub");
}

// ---- The process-wide object under its lock -----------------------------------------

TEST_F(ProcessSettings, SnapshotsAreConsistentAndIndependent) {
  std::thread writer([] {
    for (int i = 0; i < 20'000; ++i) {
      updateSettings([i](cSettings& s) {
        s.workOrder.FilesDir = "/files/" + std::to_string(i) + "/";
        s.workOrder.ZipPath = "/files/" + std::to_string(i) + ".epub";
        s.workOrder.tDatetime = static_cast<std::uint64_t>(i);
      });
    }
  });
  int inconsistent = 0;
  for (int i = 0; i < 20'000; ++i) {
    const cSettings s = settingsSnapshot();
    if (s.workOrder.FilesDir.empty()) continue;
    const std::string n = std::to_string(s.workOrder.tDatetime);
    if (s.workOrder.FilesDir != "/files/" + n + "/" || s.workOrder.ZipPath != "/files/" + n + ".epub") ++inconsistent;
  }
  writer.join();
  EXPECT_EQ(inconsistent, 0);

  cSettings copy = settingsSnapshot();
  copy.workOrder.FilesDir = "changed";
  EXPECT_EQ(settingsSnapshot().workOrder.FilesDir, "/files/19999/");
}

}  // namespace
}  // namespace plimsy
