// The main dialog: its lines, drag and drop, the shell-open buttons, the
// browse buttons, closing, the bug report and the instance query.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>

#include "core/paths.h"
#include "core/settings.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
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
  const std::string noProgram = "There is no application associated with the given file name.";
  // Each failure names, on the line after it, what it tried to open.
  const std::tuple<int, std::string, std::string> failures[] = {
      {kOpenEpub, "Unable to open epub. " + noProgram, folder_ / "notes.txt"},
      {kExploreEpub, formatText(kOpenEpubFolderFailure, noProgram), folder_.path().string()},
      {kExploreFiles, formatText(kOpenFilesFolderFailure, noProgram), folder_ / "book/"},
      {kHelp, "Unable to open the user guide. " + noProgram, helpPagePath()},
  };
  for (const auto& [id, failure, path] : failures) {
    dialog_->sendCommand(id);
    ASSERT_FALSE(messages().empty());
    EXPECT_EQ(messages().back().text, failure + "\n" + path) << id;
  }
  ASSERT_EQ(messages().size(), 4u);
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

// Every control says what it is to a screen reader; the short buttons show a
// hint under the pointer.
TEST_F(MainDialog, ControlsHaveAccessibleNamesAndTheShortButtonsHints) {
  struct Case {
    int id;
    const char* name;
    const char* hint;
  };
  const Case cases[] = {
      {kFilesLine, "Files", ""},
      {kBrowseFiles, "Choose the files folder", "Choose the files folder"},
      {kExploreFiles, "Open the files folder", "Open the files folder"},
      {kEpubLine, "Epub", ""},
      {kBrowseEpub, "Choose the epub", "Choose the epub"},
      {kExploreEpub, "Open the folder that holds the epub", "Open the folder that holds the epub"},
      {kOpenEpub, "Open the epub in its program", "Open the epub in its program"},
      {kAnalyze, "Analyze", "Analyze the epub and write a log"},
      {kCheck, "Check", "Check the epub and list what is wrong with it"},
      {kZip, "Zip", ""},
      {kUnzip, "Unzip", ""},
      {kProgress, "Job running", ""},
      {kHelp, "Help", ""},
      {kReportBug, "Report bug", ""},
      {kOptions, "Options", ""},
      {kClose, "Close", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(test::accessibleName(dialog_->control(c.id)), c.name) << c.id;
    EXPECT_EQ(test::toolTip(dialog_->control(c.id)), c.hint) << c.id;
  }
  // Every control that can take the focus is in the table.
  for (const sControlTemplate& control : dialog_->dialogTemplate().controls) {
    if (control.className == "STATIC") continue;
    EXPECT_TRUE(std::any_of(std::begin(cases), std::end(cases), [&](const Case& c) { return c.id == control.id; }))
        << control.id;
  }
}

// Zip, Unzip, Check and A are disabled from the click until the request is refused
// or declined, or its job ends: clicks and Enter meanwhile start nothing.
class JobButtons : public test::cBookGuiTest {
 protected:
  void SetUp() override {
    cBookGuiTest::SetUp();
    book_ = folder_ / "book/";
    epub_ = folder_ / "book.epub";
    EpubWorkOrder order;
    order.FilesDir = book_;
    order.ZipPath = epub_;
    std::string message;
    sStatistics statistics;
    ASSERT_TRUE(zipJob(order, &message, statistics)) << message;
    updateSettings([](cSettings& s) {
      s.ShowSuccessMessage = false;
      s.OpenFinishedWork = false;
    });
    sServices services = desktop_.services();
    services.zip = [this](const EpubWorkOrder& o, std::string* m, sStatistics& s) {
      return held(o, m, s, static_cast<bool (*)(const EpubWorkOrder&, std::string*, sStatistics&)>(zipJob));
    };
    services.unzip = [this](const EpubWorkOrder& o, std::string* m, sStatistics& s) {
      return held(o, m, s, static_cast<bool (*)(const EpubWorkOrder&, std::string*, sStatistics&)>(unzipJob));
    };
    dialog_ = std::make_unique<cDlgMain>(services);
    ASSERT_TRUE(dialog_->create(nullptr));
  }

  bool held(const EpubWorkOrder& order, std::string* message, sStatistics& statistics,
            bool (*job)(const EpubWorkOrder&, std::string*, sStatistics&)) {
    ++jobs_;
    running_ = true;
    while (hold_ && !release_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return job(order, message, statistics);
  }

  bool enabled(int id) const { return cWin(dialog_->control(id)).isEnabled(); }
  bool allEnabled() const { return enabled(kZip) && enabled(kUnzip) && enabled(kAnalyze) && enabled(kCheck); }
  bool noneEnabled() const { return !enabled(kZip) && !enabled(kUnzip) && !enabled(kAnalyze) && !enabled(kCheck); }
  // Jobs started: zip and unzip runs, and analysis summaries.
  int jobs() const { return jobs_ + static_cast<int>(desktop_.presenter.tasks.size()); }

  // The user again, while the first request is under way: every job button
  // once more, then Enter on the dialog.
  void clickAgain() {
    disabledMeanwhile_ = noneEnabled();
    for (const int id : {kZip, kUnzip, kAnalyze, kCheck}) dialog_->sendCommand(id);
    test::pressKey(dialog_->dialogWindow(), test::eKey::Return);
  }

  std::string book_;
  std::string epub_;
  std::unique_ptr<cDlgMain> dialog_;
  std::atomic<int> jobs_{0};
  std::atomic<bool> hold_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> release_{false};
  bool disabledMeanwhile_ = false;
};

TEST_F(JobButtons, ASecondClickOrEnterWhileARequestIsUnderWayStartsNothing) {
  enum class eWhen { Checks, Job };
  struct Case {
    const char* name;
    int button;
    bool filesLine;  // else empty: the checks offer a files folder
    bool epubLine;   // else empty: the checks offer an epub
    bool logPath;    // else empty: the analysis' checks offer a log
    eWhen when;
    eAnswer answer;
    int jobs;
  };
  const Case cases[] = {
      {"Zip, while its checks ask", kZip, true, false, true, eWhen::Checks, eAnswer::Yes, 1},
      {"Zip, while the job runs", kZip, true, true, true, eWhen::Job, eAnswer::Yes, 1},
      {"Unzip, while its checks ask", kUnzip, false, true, true, eWhen::Checks, eAnswer::Yes, 1},
      {"Unzip, while the job runs", kUnzip, true, true, true, eWhen::Job, eAnswer::Yes, 1},
      {"A, while its checks ask", kAnalyze, true, true, false, eWhen::Checks, eAnswer::Yes, 1},
      {"Zip, declined", kZip, true, false, true, eWhen::Checks, eAnswer::No, 0},
      {"A, cancelled", kAnalyze, true, true, false, eWhen::Checks, eAnswer::Cancel, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jobs_ = 0;
    running_ = false;
    release_ = false;
    hold_ = c.when == eWhen::Job;
    disabledMeanwhile_ = false;
    desktop_.presenter.tasks.clear();
    desktop_.presenter.questions.clear();
    desktop_.presenter.answers = {c.answer};
    desktop_.presenter.duringQuestion = [&] {
      if (c.when == eWhen::Checks) clickAgain();
    };
    updateSettings([&](cSettings& s) { s.workOrder.AnalyzeZipLogPath = c.logPath ? folder_ / "log.txt" : ""; });
    cWin(dialog_->control(kFilesLine)).setText(c.filesLine ? book_ : "");
    cWin(dialog_->control(kEpubLine)).setText(c.epubLine ? epub_ : "");
    // For the focus check below (another test's window may be in front).
    test::activate(dialog_->dialogWindow());
    test::clickControl(dialog_->control(c.button));
    if (c.when == eWhen::Job) {
      ASSERT_TRUE(test::waitUntil([&] { return running_.load(); }));
      clickAgain();
      release_ = true;
    }
    ASSERT_TRUE(test::waitForJobs());
    EXPECT_TRUE(disabledMeanwhile_);
    EXPECT_EQ(desktop_.presenter.questions.size(), c.when == eWhen::Checks ? 1u : 0u);
    EXPECT_EQ(jobs(), c.jobs);
    EXPECT_TRUE(messages().empty()) << messages().front().text;
    EXPECT_TRUE(allEnabled());
    // Unless another program's window took the focus meanwhile (tests running side by side).
    if (dialog_->focusedControl()) {
      EXPECT_EQ(dialog_->focusedControl(), dialog_->control(c.button)) << "the focus is back on the button";
    }
  }
}

TEST_F(JobButtons, ARefusedRequestEnablesTheButtonsBeforeItsMessage) {
  for (const int button : {kZip, kUnzip, kAnalyze, kCheck}) {
    SCOPED_TRACE(button);
    desktop_.presenter.messages.clear();
    bool enabledAtMessage = false;
    desktop_.presenter.duringMessage = [&] { enabledAtMessage = allEnabled(); };
    cWin(dialog_->control(kFilesLine)).setText("");
    cWin(dialog_->control(kEpubLine)).setText("");
    test::clickControl(dialog_->control(button));
    ASSERT_TRUE(test::waitForJobs());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_TRUE(enabledAtMessage);
    EXPECT_EQ(jobs(), 0);
  }
}

}  // namespace
}  // namespace plimsy::ui
