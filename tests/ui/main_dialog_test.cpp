// The main dialog: its lines, drag and drop, the shell-open buttons, the
// browse buttons, closing, the bug report and the instance query.

#include <gtest/gtest.h>

#include "core/paths.h"
#include "core/settings.h"
#include "gui_test_support.h"
#include "ui/clipboard.h"
#include "ui/control_ids.h"
#include "ui/dlg_main.h"
#include "ui/open_failures.h"
#include "ui/ui_values.h"
#include "window_driver.h"

namespace plimsy::ui {
namespace {

using namespace main_ids;

class MainDialog : public test::cMainDialogTest {
 protected:
  sPoint centreOf(int id) const {
    const sPixelRect rect = line(id).rectInDialog();
    return {rect.x + rect.width / 2, rect.y + rect.height / 2};
  }
  // A point on the dialog that lies on neither line.
  sPoint elsewhere() const { return {5, 5}; }
  void drop(std::vector<std::string> paths, sPoint point) { dialog_->send(dropMessage(std::move(paths), point)); }
  std::string savedFile() const {
    return std::filesystem::exists(test::settingsFile()) ? test::readFile(test::settingsFile()) : "";
  }
};

TEST(MainDialogStart, ShowsTheSettingsLinesTitleAndFocus) {
  test::resetSettings();
  updateSettings([](cSettings& s) {
    s.workOrder.FilesDir = "/books/mine/";
    s.workOrder.ZipPath = "/books/mine.epub";
  });
  test::sFakeDesktop desktop;
  cDlgMain dialog(desktop.services());
  ASSERT_TRUE(dialog.create(nullptr));
  EXPECT_EQ(dialog.templateId(), 101);
  EXPECT_EQ(cWin(dialog.control(kFilesLine)).text(), "/books/mine/");
  EXPECT_EQ(cWin(dialog.control(kEpubLine)).text(), "/books/mine.epub");
  EXPECT_EQ(cWin(dialog.dialogWindow()).text(), "Plimsy for Epubs version 0.1");
  EXPECT_TRUE(test::acceptsDroppedFiles(dialog.dialogWindow()));
  EXPECT_TRUE(test::isDefaultButton(dialog.control(kZip)));
  EXPECT_EQ(dialog.focusedControl(), dialog.control(kZip));
}

TEST_F(MainDialog, ManyDroppedItemsAreRefused) {
  drop({folder_ / "book", folder_ / "notes.txt", folder_ / "x"}, elsewhere());
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "You dragged 3 items.\n\nPlease drag a single epub or a single folder with files inside it.");
  EXPECT_EQ(messages()[0].icon, eIcon::Warning);
  EXPECT_TRUE(messages()[0].owned);
  drop({}, elsewhere());
  EXPECT_EQ(messages().size(), 1u);
  EXPECT_EQ(line(kFilesLine).text(), "");
}

TEST_F(MainDialog, AFolderGoesToTheFilesLineUnlessDroppedOnTheEpubLine) {
  const std::string book = folder_ / "book";
  drop({book}, centreOf(kEpubLine));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "You've dragged a folder to the epub line.  That won't work. Only a file can go there.");
  EXPECT_EQ(line(kFilesLine).text(), "");

  drop({book}, {60, 30});  // on the logo
  EXPECT_EQ(line(kFilesLine).text(), book);
  EXPECT_EQ(settingsSnapshot().workOrder.FilesDir, book + kPreferredSeparator);
  EXPECT_NE(savedFile().find("<FilesDir>" + book + kPreferredSeparator + "</FilesDir>"), std::string::npos);
  EXPECT_EQ(messages().size(), 1u);
}

TEST_F(MainDialog, AFileOfAnyKindGoesToTheEpubLineUnlessDroppedOnTheFilesLine) {
  const std::string notes = folder_ / "notes.txt";
  drop({notes}, centreOf(kFilesLine));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "You've dragged a file to the line for the files folder.  That won't work. Only a folder can go there.");
  EXPECT_EQ(line(kEpubLine).text(), "");

  drop({notes}, centreOf(kEpubLine));
  EXPECT_EQ(line(kEpubLine).text(), notes);
  EXPECT_EQ(settingsSnapshot().workOrder.ZipPath, notes);
  EXPECT_NE(savedFile().find("<ZipPath>" + notes + "</ZipPath>"), std::string::npos);
}

TEST_F(MainDialog, ADroppedPathThatCannotBeFoundIsReported) {
  drop({folder_ / "gone"}, elsewhere());
  drop({""}, elsewhere());  // not a local file
  ASSERT_EQ(messages().size(), 2u);
  EXPECT_EQ(messages()[0].text, "The file you dragged cannot be found.");
  EXPECT_EQ(messages()[1].text, "The file you dragged cannot be found.");
}

TEST_F(MainDialog, LinesAreReadTrimmedCutAndWithASeparatorAddedToAnExistingFolder) {
  const std::string book = folder_ / "book";
  line(kFilesLine).setText("  " + book + " \t");
  line(kEpubLine).setText(" /somewhere/else/book.epub  ");
  cSettings settings;
  EXPECT_TRUE(dialog_->readLines(settings));
  EXPECT_EQ(settings.workOrder.FilesDir, book + kPreferredSeparator);
  EXPECT_EQ(settings.workOrder.ZipPath, test::native("/somewhere/else/book.epub"));
  EXPECT_EQ(line(kFilesLine).text(), "  " + book + " \t");  // the line itself is unchanged

  line(kFilesLine).setText(folder_ / "missing");
  dialog_->readLines(settings);
  EXPECT_EQ(settings.workOrder.FilesDir, folder_ / "missing");

  const std::string longPath = "/" + std::string(1200, 'x');
  line(kEpubLine).setText(longPath);
  dialog_->readLines(settings);
  EXPECT_EQ(settings.workOrder.ZipPath, test::native(longPath.substr(0, 999)));
}

TEST_F(MainDialog, EscapeOrCloseSavesTheLinesAndEndsTheProgram) {
  line(kFilesLine).setText(folder_ / "book");
  line(kEpubLine).setText("/tmp/out.epub");
  test::pressKey(dialog_->dialogWindow(), test::eKey::Escape);
  EXPECT_TRUE(dialog_->isDestroyed());
  EXPECT_EQ(desktop_.quits, 1);
  EXPECT_NE(savedFile().find("<FilesDir>" + (folder_ / "book/") + "</FilesDir>"), std::string::npos);
  EXPECT_NE(savedFile().find("<ZipPath>" + test::native("/tmp/out.epub") + "</ZipPath>"), std::string::npos);

  test::sFakeDesktop desktop;
  cDlgMain other(desktop.services());
  ASSERT_TRUE(other.create(nullptr));
  cWin(other.control(kEpubLine)).setText("/tmp/closed.epub");
  test::clickControl(other.control(kClose));
  EXPECT_TRUE(other.isDestroyed());
  EXPECT_EQ(desktop.quits, 1);
  EXPECT_NE(savedFile().find("<ZipPath>" + test::native("/tmp/closed.epub") + "</ZipPath>"), std::string::npos);

  cDlgMain third(desktop.services());
  ASSERT_TRUE(third.create(nullptr));
  test::pressCloseBox(third.dialogWindow());
  EXPECT_TRUE(third.isDestroyed());
  EXPECT_EQ(desktop.quits, 2);
}

TEST_F(MainDialog, ShellOpenButtonsCheckTheirLine) {
  const std::pair<int, std::string> cases[] = {
      {kOpenEpub, "Can't open a blank!"},
      {kExploreEpub, "Can't open a blank!"},
      {kExploreFiles, "Can't open a blank!"},
  };
  for (const auto& [id, expected] : cases) {
    dialog_->sendCommand(id);
    ASSERT_FALSE(messages().empty());
    EXPECT_EQ(messages().back().text, expected);
    EXPECT_EQ(messages().back().icon, eIcon::Information);
    EXPECT_TRUE(messages().back().owned);
  }
  line(kEpubLine).setText(folder_ / "gone.epub");
  line(kFilesLine).setText(folder_ / "gone");
  dialog_->sendCommand(kOpenEpub);
  EXPECT_EQ(messages().back().text, "The specified epub file doesn't exist.");
  dialog_->sendCommand(kExploreFiles);
  EXPECT_EQ(messages().back().text, "The specified files directory doesn't exist.");
  line(kEpubLine).setText(folder_ / "book");
  line(kFilesLine).setText(folder_ / "notes.txt");
  dialog_->sendCommand(kOpenEpub);
  EXPECT_EQ(messages().back().text, "The specified epub file is a directory.");
  dialog_->sendCommand(kExploreFiles);
  EXPECT_EQ(messages().back().text, "The specified files directory isn't a directory.");
  EXPECT_TRUE(desktop_.opener.opened.empty());
}

TEST_F(MainDialog, ShellOpenButtonsOpenThePathOrExplainTheFailure) {
  line(kEpubLine).setText(folder_ / "notes.txt");
  line(kFilesLine).setText(folder_ / "book");
  dialog_->sendCommand(kOpenEpub);
  dialog_->sendCommand(kExploreEpub);
  dialog_->sendCommand(kExploreFiles);
  EXPECT_EQ(desktop_.opener.opened,
            (std::vector<std::string>{folder_ / "notes.txt", folder_.path().string(), folder_ / "book/"}));
  EXPECT_TRUE(messages().empty());

  desktop_.opener.result = 31;
  dialog_->sendCommand(kOpenEpub);
  dialog_->sendCommand(kExploreEpub);
  dialog_->sendCommand(kExploreFiles);
  dialog_->sendCommand(kHelp);
  const std::string noProgram = "There is no application associated with the given file name.";
  ASSERT_EQ(messages().size(), 4u);
  EXPECT_EQ(messages()[0].text, "Unable to open epub. " + noProgram);
  EXPECT_EQ(messages()[1].text, formatText(kOpenEpubFolderFailure, noProgram));
  EXPECT_EQ(messages()[2].text, formatText(kOpenFilesFolderFailure, noProgram));
  // Help names the page it tried to open.
  EXPECT_EQ(messages()[3].text, "Unable to open the user guide. " + noProgram + "\n" + helpPagePath());
  EXPECT_FALSE(messages()[0].owned);
  for (const test::sShownMessage& shown : messages()) EXPECT_EQ(shown.icon, eIcon::Information);
}

TEST_F(MainDialog, BrowseButtonsFillTheLinesAndSave) {
  desktop_.presenter.pickedFolders = {folder_ / "book"};
  desktop_.presenter.pickedFiles = {folder_ / "new.epub"};
  dialog_->sendCommand(kBrowseFiles);
  dialog_->sendCommand(kBrowseEpub);
  EXPECT_EQ(line(kFilesLine).text(), folder_ / "book/");
  EXPECT_EQ(line(kEpubLine).text(), folder_ / "new.epub");
  EXPECT_NE(savedFile().find("<ZipPath>" + (folder_ / "new.epub") + "</ZipPath>"), std::string::npos);
  // Cancelled pickers change nothing.
  dialog_->sendCommand(kBrowseFiles);
  dialog_->sendCommand(kBrowseEpub);
  EXPECT_EQ(line(kFilesLine).text(), folder_ / "book/");
  EXPECT_EQ(line(kEpubLine).text(), folder_ / "new.epub");
}

TEST_F(MainDialog, BugReportNamesTheAddressAndCanCopyIt) {
  copyToClipboard("before");
  desktop_.presenter.taskAnswers = {kIdOk, kTaskButtonId};
  dialog_->sendCommand(kReportBug);
  EXPECT_EQ(test::clipboardText(), "before");
  dialog_->sendCommand(kReportBug);
  EXPECT_EQ(test::clipboardText(), kBugReportAddress);
  ASSERT_EQ(desktop_.presenter.tasks.size(), 2u);
  const sTaskDialog& task = desktop_.presenter.tasks[0];
  EXPECT_EQ(task.instruction, "Report a bug");
  EXPECT_EQ(task.customButton, "Copy email address to clipboard");
  EXPECT_EQ(task.commonButton, sTaskDialog::eCommonButton::Ok);
  EXPECT_EQ(task.content.rfind("If you find a bug in this program, please tell me about it so I can fix it.\n\n", 0),
            0u);
  EXPECT_NE(task.content.find("\n\nMy email address is bugs@plimsy.example.\n\nThanks!"), std::string::npos);
}

TEST_F(MainDialog, HelpOptionsAndTheInstanceQuery) {
  dialog_->sendCommand(kHelp);
  EXPECT_EQ(desktop_.opener.opened, std::vector<std::string>{helpPagePath()});

  bool optionsShown = false;
  test::runSoon([&] {
    const WindowRef modal = test::activeModalDialog();
    optionsShown = modal && cWin(modal).text() == "Plimsy for Epubs version 0.1";
    if (modal) test::pressKey(modal, test::eKey::Escape);
  });
  dialog_->sendCommand(kOptions);
  EXPECT_TRUE(optionsShown);

  dialog_->setMessageResult(0);
  EXPECT_EQ(dialog_->send({uiValues().instanceQueryMessage, 0, {}, {}}), 1);
  EXPECT_EQ(dialog_->messageResult(), static_cast<std::intptr_t>(uiValues().instanceQueryMessage));

  test::minimise(dialog_->dialogWindow());
  dialog_->restoreAndRaise();
  EXPECT_FALSE(test::isMinimised(dialog_->dialogWindow()));
}

}  // namespace
}  // namespace plimsy::ui
