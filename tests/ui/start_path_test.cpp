// A path handed to the program (its command line, "Open with", a later
// start): what the command line asks for, the names the other line gets, and
// what the main dialog does with the path.

#include <gtest/gtest.h>

#include <filesystem>

#include "core/paths.h"
#include "core/settings.h"
#include "gui_test_support.h"
#include "ui/control_ids.h"
#include "ui/dlg_main.h"
#include "ui/startup.h"

namespace plimsy::ui {
namespace {

using namespace main_ids;
using test::native;

TEST(StartRequest, HelpVersionAndThePath) {
  using eKind = sStartRequest::eKind;
  const struct {
    std::vector<std::string> arguments;
    eKind kind;
    std::string path;
  } cases[] = {
      {{"plimsy"}, eKind::Window, ""},
      {{"plimsy", "/books/a.epub"}, eKind::Window, "/books/a.epub"},
      {{"plimsy", "/books/a.epub", "/books/b.epub"}, eKind::Window, "/books/a.epub"},
      {{"plimsy", "--help"}, eKind::Help, ""},
      {{"plimsy", "-h"}, eKind::Help, ""},
      {{"plimsy", "--version"}, eKind::Version, ""},
      {{"plimsy", "/books/a.epub", "--version"}, eKind::Version, ""},
      {{"plimsy", "--", "--help"}, eKind::Window, "--help"},
      {{"plimsy", "--", "-h", "--version"}, eKind::Window, "-h"},
  };
  for (const auto& c : cases) {
    const sStartRequest request = startRequest(c.arguments);
    EXPECT_EQ(request.kind, c.kind) << c.arguments.back();
    EXPECT_EQ(request.path, c.path) << c.arguments.back();
  }
}

TEST(StartRequest, TheHelpFitsATerminalAndTheVersionIsTheTitles) {
  const std::string help = usageText();
  std::size_t start = 0;
  for (std::size_t end = help.find('\n'); end != std::string::npos; end = help.find('\n', start = end + 1))
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
  EXPECT_NE(help.find("--help"), std::string::npos);
  EXPECT_NE(help.find("--version"), std::string::npos);
  EXPECT_EQ(versionText().rfind("Plimsy for Epubs version 0.1 ", 0), 0u) << versionText();
  EXPECT_EQ(versionText().back(), '\n');
}

TEST(StartRequest, ADisplayIsMissingOnlyWhereThePlatformNeedsOne) {
  const std::string none = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  const struct {
    const char* platform;
    const char* display;
    const char* wayland;
    std::string problem;
  } cases[] = {
      {"", "", "", none},
      {"xcb", "", "", none},
      {"wayland", "", "", none},
      {"wayland-egl;xcb", "", "", none},
      {"xcb:nograb", "", "", none},
      {"", ":0", "", ""},
      {"", "", "wayland-0", ""},
      {"offscreen", "", "", ""},
      {"minimal", "", "", ""},
      {"vnc:size=800x600", "", "", ""},
      {"xcb;offscreen", "", "", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(displayProblem(c.platform, c.display, c.wayland), c.problem) << "platform " << c.platform;
  EXPECT_EQ(noDisplayLine(none), "No display: " + none + "; plimsy-cli runs the same jobs from a terminal");
}

TEST(StartRequest, APathIsMadeAbsoluteAgainstTheCurrentFolder) {
  const std::string current = utf8FromPath(std::filesystem::current_path());
  const std::string root = native("/books/a.epub");
  EXPECT_EQ(absoluteStartPath(""), "");
  EXPECT_EQ(absoluteStartPath(native("a.epub")), joinPath(current, "a.epub"));
  EXPECT_EQ(absoluteStartPath(native("x/../a.epub")), joinPath(current, "a.epub"));
  EXPECT_EQ(absoluteStartPath(native("./books/")), joinPath(current, native("books/")));
  bool absolute = false;
  ASSERT_TRUE(isAbsolutePath(nullptr, absoluteStartPath(root), absolute));
  EXPECT_TRUE(absolute);
  EXPECT_EQ(fileNamePart(absoluteStartPath(root)), "a.epub");
#ifdef _WIN32
  EXPECT_EQ(absoluteStartPath("C:\\books\\.\\a.epub"), "C:\\books\\a.epub");
  EXPECT_EQ(absoluteStartPath("C:/books/a.epub"), "C:\\books\\a.epub");
  EXPECT_EQ(absoluteStartPath("C:\\books\\Name\""), "C:\\books\\Name");
#else
  EXPECT_EQ(absoluteStartPath("/books/./mine/../a.epub"), "/books/a.epub");
#endif
}

TEST(NamesBeside, TheFolderOfAnEpubAndTheEpubOfAFolder) {
  const struct {
    const char* file;
    const char* folder;
  } folders[] = {
      {"/books/Name.epub", "/books/Name"},
      {"/books/Name.EPUB", "/books/Name"},
      {"/books/my.book.v2.epub", "/books/my.book.v2"},
      {"/books/Ærø 書.zip", "/books/Ærø 書"},
      {"Name.epub", "Name"},
      {"/books/Name", ""},      // no extension: the name is the file's own
      {"/books/.epub", ""},     // nothing before it: the folder holding it
      {"/books/..epub", ""},    // "." would be that folder too
      {"/books/. ..epub", ""},  // and so would what Windows trims to "."
      {"/books.d/Name", ""},    // the dot belongs to the folder
      {"/books/Name. v2", ""},  // a dot followed by a space is no extension's
  };
  for (const auto& c : folders) EXPECT_EQ(folderNamedAfterFile(native(c.file)), native(c.folder)) << c.file;

  const struct {
    const char* folder;
    const char* epub;
  } epubs[] = {
      {"/books/Name", "/books/Name.epub"},
      {"/books/Name/", "/books/Name.epub"},
      {"/books/Name//", "/books/Name.epub"},
      {"/books/my.book", "/books/my.book.epub"},
      {"Name", "Name.epub"},
      {"/", ""},
      {"", ""},
      {"/books/..", ""},
      {"/books/./", ""},
  };
  for (const auto& c : epubs) EXPECT_EQ(epubNamedAfterFolder(native(c.folder)), native(c.epub)) << c.folder;
#ifdef _WIN32
  EXPECT_EQ(epubNamedAfterFolder("C:\\"), "");
  EXPECT_EQ(epubNamedAfterFolder("C:"), "");
  EXPECT_EQ(epubNamedAfterFolder("C:/books/Name/"), "C:/books/Name.epub");
  EXPECT_EQ(folderNamedAfterFile("C:\\books\\Name.epub"), "C:\\books\\Name");
#endif
}

class StartPath : public test::cMainDialogTest {};

TEST_F(StartPath, FillsBothLinesAndFocusesTheJobItAsksFor) {
  test::writeFile(folder_.path() / "Novel.epub", "an epub");
  test::writeFile(folder_.path() / "README", "no extension");
  const std::string old = "previous";
  const std::string unchanged = "(unchanged)";
  const struct {
    std::string given;
    std::string files;  // the lines afterwards; unchanged: the old texts stay
    std::string epub;
    int focus;  // 0: the focus is not moved
  } cases[] = {
      {folder_ / "Novel.epub", folder_ / "Novel", folder_ / "Novel.epub", kUnzip},
      {folder_ / "book", folder_ / "book", folder_ / "book.epub", kZip},
      {folder_ / "book" + kPreferredSeparator, folder_ / "book" + kPreferredSeparator, folder_ / "book.epub", kZip},
      // The folder beside it would be the file itself: the Unzip job offers one.
      {folder_ / "README", "", folder_ / "README", kUnzip},
      {folder_ / "missing.epub", unchanged, unchanged, 0},
      {native("book"), unchanged, unchanged, 0},  // relative: whose current folder?
      {"", unchanged, unchanged, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    line(kFilesLine).setText(old);
    line(kEpubLine).setText(old);
    updateSettings([&old](cSettings& s) { s.workOrder.ZipPath = s.workOrder.FilesDir = old; });
    std::filesystem::remove(test::settingsFile());
    line(kEpubLine).setFocus();

    dialog_->takeStartPath(c.given);
    const bool taken = c.files != unchanged;
    EXPECT_EQ(line(kFilesLine).text(), taken ? c.files : old);
    EXPECT_EQ(line(kEpubLine).text(), taken ? c.epub : old);
    // Read into the settings (a folder that exists gets its separator there) and saved at once.
    const cSettings settings = settingsSnapshot();
    EXPECT_EQ(settings.workOrder.ZipPath, taken ? c.epub : old);
    const bool isFolder = !c.files.empty() && std::filesystem::is_directory(pathFromUtf8(c.files));
    EXPECT_EQ(settings.workOrder.FilesDir, !taken ? old : isFolder ? withTrailingSeparator(c.files) : c.files);
    EXPECT_EQ(std::filesystem::exists(test::settingsFile()), taken);
    EXPECT_EQ(dialog_->focusedControl(), dialog_->control(c.focus ? c.focus : kEpubLine));
  }
  EXPECT_TRUE(messages().empty());
}

TEST_F(StartPath, ALaterStartsMessageIsTakenLikeTheCommandLine) {
  test::writeFile(folder_.path() / "Novel.epub", "an epub");
  EXPECT_EQ(dialog_->send(openPathMessage(folder_ / "Novel.epub")), 1);
  EXPECT_EQ(line(kEpubLine).text(), folder_ / "Novel.epub");
  EXPECT_EQ(line(kFilesLine).text(), folder_ / "Novel");
  EXPECT_EQ(dialog_->focusedControl(), dialog_->control(kUnzip));
}

TEST_F(StartPath, AnOtherNameThatTheLineWouldCutIsLeftOut) {
  // A folder whose epub would pass the line's 999 characters: a cut name
  // would be another file.
  std::string folder = folder_.str();
  while (folder.size() < 997) {
    folder += std::string(std::min<std::size_t>(200, 997 - folder.size()), 'n');
    if (folder.size() < 997) folder += kPreferredSeparator;
  }
  std::error_code error;
  std::filesystem::create_directories(test::longPathSafe(pathFromUtf8(folder)), error);
  if (error) GTEST_SKIP() << "no folder this deep here: " << error.message();
  dialog_->takeStartPath(folder);
  EXPECT_EQ(line(kFilesLine).text(), folder);
  EXPECT_EQ(line(kEpubLine).text(), "");
}

}  // namespace
}  // namespace plimsy::ui
