#include "core/platform.h"
#include "core/paths.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/filetime.h"
#include "support/scoped_env.h"
#include "support/special_files.h"
#include "support/temp_dir.h"
#include "support/times.h"

namespace fs = std::filesystem;

namespace plimsy::platform {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

std::vector<std::string> namesOf(const std::vector<FolderItem>& items) {
  std::vector<std::string> names;
  for (const FolderItem& item : items) names.push_back(item.name);
  return names;
}

const FolderItem* findItem(const std::vector<FolderItem>& items, const std::string& name) {
  for (const FolderItem& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

TEST(ListFolder, SortsWithoutRegardToCaseThenByBytes) {
  TempDir dir;
  // Where names differ only in case they are one name: "a" and "B" then
  // name the files "A" and "b".
  std::vector<std::string> expected = {".hidden", "A", "a", "a1", "Ab", "B", "b", "Z", "_x"};
  if (kWindowsNameRules) expected = {".hidden", "A", "a1", "Ab", "b", "Z", "_x"};
  for (const char* name : {"b", "A", "a", "_x", "B", "a1", "Ab", ".hidden", "Z"}) writeFile(dir.path() / name, "");
  std::vector<FolderItem> items;
  ASSERT_TRUE(listFolder(dir.str(), items));
  EXPECT_EQ(namesOf(items), expected);
}

TEST(ListFolder, GivesSizesTimesAndKinds) {
  TempDir dir;
  writeFile(dir.path() / "five.txt", "12345");
  fs::create_directory(dir.path() / "sub");
  const FileTime written = fileTimeFromUnix(1'650'000'000, 500'000'000);
  ASSERT_TRUE(setFileTimes(dir / "five.txt", written, written, written));

  std::vector<FolderItem> items;
  ASSERT_TRUE(listFolder(dir / "", items));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, "five.txt");
  EXPECT_EQ(items[0].size, 5u);
  EXPECT_EQ(items[0].lastWrite, written);
  EXPECT_FALSE(items[0].isFolder);
  EXPECT_FALSE(items[0].isSymlink);
  FileIdentity identity;
  ASSERT_TRUE(fileIdentity(dir / "five.txt", identity));
  EXPECT_EQ(items[0].identity, identity);
  EXPECT_EQ(items[1].name, "sub");
  EXPECT_TRUE(items[1].isFolder);
  EXPECT_EQ(items[1].size, 0u);
}

TEST(ListFolder, DescribesLinksByTheirTargets) {
  TempDir dir;
  writeFile(dir.path() / "target.txt", "1234567");
  fs::create_directory(dir.path() / "folder");
  if (!test::makeLink(dir.path() / "target.txt", dir.path() / "to-file")) GTEST_SKIP() << test::kNoLinks;
  if (!test::makeLink(dir.path() / "folder", dir.path() / "to-folder", true)) GTEST_SKIP() << test::kNoLinks;
  if (!test::makeLink(dir.path() / "gone", dir.path() / "to-nothing")) GTEST_SKIP() << test::kNoLinks;

  std::vector<FolderItem> items;
  ASSERT_TRUE(listFolder(dir.str(), items));
  ASSERT_EQ(items.size(), 5u);

  const FolderItem* toFile = findItem(items, "to-file");
  ASSERT_NE(toFile, nullptr);
  EXPECT_TRUE(toFile->isSymlink);
  EXPECT_FALSE(toFile->isFolder);
  EXPECT_EQ(toFile->size, 7u);
  EXPECT_EQ(toFile->identity, findItem(items, "target.txt")->identity);

  const FolderItem* toFolder = findItem(items, "to-folder");
  ASSERT_NE(toFolder, nullptr);
  EXPECT_TRUE(toFolder->isSymlink);
  EXPECT_TRUE(toFolder->isFolder);

  const FolderItem* broken = findItem(items, "to-nothing");
  ASSERT_NE(broken, nullptr);
  EXPECT_TRUE(broken->isSymlink);
  EXPECT_FALSE(broken->isFolder);
  EXPECT_EQ(broken->size, 0u);

  EXPECT_EQ(pathKind(dir / "to-folder"), PathKind::Folder);
  EXPECT_EQ(pathKind(dir / "to-file"), PathKind::File);
  EXPECT_EQ(pathKind(dir / "to-nothing"), PathKind::Missing);
  EXPECT_TRUE(entryExists(dir / "to-nothing"));
  EXPECT_FALSE(entryExists(dir / "gone"));
}

TEST(ListFolder, FailsRatherThanListingPartly) {
  TempDir dir;
  std::vector<FolderItem> items;
  EXPECT_FALSE(listFolder(dir / "missing", items));
  writeFile(dir.path() / "file", "");
  EXPECT_FALSE(listFolder(dir / "file", items));

  // Readable but not searchable: the names can be read, their sizes cannot.
  const fs::path locked = dir.path() / "locked";
  writeFile(locked / "inner.txt", "abc");
  fs::permissions(locked, fs::perms::owner_read, fs::perm_options::replace);
  std::error_code error;
  const bool enforced = !fs::exists(locked / "inner.txt", error);
  const bool listed = listFolder(locked.string(), items);
  fs::permissions(locked, fs::perms::owner_all, fs::perm_options::add);  // so that it can be removed
  if (!enforced) GTEST_SKIP() << "permissions are not enforced for this user";
  EXPECT_FALSE(listed);
  EXPECT_TRUE(items.empty());
}

TEST(File, WritesSeeksAndReadsBack) {
  TempDir dir;
  const std::string path = dir / "data.bin";
  File out;
  ASSERT_TRUE(out.open(path, File::Mode::WriteTruncate));
  ASSERT_TRUE(out.write("0123456789", 10));
  EXPECT_EQ(out.tell(), 10u);
  ASSERT_TRUE(out.seek(2));
  ASSERT_TRUE(out.write("ab", 2));
  EXPECT_EQ(out.tell(), 4u);
  EXPECT_EQ(out.size(), 10u);
  char ignored = 0;
  EXPECT_EQ(out.read(&ignored, 1), 0u);  // opened for writing only
  EXPECT_TRUE(out.failed());
  EXPECT_TRUE(out.close());
  EXPECT_EQ(readFile(path), "01ab456789");

  File in;
  ASSERT_TRUE(in.open(path, File::Mode::Read));
  File moved(std::move(in));
  EXPECT_FALSE(in.isOpen());
  char buffer[16] = {};
  ASSERT_TRUE(moved.seek(6));
  EXPECT_EQ(moved.read(buffer, sizeof buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(moved.read(buffer, sizeof buffer), 0u);
  EXPECT_FALSE(moved.failed());

  // Opening for writing truncates (once nobody reads it: on Windows a reader
  // shares the file with other readers only).
  moved.close();
  ASSERT_TRUE(out.open(path, File::Mode::WriteTruncate));
  EXPECT_EQ(out.size(), 0u);
  EXPECT_FALSE(in.open(dir / "missing.bin", File::Mode::Read));
}

TEST(MappedFile, MapsWholeFilesOnly) {
  TempDir dir;
  writeFile(dir.path() / "empty.zip", "");
  writeFile(dir.path() / "full.zip", std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  MappedFile map;
  EXPECT_FALSE(map.open(dir / "empty.zip"));
  EXPECT_FALSE(map.open(dir / "missing.zip"));
  EXPECT_FALSE(map.open(dir / ""));
  EXPECT_FALSE(map.isOpen());
  ASSERT_TRUE(map.open(dir / "full.zip"));
  ASSERT_EQ(map.size(), 22u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(map.data()), 4), std::string("PK\x05\x06", 4));
  map.close();
  EXPECT_FALSE(map.isOpen());
  EXPECT_EQ(map.size(), 0u);
}

TEST(MappedFile, CopiesRangesIntoAnotherFileAtItsPosition) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 300'000; ++i) bytes += static_cast<char>(i * 7);
  writeFile(dir.path() / "source.bin", bytes);
  MappedFile map;
  ASSERT_TRUE(map.open(dir / "source.bin"));
  File out;
  ASSERT_TRUE(out.open(dir / "out.bin", File::Mode::WriteTruncate));
  ASSERT_TRUE(out.write("head", 4));
  EXPECT_TRUE(map.copyTo(out, 1000, 200'000));
  EXPECT_TRUE(map.copyTo(out, 299'999, 1));
  EXPECT_TRUE(map.copyTo(out, 300'000, 0));
  EXPECT_EQ(out.tell(), 4u + 200'000 + 1);
  // Ranges that leave the file copy nothing.
  EXPECT_FALSE(map.copyTo(out, 299'999, 2));
  EXPECT_FALSE(map.copyTo(out, 300'001, 0));
  EXPECT_FALSE(map.copyTo(out, UINT64_MAX, 2));
  ASSERT_TRUE(out.close());
  EXPECT_EQ(readFile(dir.path() / "out.bin"), "head" + bytes.substr(1000, 200'000) + bytes.substr(299'999, 1));
  File closed;
  EXPECT_FALSE(map.copyTo(closed, 0, 1));
}

TEST(FileSystemChanges, NeverReplaceUnlessAsked) {
  TempDir dir;
  writeFile(dir.path() / "old.epub", "old");
  writeFile(dir.path() / "new.epub", "new");

  EXPECT_FALSE(renameNoReplace(dir / "new.epub", dir / "old.epub"));
  EXPECT_EQ(readFile(dir.path() / "old.epub"), "old");
  EXPECT_EQ(readFile(dir.path() / "new.epub"), "new");
  EXPECT_FALSE(copyFileNoOverwrite(dir / "new.epub", dir / "old.epub"));
  EXPECT_EQ(readFile(dir.path() / "old.epub"), "old");

  ASSERT_TRUE(copyFileNoOverwrite(dir / "new.epub", dir / "copy.epub"));
  EXPECT_EQ(readFile(dir.path() / "copy.epub"), "new");
  ASSERT_TRUE(renameNoReplace(dir / "copy.epub", dir / "moved.epub"));
  EXPECT_EQ(pathKind(dir / "copy.epub"), PathKind::Missing);

  ASSERT_TRUE(renameReplacing(dir / "new.epub", dir / "old.epub"));
  EXPECT_EQ(readFile(dir.path() / "old.epub"), "new");
  EXPECT_EQ(pathKind(dir / "new.epub"), PathKind::Missing);

  // Folders: an empty folder in the way is not replaced either.
  writeFile(dir.path() / "files/a.txt", "a");
  fs::create_directory(dir.path() / "temp1");
  EXPECT_FALSE(renameNoReplace(dir / "files", dir / "temp1"));
  ASSERT_TRUE(renameNoReplace(dir / "files", dir / "back1"));
  EXPECT_EQ(readFile(dir.path() / "back1/a.txt"), "a");

  ASSERT_TRUE(removeFile(dir / "old.epub"));
  EXPECT_FALSE(removeFile(dir / "old.epub"));
}

TEST(FileSystemChanges, OnlyRegularFilesAreOpenedAndNamesAreClaimedOnce) {
  TempDir dir;
  writeFile(dir.path() / "taken.zip", "x");
  if (!test::makePipe(dir.path() / "pipe")) GTEST_SKIP() << "no pipes in this file system";
  fs::create_directory(dir.path() / "folder");
  if (!test::makeLink(dir.path() / "gone", dir.path() / "dangling")) GTEST_SKIP() << test::kNoLinks;
  const struct {
    const char* name;
    File::Mode mode;
    File::OpenFailure expected;
  } opens[] = {
      {"pipe", File::Mode::Read, File::OpenFailure::NotRegular},  // would wait for a writer
      {"pipe", File::Mode::WriteTruncate, File::OpenFailure::NotRegular},
      {"folder", File::Mode::Read, File::OpenFailure::Other},
      {"taken.zip", File::Mode::CreateNew, File::OpenFailure::Exists},
      {"dangling", File::Mode::CreateNew, File::OpenFailure::Exists},  // never written through
      {"free.zip", File::Mode::CreateNew, File::OpenFailure::None},
  };
  for (const auto& [name, mode, expected] : opens) {
    SCOPED_TRACE(name);
    File file;
    EXPECT_EQ(file.open(dir / name, mode), expected == File::OpenFailure::None);
    EXPECT_EQ(file.openFailure(), expected);
  }
  EXPECT_TRUE(isSpecialFile(dir / "pipe"));
  EXPECT_FALSE(isSpecialFile(dir / "taken.zip"));
  MappedFile map;
  EXPECT_FALSE(map.open(dir / "pipe"));

  EXPECT_EQ(makeFolder(dir / "temp1"), MakeFolderResult::Made);
  EXPECT_EQ(makeFolder(dir / "temp1"), MakeFolderResult::Exists);
  EXPECT_EQ(makeFolder(dir / "missing/temp1"), MakeFolderResult::Failed);
  EXPECT_TRUE(makeFolders(dir / "missing/deep/er"));
}

TEST(FileSystemChanges, FreshWritesMakeRegularFilesAndNeverFollowALink) {
  TempDir dir;
  writeFile(dir.path() / "taken.txt", "old and longer");
  writeFile(dir.path() / "outside.txt", "keep");
  fs::create_directory(dir.path() / "folder");
  if (!test::makeLink(dir.path() / "outside.txt", dir.path() / "link")) GTEST_SKIP() << test::kNoLinks;
  if (!test::makeLink(dir.path() / "gone", dir.path() / "dangling")) GTEST_SKIP() << test::kNoLinks;
  const bool pipes = test::makePipe(dir.path() / "pipe");
  const struct {
    const char* name;
    File::OpenFailure expected;
  } opens[] = {
      {"new.txt", File::OpenFailure::None}, {"taken.txt", File::OpenFailure::None},  // emptied
      {"link", File::OpenFailure::Other},   {"dangling", File::OpenFailure::Other},  // would make "gone"
      {"folder", File::OpenFailure::Other}, {"pipe", pipes ? File::OpenFailure::NotRegular : File::OpenFailure::None},
  };
  for (const auto& [name, expected] : opens) {
    SCOPED_TRACE(name);
    File file;
    EXPECT_EQ(file.open(dir / name, File::Mode::WriteFresh), expected == File::OpenFailure::None);
    EXPECT_EQ(file.openFailure(), expected);
    if (file.isOpen()) {
      EXPECT_TRUE(file.write("new", 3) && file.close());
    }
  }
  EXPECT_EQ(readFile(dir.path() / "new.txt"), "new");
  EXPECT_EQ(readFile(dir.path() / "taken.txt"), "new");
  EXPECT_EQ(readFile(dir.path() / "outside.txt"), "keep");
  EXPECT_FALSE(fs::exists(dir.path() / "gone"));
}

TEST(FileSystemChanges, TimesSetThroughAHandleEqualThoseSetByPath) {
  TempDir dir;
  FileTime dos = 0;
  ASSERT_TRUE(dosDateTimeToFileTime(0x5821, 0x5000, dos));  // 2024-01-01 10:00:00
  const FileTime times[] = {dos, fileTimeFromUnix(1'650'000'000, 500'000'000), fileTimeFromUnix(315'532'800, 0),
                            fileTimeFromUnix(4'354'819'198, 0), 132'000'000'000'000'001};
  for (const FileTime time : times) {
    SCOPED_TRACE(time);
    File file;
    ASSERT_TRUE(file.open(dir / "handle.txt", File::Mode::WriteFresh));
    ASSERT_TRUE(file.write("data", 4));
    EXPECT_TRUE(file.setTimes(time, time, time));
    ASSERT_TRUE(file.close());  // closing does not change them
    writeFile(dir.path() / "path.txt", "data");
    ASSERT_TRUE(setFileTimes(dir / "path.txt", time, time, time));
    FileTimes byHandle;
    FileTimes byPath;
    ASSERT_TRUE(readFileTimes(dir / "handle.txt", byHandle));
    ASSERT_TRUE(readFileTimes(dir / "path.txt", byPath));
    EXPECT_EQ(byHandle.write, byPath.write);
    EXPECT_EQ(byHandle.access, byPath.access);
    EXPECT_EQ(byHandle.write, time);  // odd 100-ns ticks too: nothing is rounded on the way
  }
  File reader;
  ASSERT_TRUE(reader.open(dir / "path.txt", File::Mode::Read));
  EXPECT_FALSE(reader.setTimes(dos, dos, dos));
  reader.close();
  EXPECT_FALSE(reader.setTimes(dos, dos, dos));
}

TEST(FileSystemChanges, TreesAreCopiedAndRemovedWithoutFollowingLinks) {
  TempDir dir;
  writeFile(dir.path() / "outside/keep.txt", "keep");
  writeFile(dir.path() / "book/OEBPS/a.xhtml", "a");
  if (!test::makeLink(dir.path() / "outside", dir.path() / "book" / "link", true)) GTEST_SKIP() << test::kNoLinks;
  fs::create_directory(dir.path() / "back1");
  ASSERT_TRUE(copyTree(dir / "book/", dir / "back1"));
  EXPECT_EQ(readFile(dir.path() / "back1/OEBPS/a.xhtml"), "a");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "back1" / "link"));
  std::string reason;
  EXPECT_FALSE(copyTree(dir / "book", dir / "back2", &reason));  // the target must exist
  EXPECT_FALSE(reason.empty());

  // A link named with a trailing separator is removed as the link it is.
  ASSERT_TRUE(removeTree(dir / "back1/link/"));
  ASSERT_TRUE(removeTree(dir / "book"));
  EXPECT_EQ(readFile(dir.path() / "outside/keep.txt"), "keep");
  EXPECT_EQ(pathKind(dir / "book"), PathKind::Missing);
}

// Central European time: UTC+1 in winter, UTC+2 in summer.
class LocalTime : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ScopedTimeZone::kSupported) GTEST_SKIP() << "the time zone cannot be set for one process";
  }
  test::ScopedTimeZone zone_{test::kCentralEuropeanTime};
};

TEST_F(LocalTime, UsesTheOffsetInForceOnThatDate) {
  using test::utc;
  FileTime converted = 0;
  ASSERT_TRUE(localFileTimeToUtc(utc(2022, 1, 15, 12) + 1234, converted));
  EXPECT_EQ(converted, utc(2022, 1, 15, 11) + 1234);
  ASSERT_TRUE(localFileTimeToUtc(utc(2022, 7, 1, 0), converted));
  EXPECT_EQ(converted, utc(2022, 6, 30, 22));
  // The last minute before the change in October is still summer time.
  ASSERT_TRUE(localFileTimeToUtc(utc(2022, 10, 30, 1, 59), converted));
  EXPECT_EQ(converted, utc(2022, 10, 29, 23, 59));
}

// Names the file system takes for one file: exactly equal on POSIX; on
// Windows equal in NTFS's upper case, one UTF-16 unit at a time (letters
// beyond ASCII too; no unit becomes two, and surrogates stay).
TEST(FileNameKey, NamesMeetAsTheFileSystemComparesThem) {
  const struct {
    const char* a;
    const char* b;
    bool sameOnWindows;
  } cases[] = {
      {"chapter.xhtml", "chapter.xhtml", true},
      {"Chapter.xhtml", "chapter.XHTML", true},
      {"\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89", true},  // Été, éTÉ
      {"\xCE\xA9", "\xCF\x89", true},                    // Ω, ω
      {"\xC3\x9F", "SS", false},                         // ß is no SS
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8", false},   // Deseret: a pair of surrogates
      {"a.xhtml", "b.xhtml", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    const bool same = fileNameKey(c.a) == fileNameKey(c.b);
    EXPECT_EQ(same, kWindowsNameRules ? c.sameOnWindows : std::string(c.a) == c.b);
  }
  EXPECT_EQ(fileNameKey("chapter.xhtml"), kWindowsNameRules ? "CHAPTER.XHTML" : "chapter.xhtml");
}

TEST(FileSystemChanges, OnlyEmptyFoldersAreRemovedAsEmpty) {
  TempDir dir;
  writeFile(dir.path() / "full" / "a.txt", "a");
  fs::create_directories(dir.path() / "empty");
  EXPECT_FALSE(removeEmptyFolder(dir / "full"));
  EXPECT_EQ(readFile(dir.path() / "full" / "a.txt"), "a");
  EXPECT_TRUE(removeEmptyFolder(dir / "empty/"));
  EXPECT_FALSE(fs::exists(dir.path() / "empty"));
  EXPECT_FALSE(removeEmptyFolder(dir / "missing"));
}

// The analysis log's folder is the user's own: on POSIX the first of these
// that holds an absolute path; never /tmp, which every user shares.
#ifndef _WIN32
TEST(UserTemporaryFolder, TakesTheFirstOfTheUsersOwnFolders) {
  TempDir dir;
  const std::string home = dir / "home";
  test::ScopedEnv tmpdir("TMPDIR");
  test::ScopedEnv runtime("XDG_RUNTIME_DIR");
  test::ScopedEnv cache("XDG_CACHE_HOME");
  test::ScopedEnv homeVariable("HOME");
  using Value = std::optional<std::string>;
  const struct {
    Value tmpdir, runtime, cache, home;
    std::string folder;
  } cases[] = {
      {"/t", "/run/user/1000", "/c", home, "/t"},
      {std::nullopt, "/run/user/1000", "/c", home, "/run/user/1000"},
      {"relative", "/run/user/1000", "/c", home, "/run/user/1000"},
      {"", std::nullopt, dir / "cache", home, dir / "cache"},
      {std::nullopt, std::nullopt, std::nullopt, home, home + "/.cache"},
      {std::nullopt, "", "relative", home + "/", home + "/.cache"},
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt, ""},
      {std::nullopt, std::nullopt, std::nullopt, "relative", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const auto put = [](test::ScopedEnv& variable, const Value& value) {
      if (value)
        variable.set(*value);
      else
        variable.unset();
    };
    put(tmpdir, c.tmpdir);
    put(runtime, c.runtime);
    put(cache, c.cache);
    put(homeVariable, c.home);
    EXPECT_EQ(userTemporaryFolder(), c.folder);
  }
  // The cache folder is made when a new account has none yet.
  EXPECT_TRUE(fs::is_directory(dir.path() / "cache"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "home" / ".cache"));
}
#else
TEST(UserTemporaryFolder, IsTheUsersTempFolder) {
  TempDir dir;
  test::ScopedEnv tmp("TMP");
  tmp.set(dir.str());
  EXPECT_EQ(userTemporaryFolder(), utf8FromPath(dir.path()));
}
#endif

}  // namespace
}  // namespace plimsy::platform
