#include "core/paths.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "support/special_files.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::TempDir;
using test::writeFile;

TEST(WindowsAbsolutePath, FollowsTheDriveLetterAndPrefixTable) {
  struct Case {
    const char* path;
    bool absolute;
  };
  const Case cases[] = {
      {R"(C:\x)", true},
      {"c:/x", true},
      {R"(z:\)", true},
      {"C:", false},
      {"C:books", false},
      {"1:/x", false},
      {R"(\\?\C:\x)", true},
      {"//?/C:/x", true},
      {R"(\??\x)", true},
      {"/?\?/x", true},
      {R"(\\.\pipe)", true},
      {R"(\\?\)", true},
      {R"(\\server\share)", true},
      {"//server", true},
      {R"(\\)", false},
      {R"(\\\x)", false},
      {R"(\x)", false},
      {"/x", false},
      {R"(\)", false},
      {"books\\x", false},
      {"x", false},
      {"", false},
      {R"(\?\x)", false},
      {R"(\??\\x)", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isWindowsAbsolutePath(c.path), c.absolute) << c.path;
}

// The cases below that spell out paths are written for POSIX.
#define SKIP_UNLESS_POSIX_PATHS() \
  if constexpr (kBackslashIsSeparator) GTEST_SKIP() << "written for POSIX paths"

TEST(Paths, AbsoluteByThePlatformRule) {
  SKIP_UNLESS_POSIX_PATHS();
  bool absolute = false;
  ASSERT_TRUE(isAbsolutePath(nullptr, "/books", absolute));
  EXPECT_TRUE(absolute);
  ASSERT_TRUE(isAbsolutePath(nullptr, "books/x", absolute));
  EXPECT_FALSE(absolute);
  ASSERT_TRUE(isAbsolutePath(nullptr, "", absolute));
  EXPECT_FALSE(absolute);
  ASSERT_TRUE(isAbsolutePath(nullptr, R"(C:\books)", absolute));
  EXPECT_FALSE(absolute);
}

TEST(Paths, SeparatorsAndNameParts) {
  SKIP_UNLESS_POSIX_PATHS();
  EXPECT_EQ(withTrailingSeparator("/a"), "/a/");
  EXPECT_EQ(withTrailingSeparator("/a/"), "/a/");
  EXPECT_EQ(joinPath("/a", "b.txt"), "/a/b.txt");
  EXPECT_EQ(joinPath("/a/", "b.txt"), "/a/b.txt");
  EXPECT_EQ(joinPath("", "b.txt"), "b.txt");
  EXPECT_EQ(fileNamePart("/a/b.txt"), "b.txt");
  EXPECT_EQ(fileNamePart("/a/b/"), "b/");
  EXPECT_EQ(fileNamePart("/a//b//"), "b//");
  EXPECT_EQ(fileNamePart("b.txt"), "b.txt");
  EXPECT_EQ(fileNamePart("/"), "/");
  EXPECT_EQ(extensionPart("OEBPS/ch1.xhtml"), ".xhtml");
  EXPECT_EQ(extensionPart("a.tar.gz"), ".gz");
  EXPECT_EQ(extensionPart("images.d/cover"), "");
  EXPECT_EQ(extensionPart("my. cover"), "");
  EXPECT_EQ(extensionPart("mimetype"), "");
  // On POSIX a backslash is part of the name.
  EXPECT_FALSE(endsWithSeparator("/a\\"));
  EXPECT_EQ(withTrailingSeparator("/a\\"), "/a\\/");
  EXPECT_EQ(fileNamePart("/a/b\\c"), "b\\c");
}

// On Windows the platform's own rules are the drive-letter rules above, and
// both separators count.
TEST(Paths, WindowsPathsFollowTheDriveLetterRules) {
  if constexpr (!kBackslashIsSeparator) GTEST_SKIP() << "written for Windows paths";
  for (const char* path : {R"(C:\x)", "c:/x", R"(\\server\share\book.epub)", R"(\\?\C:\x)", R"(\\.\pipe)",
                           "C:", "C:books", R"(\x)", "/x", "books", ""}) {
    bool absolute = false;
    ASSERT_TRUE(isAbsolutePath(nullptr, path, absolute)) << path;
    EXPECT_EQ(absolute, isWindowsAbsolutePath(path)) << path;
  }
  const std::pair<const char*, const char*> parents[] = {
      {R"(C:\books\mine\)", R"(C:\books)"},
      {R"(C:\books\mine)", R"(C:\books)"},
      {R"(C:\books)", R"(C:\)"},
      {R"(C:\)", R"(C:\)"},
      {"C:/books/mine/", "C:/books"},
      {R"(\\server\share\book.epub)", R"(\\server\share)"},
  };
  for (const auto& [path, parent] : parents) {
    std::string folder;
    ASSERT_TRUE(parentFolder(nullptr, path, folder)) << path;
    EXPECT_EQ(folder, parent) << path;
  }
  std::string message;
  std::string folder;
  EXPECT_FALSE(parentFolder(&message, "C:books", folder));
  EXPECT_EQ(message, "Path is not absolute.\nC:books");

  EXPECT_EQ(withTrailingSeparator("C:\\a"), "C:\\a\\");
  EXPECT_EQ(withTrailingSeparator("C:/a/"), "C:/a/");
  EXPECT_EQ(fileNamePart(R"(C:\a\b.txt)"), "b.txt");
  EXPECT_EQ(fileNamePart("C:b.txt"), "b.txt");
  EXPECT_EQ(extensionPart(R"(a.d\cover)"), "");

  bool inTree = true;
  ASSERT_TRUE(isInDirectoryTree(nullptr, R"(C:\b\files\x.epub)", R"(C:\b\files\)", inTree));
  EXPECT_TRUE(inTree);
  ASSERT_TRUE(isInDirectoryTree(nullptr, R"(C:\b\filesX\x.epub)", R"(C:\b\files)", inTree));
  EXPECT_FALSE(inTree);
  ASSERT_TRUE(isInDirectoryTree(nullptr, R"(D:\b\files\x.epub)", R"(C:\b\files)", inTree));
  EXPECT_FALSE(inTree);
  ASSERT_TRUE(isInDirectoryTree(nullptr, "c:/b/files/x.epub", R"(C:\B\Files)", inTree));
  EXPECT_TRUE(inTree) << "Windows names are compared without regard to case";
}

TEST(Paths, NamesWindowsCannotHold) {
  const std::pair<const char*, bool> cases[] = {
      {"CON", true},          {"con", true},      {"aux.xhtml", true}, {"Nul.tar.gz", true}, {"COM1", true},
      {"lpt9.txt", true},     {"PRN .txt", true}, {"chapter.", true},  {"cover ", true},     {"a:b", true},
      {"a?b", true},          {"a*b", true},      {"a|b", true},       {"a\"b", true},       {"<a>", true},
      {"a\x01b", true},       {"COM0", false},    {"COM10", false},    {"CONSOLE", false},   {"icon.png", false},
      {"auxiliary", false},   {".hidden", false}, {"..", false},       {".", false},         {"a b.xhtml", false},
      {"caf\xC3\xA9", false}, {"LPT", false},     {"", false},         {"caf\xE9", true},
  };
  for (const auto& [name, refused] : cases) EXPECT_EQ(isNameWindowsCannotHold(name), refused) << name;
}

TEST(Paths, Utf8RoundTripKeepsInvalidBytes) {
  SKIP_UNLESS_POSIX_PATHS();  // Windows names are Unicode
  TempDir dir;
  const std::string name = dir / "caf\xc3\xa9-\xff.txt";
  writeFile(pathFromUtf8(name), "x");
  EXPECT_EQ(utf8FromPath(pathFromUtf8(name)), name);
  EXPECT_EQ(pathKind(name), PathKind::File);
}

TEST(ParentFolder, DropsTrailingSeparatorsAndKeepsTheRoot) {
  SKIP_UNLESS_POSIX_PATHS();
  struct Case {
    const char* path;
    const char* parent;
  };
  const Case cases[] = {
      {"/books/mine/", "/books"},
      {"/books/mine", "/books"},
      {"/books", "/"},
      {"/", "/"},
      {"/a//b//", "/a"},
      {"///", "/"},
      {"/a/b\\c", "/a"},
  };
  for (const Case& c : cases) {
    std::string folder;
    ASSERT_TRUE(parentFolder(nullptr, c.path, folder)) << c.path;
    EXPECT_EQ(folder, c.parent) << c.path;
  }
}

TEST(ParentFolder, RefusesRelativePaths) {
  std::string message = "old";
  std::string folder = "unchanged";
  EXPECT_FALSE(parentFolder(&message, "books/mine", folder));
  EXPECT_EQ(message, "Path is not absolute.\nbooks/mine");
  EXPECT_EQ(folder, "unchanged");
  EXPECT_FALSE(parentFolder(nullptr, "", folder));
}

TEST(UniqueFileName, TakesTheFirstFreeNumber) {
  TempDir dir;
  writeFile(dir.path() / "book1.epub", "");
  writeFile(dir.path() / "book2.epub", "");
  writeFile(dir.path() / "book4.epub", "");
  fs::create_directory(dir.path() / "files1");
  writeFile(dir.path() / ".hidden1", "");
  std::string name;

  ASSERT_TRUE(uniqueFileName(nullptr, dir.str(), "book", "epub", name));
  EXPECT_EQ(name, dir / "book3.epub");
  // Without a trailing separator one is added.
  ASSERT_TRUE(uniqueFileName(nullptr, dir.path().string(), "book", "epub", name));
  EXPECT_EQ(name, dir / "book3.epub");
  // A folder takes a name as well as a file; no extension means no dot.
  ASSERT_TRUE(uniqueFileName(nullptr, dir.str(), "files", "", name));
  EXPECT_EQ(name, dir / "files2");
  ASSERT_TRUE(uniqueFileName(nullptr, dir.str(), ".hidden", "", name));
  EXPECT_EQ(name, dir / ".hidden2");
  // No base: the number alone.
  ASSERT_TRUE(uniqueFileName(nullptr, dir.str(), "", "txt", name));
  EXPECT_EQ(name, dir / "1.txt");
  // No folder: relative to the current folder.
  ASSERT_TRUE(uniqueFileName(nullptr, "", "plimsy-no-such-name-", "x", name));
  EXPECT_EQ(name, "plimsy-no-such-name-1.x");
}

TEST(UniqueFileName, ADanglingLinkTakesItsName) {
  TempDir dir;
  if (!test::makeLink(dir.path() / "nowhere" / "target.zip", dir.path() / "temp1.zip")) GTEST_SKIP() << test::kNoLinks;
  std::string name;
  ASSERT_TRUE(uniqueFileName(nullptr, dir.str(), "temp", "zip", name));
  EXPECT_EQ(name, dir / "temp2.zip");
}

TEST(UniqueFileName, FailsWhenEveryNumberIsTaken) {
  TempDir dir;
  for (int n = 1; n <= 3; ++n) writeFile(dir.path() / ("back" + std::to_string(n) + ".zip"), "");
  std::string message;
  std::string name = "unchanged";
  EXPECT_FALSE(uniqueFileName(&message, dir.str(), "back", "zip", name, 3));
  EXPECT_EQ(message, "Unable to generate unique filename.\n" + dir.str());
  EXPECT_EQ(name, "unchanged");
  ASSERT_TRUE(uniqueFileName(&message, dir.str(), "back", "zip", name, 4));
  EXPECT_EQ(name, dir / "back4.zip");
}

TEST(EnsureParentFolder, CreatesMissingFoldersAndAcceptsExistingOnes) {
  TempDir dir;
  const std::string nested = dir / "a/b/c/log.txt";
  EXPECT_TRUE(ensureParentFolder(nested));
  EXPECT_EQ(pathKind(dir / "a/b/c"), PathKind::Folder);
  EXPECT_EQ(pathKind(nested), PathKind::Missing);
  EXPECT_TRUE(ensureParentFolder(nested));  // exists now

  // A trailing separator makes the last folder the name: its parent is made.
  EXPECT_TRUE(ensureParentFolder(dir / "d/e/"));
  EXPECT_EQ(pathKind(dir / "d"), PathKind::Folder);
  EXPECT_EQ(pathKind(dir / "d/e"), PathKind::Missing);

  writeFile(dir.path() / ".hidden", "");
  EXPECT_TRUE(ensureParentFolder(dir / ".hidden"));
}

TEST(EnsureParentFolder, FailsWithoutAUsableFolderPart) {
  TempDir dir;
  writeFile(dir.path() / "plain.txt", "");
  EXPECT_FALSE(ensureParentFolder(dir / "plain.txt/log.txt"));
  EXPECT_FALSE(ensureParentFolder(dir / "plain.txt/deeper/log.txt"));
  EXPECT_EQ(pathKind(dir / "plain.txt"), PathKind::File);
  EXPECT_FALSE(ensureParentFolder("log.txt"));
  EXPECT_FALSE(ensureParentFolder(""));
}

class InDirectoryTree : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir.path() / "b/files");
    fs::create_directories(dir.path() / "b/filesX");
    writeFile(dir.path() / "b/files/x.epub", "");
    writeFile(dir.path() / "b/x.epub", "");
  }
  bool inTree(const std::string& path, const std::string& directory) {
    bool result = false;
    std::string message;
    EXPECT_TRUE(isInDirectoryTree(&message, path, directory, result)) << message;
    return result;
  }
  TempDir dir;
};

TEST_F(InDirectoryTree, ComparesWholeComponents) {
  EXPECT_TRUE(inTree(dir / "b/files/x.epub", dir / "b/files/"));
  EXPECT_TRUE(inTree(dir / "b/files/x.epub", dir / "b/files"));
  EXPECT_TRUE(inTree(dir / "b/files/new/deep/y.epub", dir / "b/files"));  // need not exist
  EXPECT_FALSE(inTree(dir / "b/x.epub", dir / "b/files"));
  EXPECT_FALSE(inTree(dir / "b/filesX/x.epub", dir / "b/files"));
  EXPECT_FALSE(inTree(dir / "b", dir / "b/files"));
  EXPECT_FALSE(inTree(dir / "b/files/../x.epub", dir / "b/files"));
  EXPECT_TRUE(inTree(dir / "b/files", dir / "b/files"));
  EXPECT_TRUE(inTree(dir / "b/files/", dir / "b/files"));
  EXPECT_TRUE(inTree(dir / "b/nothing", dir / "b/nothing/"));
}

TEST_F(InDirectoryTree, FollowsLinks) {
  if (!test::makeLink(dir.path() / "b/files", dir.path() / "alias", true)) GTEST_SKIP() << test::kNoLinks;
  EXPECT_TRUE(inTree(dir / "alias", dir / "b/files"));
  EXPECT_TRUE(inTree(dir / "alias/x.epub", dir / "b/files"));
  EXPECT_TRUE(inTree(dir / "b/files/new.epub", dir / "alias"));
}

TEST_F(InDirectoryTree, ReportsBadInput) {
  bool result = false;
  std::string message;
  EXPECT_FALSE(isInDirectoryTree(&message, "b/x.epub", dir / "b", result));
  EXPECT_EQ(message, "Path is not absolute.");
  EXPECT_FALSE(isInDirectoryTree(&message, dir / "b/x.epub", "b", result));
  EXPECT_EQ(message, "Directory path is not absolute.");

  // A link that points at itself cannot be resolved.
  if (!test::makeLink(dir.path() / "loop", dir.path() / "loop")) GTEST_SKIP() << test::kNoLinks;
  EXPECT_FALSE(isInDirectoryTree(&message, dir / "loop/x.epub", dir / "b", result));
  EXPECT_EQ(message.rfind("Unable to determine if path is in directory tree. ", 0), 0u) << message;
  EXPECT_GT(message.size(), std::string("Unable to determine if path is in directory tree. ").size());
}

TEST(SetTimes, RoundTripsAccessAndWriteTimes) {
  TempDir dir;
  const std::string file = dir / ".book.epub";
  writeFile(file, "x");
  const FileTime access = fileTimeFromUnix(1'600'000'000, 123'456'700);
  const FileTime write = fileTimeFromUnix(1'500'000'000, 0);
  ASSERT_TRUE(setTimes(write, access, write, file));
  platform::FileTimes times;
  ASSERT_TRUE(platform::readFileTimes(file, times));
  EXPECT_EQ(times.access, access);
  EXPECT_EQ(times.write, write);

  ASSERT_TRUE(setTimes(write, access, write, dir / ""));  // folders too
  ASSERT_TRUE(platform::readFileTimes(dir / "", times));
  EXPECT_EQ(times.write, write);

  EXPECT_FALSE(setTimes(write, access, write, dir / "missing.epub"));
}

TEST(TemporaryFolder, IsAnExistingFolder) {
  std::string folder;
  ASSERT_TRUE(temporaryFolder(folder));
  EXPECT_EQ(pathKind(folder), PathKind::Folder);
  bool absolute = false;
  ASSERT_TRUE(isAbsolutePath(nullptr, folder, absolute));
  EXPECT_TRUE(absolute);
}

}  // namespace
}  // namespace plimsy
