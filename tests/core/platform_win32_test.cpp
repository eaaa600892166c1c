// What only Windows has: sharing modes, the read-only attribute, creation
// times, paths past MAX_PATH, device names and UTF-16 names.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy::platform {
namespace {

using test::TempDir;

std::wstring wide(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())).wstring(); }

bool writeText(const std::string& path, const std::string& text) {
  File file;
  return file.open(path, File::Mode::WriteTruncate) && file.write(text.data(), text.size()) && file.close();
}

std::optional<std::string> readText(const std::string& path) {
  File file;
  if (!file.open(path, File::Mode::Read)) return std::nullopt;
  std::string text(1024, '\0');
  text.resize(file.read(text.data(), text.size()));
  return text;
}

bool isReadOnly(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void makeReadOnly(const std::string& path) {
  ASSERT_TRUE(::SetFileAttributesW(wide(path).c_str(), FILE_ATTRIBUTE_READONLY)) << path;
}

// Another program's handle on a file, with the sharing it allows.
class OtherProgram {
 public:
  OtherProgram(const std::string& path, DWORD access, DWORD share)
      : handle_(::CreateFileW(wide(path).c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~OtherProgram() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;
  bool holds() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// Wine keeps no creation time of its own: it reports another of the times.
bool underWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(Win32File, OpenFailuresSayWhy) {
  TempDir dir;
  const std::string held = dir / "held.xhtml";
  const std::string read = dir / "read.xhtml";
  const std::string existing = dir / "existing.zip";
  ASSERT_TRUE(writeText(held, "held") && writeText(read, "read") && writeText(existing, "taken"));
  ASSERT_TRUE(makeFolders(dir / "folder"));
  const OtherProgram exclusive(held, GENERIC_READ, 0);  // a reading program that shares nothing
  const OtherProgram reader(read, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(exclusive.holds() && reader.holds());
  const HANDLE pipe = ::CreateNamedPipeW(L"\\\\.\\pipe\\plimsy-platform-test", PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1,
                                         4096, 4096, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);

  using F = File::OpenFailure;
  const struct {
    std::string path;
    File::Mode mode;
    F expected;
  } cases[] = {
      {held, File::Mode::Read, F::SharingViolation},
      {held, File::Mode::WriteTruncate, F::SharingViolation},
      {read, File::Mode::Read, F::None},                       // readers share with readers
      {read, File::Mode::WriteTruncate, F::SharingViolation},  // but nobody writes under them
      {"CON", File::Mode::Read, F::NotRegular},
      {"NUL", File::Mode::WriteTruncate, F::NotRegular},
      {"\\\\.\\pipe\\plimsy-platform-test", File::Mode::Read, F::NotRegular},  // never connected to
      {"//./pipe/plimsy-platform-test", File::Mode::WriteTruncate, F::NotRegular},
      {existing, File::Mode::CreateNew, F::Exists},
      {dir / "folder", File::Mode::CreateNew, F::Exists},
      {dir / "folder", File::Mode::Read, F::Other},
      {dir / "missing", File::Mode::Read, F::Other},
      {dir / "free.zip", File::Mode::CreateNew, F::None},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + " mode " + std::to_string(static_cast<int>(c.mode)));
    File file;
    EXPECT_EQ(file.open(c.path, c.mode), c.expected == F::None);
    EXPECT_EQ(file.openFailure(), c.expected);
  }
  EXPECT_EQ(readText(held), std::nullopt);
  ::CloseHandle(pipe);

  // The one that held it is gone: the file was never touched.
  File again;
  ASSERT_TRUE(again.open(existing, File::Mode::Read));
  std::string text(16, '\0');
  text.resize(again.read(text.data(), text.size()));
  EXPECT_EQ(text, "taken");
}

TEST(Win32File, DevicesAreSpecialAndHaveNoIdentity) {
  for (const char* name : {"CON", "NUL", "nul", "COM1", "\\\\.\\pipe\\plimsy-none"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(isSpecialFile(name));
    FileIdentity identity;
    EXPECT_FALSE(fileIdentity(name, identity));
    MappedFile view;
    EXPECT_FALSE(view.open(name));
  }
  TempDir dir;
  ASSERT_TRUE(writeText(dir / "plain.txt", "x"));
  EXPECT_FALSE(isSpecialFile(dir / "plain.txt"));
  EXPECT_FALSE(isSpecialFile(dir.str()));
}

TEST(Win32File, ReadOnlyFilesAreRemovedAndReplaced) {
  TempDir dir;
  const std::string target = dir / "book.epub";
  ASSERT_TRUE(writeText(target, "old"));
  makeReadOnly(target);

  // A failed replace leaves the target as it was, attribute included.
  EXPECT_FALSE(renameReplacing(dir / "missing", target));
  EXPECT_TRUE(isReadOnly(target));
  EXPECT_EQ(readText(target), "old");

  // Replaced as on POSIX: the job was asked to write that path.
  ASSERT_TRUE(writeText(dir / "temp1.zip", "new"));
  EXPECT_TRUE(renameReplacing(dir / "temp1.zip", target));
  EXPECT_EQ(readText(target), "new");
  EXPECT_FALSE(entryExists(dir / "temp1.zip"));

  makeReadOnly(target);
  EXPECT_TRUE(removeFile(target));
  EXPECT_FALSE(entryExists(target));

  ASSERT_TRUE(makeFolders(dir / "tree/sub"));
  ASSERT_TRUE(writeText(dir / "tree/sub/locked.css", "x"));
  makeReadOnly(dir / "tree/sub/locked.css");
  makeReadOnly(dir / "tree/sub");
  std::string reason;
  EXPECT_TRUE(removeTree(dir / "tree", &reason)) << reason;
  EXPECT_FALSE(entryExists(dir / "tree"));
}

TEST(Win32File, ReplacingAFileThatAReaderHoldsFailsAndKeepsBoth) {
  TempDir dir;
  const std::string epub = dir / "book.epub";
  ASSERT_TRUE(writeText(epub, "old") && writeText(dir / "temp1.zip", "new"));
  {
    const OtherProgram reader(epub, GENERIC_READ, FILE_SHARE_READ);
    ASSERT_TRUE(reader.holds());
    EXPECT_FALSE(renameReplacing(dir / "temp1.zip", epub));
    EXPECT_FALSE(copyFileNoOverwrite(dir / "temp1.zip", epub));
  }
  EXPECT_EQ(readText(epub), "old");
  EXPECT_EQ(readText(dir / "temp1.zip"), "new");
}

TEST(Win32Times, AllThreeTimesAreSetAndReadBack) {
  TempDir dir;
  ASSERT_TRUE(writeText(dir / "file.txt", "x"));
  ASSERT_TRUE(makeFolders(dir / "folder"));
  // Odd 100-ns ticks: nothing is rounded on the way.
  const FileTime creation = 130'000'000'001'234'567;
  const FileTime access = 131'000'000'007'654'321;
  const FileTime write = 132'000'000'000'000'001;
  for (const std::string& path : {dir / "file.txt", dir / "folder"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(setFileTimes(path, creation, access, write));
    FileTimes times;
    ASSERT_TRUE(readFileTimes(path, times));
    EXPECT_EQ(times.access, access);
    EXPECT_EQ(times.write, write);
    ASSERT_TRUE(times.creation.has_value());
    if (!underWine()) {
      EXPECT_EQ(*times.creation, creation);
    }
  }
  EXPECT_FALSE(setFileTimes(dir / "missing", creation, access, write));
  FileTimes times;
  EXPECT_FALSE(readFileTimes(dir / "missing", times));
}

TEST(Win32Times, LocalTimesKeepTheirFractionOfASecond) {
  const FileTime local = 132'000'000'000'000'000 + 1'234'567;
  FileTime utc = 0;
  ASSERT_TRUE(localFileTimeToUtc(local, utc));
  EXPECT_EQ(utc % 10'000'000, 1'234'567u);
  // Whole minutes of offset, at most a day either way.
  const auto offset = static_cast<std::int64_t>(local) - static_cast<std::int64_t>(utc);
  EXPECT_EQ(offset % 600'000'000, 0);
  EXPECT_LE(offset < 0 ? -offset : offset, std::int64_t{864'000'000'000});
}

// Past MAX_PATH (260) every operation a job makes still works: users never
// type the \\?\ prefix.
TEST(Win32Paths, LongPathsWorkEverywhere) {
  TempDir dir;
  std::string deep = dir / "book";
  for (int level = 0; deep.size() < 400; ++level) deep += (level % 2 == 0 ? "/" : "\\") + std::string(40, 'a' + level);
  ASSERT_GT(deep.size(), 300u);

  ASSERT_TRUE(makeFolders(deep));
  EXPECT_EQ(pathKind(deep), PathKind::Folder);
  EXPECT_EQ(makeFolder(deep), MakeFolderResult::Exists);
  ASSERT_TRUE(writeText(deep + "/chapter.xhtml", "deep text"));
  EXPECT_EQ(readText(deep + "\\chapter.xhtml"), "deep text");
  MappedFile view;
  ASSERT_TRUE(view.open(deep + "/chapter.xhtml"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data()), view.size()), "deep text");
  view.close();
  EXPECT_TRUE(
      setFileTimes(deep + "/chapter.xhtml", 130'000'000'000'000'000, 130'000'000'000'000'000, 130'000'000'000'000'000));

  ASSERT_TRUE(renameNoReplace(deep + "/chapter.xhtml", deep + "/renamed.xhtml"));
  ASSERT_TRUE(copyFileNoOverwrite(deep + "/renamed.xhtml", deep + "/copy.xhtml"));
  ASSERT_TRUE(writeText(deep + "/new.xhtml", "newer"));
  ASSERT_TRUE(renameReplacing(deep + "/new.xhtml", deep + "/copy.xhtml"));
  std::vector<FolderItem> items;
  ASSERT_TRUE(listFolder(deep, items));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, "copy.xhtml");
  EXPECT_EQ(items[0].size, 5u);
  EXPECT_EQ(items[1].name, "renamed.xhtml");
  EXPECT_EQ(items[1].lastWrite, 130'000'000'000'000'000u);

  ASSERT_TRUE(makeFolder(dir / "backup") == MakeFolderResult::Made);
  std::string reason;
  ASSERT_TRUE(copyTree(dir / "book", dir / "backup", &reason)) << reason;
  EXPECT_EQ(readText(dir / "backup" + deep.substr((dir / "book").size()) + "/renamed.xhtml"), "deep text");

  for (const char* tree : {"book", "backup"}) {
    EXPECT_TRUE(removeTree(dir / tree, &reason)) << reason;
    EXPECT_FALSE(entryExists(dir / tree));
  }
}

TEST(Win32Paths, NamesOutsideAsciiRoundTrip) {
  TempDir dir;
  const std::set<std::string> names = {
      "\xC3\xA9t\xC3\xA9.xhtml",                                           // été: Latin-1 range
      "\xCE\xBA\xCE\xB5\xCF\x86\xCE\xAC\xCE\xBB\xCE\xB1\xCE\xB9\xCE\xBF",  // Greek
      "\xE7\xAC\xAC\xE4\xB8\x80\xE7\xAB\xA0.xhtml",                        // Chinese
      "\xF0\x9F\x93\x96 cover.jpg",  // outside the BMP: a surrogate pair in UTF-16
  };
  for (const std::string& name : names) {
    ASSERT_TRUE(writeText(dir.str() + name, name)) << name;
    EXPECT_EQ(pathKind(dir.str() + name), PathKind::File);
  }
  std::vector<FolderItem> items;
  ASSERT_TRUE(listFolder(dir.str(), items));
  std::set<std::string> listed;
  for (const FolderItem& item : items) {
    listed.insert(item.name);
    EXPECT_EQ(readText(dir.str() + item.name), item.name);
    EXPECT_EQ(item.size, item.name.size());
  }
  EXPECT_EQ(listed, names);
}

// The folder walk compares listed identities with fileIdentity's (the epub
// being written, a folder already on the way down): both must agree.
TEST(Win32Paths, ListedIdentitiesMatchFileIdentity) {
  TempDir dir;
  ASSERT_TRUE(writeText(dir / "a.xhtml", "a") && writeText(dir / "b.xhtml", "b"));
  ASSERT_TRUE(makeFolders(dir / "sub"));
  std::vector<FolderItem> items;
  ASSERT_TRUE(listFolder(dir.str(), items));
  ASSERT_EQ(items.size(), 3u);
  std::set<std::uint64_t> inodes;
  for (const FolderItem& item : items) {
    SCOPED_TRACE(item.name);
    FileIdentity identity;
    ASSERT_TRUE(fileIdentity(dir / item.name, identity));
    EXPECT_EQ(identity, item.identity);
    inodes.insert(item.identity.inode);
  }
  EXPECT_EQ(inodes.size(), 3u);
}

TEST(LocalAppData, AnAbsoluteVariableIsObeyedAndARelativeOneIgnored) {
  test::ScopedEnv localAppData("LOCALAPPDATA");
  localAppData.set("relative\\folder");
  const std::string fromShell = userSettingsBaseFolder();
  EXPECT_FALSE(fromShell.empty());
  EXPECT_NE(fromShell, "relative\\folder");
  for (const std::string value : {"D:\\Portable\\Data", "\\\\server\\share\\data", "C:/\xC3\xA9t\xC3\xA9"}) {
    localAppData.set(value);
    EXPECT_EQ(userSettingsBaseFolder(), value);
    EXPECT_EQ(environmentVariable("LOCALAPPDATA"), value);
  }
}

}  // namespace
}  // namespace plimsy::platform
