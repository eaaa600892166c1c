// The job runner, driven through the main dialog's buttons: real zip, unzip
// and analysis jobs, the questions of the request checks answered by the
// test, the busy look, the success texts and what is opened afterwards.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "core/platform.h"
#include "core/settings.h"
#include "engine/job_control.h"
#include "engine/job_report.h"
#include "engine/zip_job.h"
#include "gui_test_support.h"
#include "support/file_tree.h"
#include "support/zip_builder.h"
#include "ui/control_ids.h"
#include "ui/dlg_main.h"
#include "ui/gui_thread.h"
#include "ui/job_runner.h"
#include "ui/open_failures.h"
#include "window_driver.h"

namespace plimsy::ui {
namespace {

using namespace main_ids;

constexpr const char* kCloseQuestion =
    "A job is still running. If you close Plimsy now, the job stops and its unfinished work is removed.\n\n"
    "Do you want to close Plimsy anyway?";

class JobRunner : public test::cBookGuiTest {
 protected:
  void SetUp() override {
    cBookGuiTest::SetUp();
    book_ = folder_ / "book/";
    epub_ = folder_ / "book.epub";
    // The zip job, recording the statistics it reports.
    services_ = desktop_.services();
    services_.zip = [this](const EpubWorkOrder& order, std::string* message, sStatistics& statistics) {
      ++jobRuns_;
      const bool ok = zipJob(order, message, statistics);
      statistics_ = statistics;
      return ok;
    };
  }

  void openDialog() {
    dialog_ = std::make_unique<cDlgMain>(services_);
    ASSERT_TRUE(dialog_->create(nullptr));
  }
  void setLines(const std::string& files, const std::string& epub) {
    cWin(dialog_->control(kFilesLine)).setText(files);
    cWin(dialog_->control(kEpubLine)).setText(epub);
  }
  // Clicks a job button and waits for the job to finish.
  void click(int id) {
    test::clickControl(dialog_->control(id));
    ASSERT_TRUE(test::waitForJobs());
  }
  bool shown(int id) const { return cWin(dialog_->control(id)).isVisible(); }
  bool idleLook() const { return shown(kZip) && shown(kUnzip) && shown(kAnalyze) && !shown(kProgress); }
  bool busyLook() const {
    return !shown(kZip) && !shown(kUnzip) && !shown(kAnalyze) && shown(kProgress) &&
           test::isMarquee(dialog_->control(kProgress));
  }
  void zipBook() {
    openDialog();
    setLines(book_, epub_);
    click(kZip);
  }
  // Replaces the zip job with one that succeeds when the test releases it,
  // or stops when the running jobs are abandoned.
  void holdZipJob() {
    services_.zip = [this](const EpubWorkOrder&, std::string*, sStatistics&) {
      ++jobRuns_;
      held_ = true;
      while (!release_ && !jobsAbandoned()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      toldToStop_ = jobsAbandoned();
      return !toldToStop_;
    };
  }
  // Starts a held job, closes the window answering Yes, and ends the process:
  // with 0 when all went well, else with 1 and a word on what did not.
  [[noreturn]] void closeAnsweringYesAndEnd() {
    holdZipJob();
    startHeldZip();
    desktop_.presenter.answers = {eAnswer::Yes};
    test::clickControl(dialog_->control(kClose));
    std::string wrong;
    if (desktop_.presenter.questions != std::vector<std::string>{kCloseQuestion}) wrong += "not asked; ";
    if (!test::waitForJobs() || !toldToStop_) wrong += "the job was not told to stop; ";
    if (!dialog_->isDestroyed() || desktop_.quits != 1) wrong += "the window did not close; ";
    if (!messages().empty()) wrong += "the stopped job reported; ";
    if (test::readFile(test::settingsFile()).find("<ZipPath>" + epub_ + "</ZipPath>") == std::string::npos)
      wrong += "the lines were not saved; ";
    std::fputs(wrong.c_str(), stderr);
    std::filesystem::remove_all(folder_.path());
    test::endChildProcess(wrong.empty() ? 0 : 1);
  }
  // A job that, told to stop, still waits once for the GUI thread (as a job
  // showing its progress would) and writes its work file a while longer
  // before it removes the file itself.
  void holdSlowToStopJob() {
    services_.zip = [this](const EpubWorkOrder&, std::string* message, sStatistics&) {
      ++jobRuns_;
      const std::string work = folder_ / "temp1.zip";
      cWorkClaim claim(work, cWorkClaim::eKind::File);
      test::writeFile(work, "work");
      held_ = true;
      while (!jobsAbandoned()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      onGuiThread([this] { busyWhileStopping_ = busyLook(); });
      for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!std::filesystem::exists(work)) workRemovedUnderTheJob_ = true;
      }
      std::filesystem::remove(work);
      toldToStop_ = true;
      *message = kJobAbandonedMessage;
      return false;
    };
  }
  // Starts such a job, closes the window answering Yes, and ends the process
  // as closeAnsweringYesAndEnd does.
  [[noreturn]] void closeWhileTheJobNeedsTheGuiThreadAndEnd() {
    holdSlowToStopJob();
    startHeldZip();
    desktop_.presenter.answers = {eAnswer::Yes};
    test::clickControl(dialog_->control(kClose));
    std::string wrong;
    if (runningJobs() != 0) wrong += "the window closed before the job had stopped; ";
    if (!toldToStop_) wrong += "the job was not told to stop; ";
    if (!busyWhileStopping_) wrong += "the busy look went while the job stopped; ";
    if (workRemovedUnderTheJob_) wrong += "the work was removed under the running job; ";
    if (std::filesystem::exists(folder_ / "temp1.zip")) wrong += "the work was left; ";
    if (!dialog_->isDestroyed() || desktop_.quits != 1) wrong += "the window did not close; ";
    if (!messages().empty()) wrong += "the stopped job reported; ";
    std::fputs(wrong.c_str(), stderr);
    std::filesystem::remove_all(folder_.path());
    test::endChildProcess(wrong.empty() ? 0 : 1);
  }
  // Closes the window answering Yes while an analysis is held at its first
  // write of the log, and ends the process as closeAnsweringYesAndEnd does:
  // the old log stays as it was and the analysis's work file is gone.
  [[noreturn]] void closeDuringAnalysisAndEnd() {
    zipBook();
    const std::string log = folder_ / "log.txt";
    test::writeFile(log, "the old log");
    updateSettings([&log](cSettings& s) { s.workOrder.AnalyzeZipLogPath = log; });
    std::atomic<bool> writing{false};
    platform::observeOperations([&](platform::FaultOperation operation) {
      // (The settings saved on the GUI thread before the analysis starts are written too.)
      if (operation != platform::FaultOperation::Write || isGuiThread() || writing.exchange(true)) return;
      held_ = true;
      while (!jobsAbandoned()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    test::clickControl(dialog_->control(kAnalyze));
    std::string wrong;
    if (!test::waitUntil([this] { return held_ && busyLook(); })) wrong += "the analysis did not start; ";
    desktop_.presenter.answers = {eAnswer::Yes};
    test::clickControl(dialog_->control(kClose));
    platform::observeOperations(nullptr);
    if (runningJobs() != 0) wrong += "the window closed before the analysis had stopped; ";
    if (test::readFile(log) != "the old log") wrong += "the old log was changed; ";
    if (test::namesIn(folder_.path()) != std::set<std::string>{"book", "book.epub", "log.txt"})
      wrong += "the analysis left its work file; ";
    if (!dialog_->isDestroyed()) wrong += "the window did not close; ";
    if (!desktop_.presenter.tasks.empty()) wrong += "the stopped analysis reported; ";
    std::fputs(wrong.c_str(), stderr);
    std::filesystem::remove_all(folder_.path());
    test::endChildProcess(wrong.empty() ? 0 : 1);
  }
  void startHeldZip() {
    openDialog();
    setLines(book_, epub_);
    test::clickControl(dialog_->control(kZip));
    ASSERT_TRUE(test::waitUntil([this] { return held_ && busyLook(); }));
  }

  std::string book_;
  std::string epub_;
  sServices services_;
  std::unique_ptr<cDlgMain> dialog_;
  sStatistics statistics_;
  std::atomic<int> jobRuns_{0};
  std::atomic<bool> held_{false};
  std::atomic<bool> release_{false};
  std::atomic<bool> toldToStop_{false};
  std::atomic<bool> busyWhileStopping_{false};
  std::atomic<bool> workRemovedUnderTheJob_{false};
};

// "…\nTime elapsed: <n> milliseconds": the text before the number, and whether
// the number is a grouped count of milliseconds.
void expectSuccessText(const std::string& text, const std::string& head) {
  ASSERT_EQ(text.substr(0, head.size()), head) << text;
  EXPECT_TRUE(std::regex_match(text.substr(head.size()), std::regex("\\d{1,3}(,\\d{3})* milliseconds"))) << text;
}

TEST_F(JobRunner, ZipClickedShowsTheSuccessTextAndOpensTheEpub) {
  zipBook();
  ASSERT_TRUE(std::filesystem::exists(epub_));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].icon, eIcon::Information);
  EXPECT_TRUE(messages()[0].owned);
  EXPECT_EQ(statistics_.files, 4u);
  std::string head = "Success! You successfully zipped your files.\n\n";
  statisticsText(statistics_, head);
  expectSuccessText(messages()[0].text, head + "\nTime elapsed: ");
  EXPECT_EQ(desktop_.opener.opened, std::vector<std::string>{epub_});
  EXPECT_TRUE(idleLook());
  // The request passed its checks, so the settings were saved before the job.
  EXPECT_NE(test::readFile(test::settingsFile()).find("<ZipPath>" + epub_ + "</ZipPath>"), std::string::npos);
}

TEST_F(JobRunner, UnzipOffersAFilesFolderAndUnpacksIntoIt) {
  zipBook();
  desktop_.presenter.messages.clear();
  desktop_.opener.opened.clear();
  setLines("", epub_);
  click(kUnzip);
  ASSERT_EQ(desktop_.presenter.questions.size(), 1u);
  EXPECT_EQ(desktop_.presenter.questions[0],
            "You didn't specify the name and location of a files folder. Would you like Plimsy to choose?");
  const std::string chosen = folder_ / "files1/";
  EXPECT_EQ(cWin(dialog_->control(kFilesLine)).text(), chosen);
  EXPECT_EQ(test::readFile(folder_.path() / "files1" / "OEBPS" / "chapter1.xhtml"), test::bookChapter());
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text.rfind("Success! You successfully unzipped your file.\n\nNumber of files: 4\n", 0), 0u);
  EXPECT_EQ(desktop_.opener.opened, std::vector<std::string>{chosen});
}

TEST_F(JobRunner, ADeclinedOfferShowsNothingAndRunsNothing) {
  for (const eAnswer answer : {eAnswer::No, eAnswer::Cancel}) {
    openDialog();
    setLines(book_, "");
    desktop_.presenter.answers = {answer};
    click(kZip);
    EXPECT_EQ(desktop_.presenter.questions.back(),
              "You didn't specify the name and location of an epub file to create. Would you like Plimsy to choose?");
    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(jobRuns_, 0);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "book1.epub"));
    EXPECT_TRUE(idleLook());
  }
}

TEST_F(JobRunner, AFailedCheckIsShownAndTheJobNeverStarts) {
  openDialog();
  setLines("", epub_);
  click(kZip);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Please specify the files directory that you want to zip.");
  EXPECT_EQ(messages()[0].icon, eIcon::Warning);
  EXPECT_EQ(jobRuns_, 0);
}

TEST_F(JobRunner, TheBusyLookLastsWhileTheJobRuns) {
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};
  services_.zip = [&](const EpubWorkOrder&, std::string* message, sStatistics&) {
    started = true;
    while (!release) std::this_thread::yield();
    *message = "The job failed on purpose.";
    return false;
  };
  openDialog();
  setLines(book_, epub_);
  EXPECT_TRUE(idleLook());
  test::clickControl(dialog_->control(kZip));
  ASSERT_TRUE(test::waitUntil([&] { return started.load(); }));
  ASSERT_TRUE(test::waitUntil([&] { return busyLook(); }));
  bool idleWhenReported = false;
  desktop_.presenter.duringMessage = [&] { idleWhenReported = idleLook(); };
  release = true;
  ASSERT_TRUE(test::waitForJobs());
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "The job failed on purpose.");
  EXPECT_EQ(messages()[0].icon, eIcon::Warning);
  EXPECT_TRUE(idleWhenReported) << "the idle look comes back before the report";
  EXPECT_TRUE(desktop_.opener.opened.empty());
}

TEST_F(JobRunner, SuccessMessageAndOpeningFollowTheOptions) {
  struct Case {
    bool show;
    bool open;
  };
  for (const Case c : {Case{false, true}, Case{false, false}, Case{true, false}}) {
    updateSettings([&c](cSettings& s) {
      s.ShowSuccessMessage = c.show;
      s.OpenFinishedWork = c.open;
    });
    desktop_.presenter.messages.clear();
    desktop_.opener.opened.clear();
    zipBook();
    EXPECT_EQ(messages().size(), c.show ? 1u : 0u);
    EXPECT_EQ(desktop_.opener.opened.size(), c.open ? 1u : 0u);
    EXPECT_TRUE(idleLook());
  }
}

TEST_F(JobRunner, AJobFailingWithoutAMessageShowsNothing) {
  services_.unzip = [](const EpubWorkOrder&, std::string*, sStatistics&) { return false; };
  test::writeFile(epub_, "PK");
  openDialog();
  setLines(book_, epub_);
  click(kUnzip);
  EXPECT_TRUE(messages().empty());
  EXPECT_TRUE(idleLook());
}

TEST_F(JobRunner, AnUnknownKindOfJobIsAnError) {
  openDialog();
  sJobRecord record;
  record.owner = dialog_.get();
  record.DoWhat = 7;
  runJob(*dialog_, record);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "An error occurred.");
  EXPECT_EQ(messages()[0].icon, eIcon::Warning);
}

TEST_F(JobRunner, AnalysisShowsItsSummaryAndOpensTheLogOnRequest) {
  zipBook();
  const std::string log = folder_ / "analysis log.txt";
  updateSettings([&log](cSettings& s) {
    s.workOrder.AnalyzeZipLogPath = log;
    s.ShowSuccessMessage = false;  // the summary shows anyway
  });
  desktop_.presenter.messages.clear();
  desktop_.opener.opened.clear();
  desktop_.presenter.taskAnswers = {kIdCancel, kTaskButtonId};
  click(kAnalyze);
  ASSERT_EQ(desktop_.presenter.tasks.size(), 1u);
  EXPECT_TRUE(desktop_.opener.opened.empty());
  EXPECT_TRUE(messages().empty());
  const sTaskDialog& task = desktop_.presenter.tasks[0];
  EXPECT_EQ(task.instruction, "Analysis");
  EXPECT_EQ(task.customButton, "Show full analysis");
  EXPECT_EQ(task.commonButton, sTaskDialog::eCommonButton::Cancel);
  // The reader counts this book's entries as the zip job did.
  std::string head = "Your epub was successfully analyzed.\n\nClick the button to see the full analysis.\n\n";
  statisticsText(statistics_, head);
  expectSuccessText(task.content, head + "\nTime elapsed: ");
  EXPECT_NE(test::readFile(log).find("ZIP FILE ANALYSIS"), std::string::npos);
  EXPECT_EQ(settingsSnapshot().workOrder.DoWhat, kDoWhatAnalysis);

  click(kAnalyze);
  EXPECT_EQ(desktop_.opener.opened, std::vector<std::string>{log});
  EXPECT_TRUE(idleLook());
}

TEST_F(JobRunner, AnalysisChecksAndFailures) {
  openDialog();
  click(kAnalyze);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "You must specify the name and location of an epub file to analyze.");
  EXPECT_EQ(messages()[0].icon, eIcon::Warning);

  // No log path: the offer, declined, shows nothing more.
  setLines("", folder_ / "notes.epub");
  desktop_.presenter.answers = {eAnswer::No};
  click(kAnalyze);
  EXPECT_EQ(desktop_.presenter.questions.back(),
            "You didn't specify the name and location of an analysis log to create. Would you like Plimsy to "
            "choose?");
  EXPECT_EQ(messages().size(), 1u);

  test::writeFile(folder_.path() / "notes.epub", "not a zip file at all, but long enough to be read");
  updateSettings([this](cSettings& s) { s.workOrder.AnalyzeZipLogPath = folder_ / "log.txt"; });
  click(kAnalyze);
  ASSERT_EQ(messages().size(), 2u);
  EXPECT_EQ(messages()[1].text, "Unable to find end of central directory.\n" + (folder_ / "notes.epub"));
  EXPECT_TRUE(desktop_.presenter.tasks.empty());
  EXPECT_TRUE(idleLook());
}

TEST_F(JobRunner, FocusReturnsToTheClickedButtonSoEnterRunsTheJobAgain) {
  updateSettings([](cSettings& s) { s.ShowSuccessMessage = false; });
  holdZipJob();
  startHeldZip();
  ASSERT_TRUE(test::activate(dialog_->dialogWindow()));
  release_ = true;
  ASSERT_TRUE(test::waitForJobs());
  const WindowRef focus = dialog_->focusedControl();
  EXPECT_EQ(focus, dialog_->control(kZip));
  desktop_.opener.opened.clear();
  test::pressKey(focus, test::eKey::Return);
  ASSERT_TRUE(test::waitForJobs());
  EXPECT_EQ(jobRuns_, 2);
  EXPECT_EQ(desktop_.opener.opened, std::vector<std::string>{epub_}) << "only the finished epub, not the user guide";
}

TEST_F(JobRunner, FinishedWorkOrLogThatCannotBeOpenedIsExplained) {
  updateSettings([this](cSettings& s) {
    s.ShowSuccessMessage = false;
    s.workOrder.AnalyzeZipLogPath = folder_ / "log.txt";
  });
  desktop_.opener.result = 31;
  zipBook();
  setLines("", epub_);
  click(kUnzip);  // into a files folder the checks choose
  desktop_.presenter.taskAnswers = {kTaskButtonId};
  click(kAnalyze);
  const std::string noProgram = "There is no application associated with the given file name.";
  ASSERT_EQ(messages().size(), 3u);
  ASSERT_EQ(desktop_.opener.opened.size(), 3u);
  // Each names, on the line after, what it tried to open.
  EXPECT_EQ(messages()[0].text, "Unable to open epub. " + noProgram + "\n" + epub_);
  EXPECT_EQ(messages()[1].text, formatText(kOpenFilesFolderFailure, noProgram) + "\n" + desktop_.opener.opened[1]);
  EXPECT_EQ(messages()[2].text, "Unable to open the analysis log. " + noProgram + "\n" + (folder_ / "log.txt"));
  for (const test::sShownMessage& shown : messages()) EXPECT_EQ(shown.icon, eIcon::Information);
}

TEST_F(JobRunner, ClosingWhileAJobRunsAsksAndNoKeepsTheWindowAndTheJob) {
  holdZipJob();
  startHeldZip();
  desktop_.presenter.answers = {eAnswer::No, eAnswer::No, eAnswer::Cancel};
  test::pressKey(dialog_->dialogWindow(), test::eKey::Escape);
  test::pressCloseBox(dialog_->dialogWindow());
  test::clickControl(dialog_->control(kClose));
  EXPECT_EQ(desktop_.presenter.questions, std::vector<std::string>(3, kCloseQuestion));
  EXPECT_FALSE(dialog_->isDestroyed());
  EXPECT_EQ(desktop_.quits, 0);
  EXPECT_TRUE(busyLook());
  EXPECT_EQ(runningJobs(), 1);
  release_ = true;
  ASSERT_TRUE(test::waitForJobs());
  EXPECT_FALSE(toldToStop_);
  EXPECT_TRUE(idleLook());

  // With no job running, closing asks nothing.
  test::pressKey(dialog_->dialogWindow(), test::eKey::Escape);
  EXPECT_TRUE(dialog_->isDestroyed());
  EXPECT_EQ(desktop_.presenter.questions.size(), 3u);
}

TEST_F(JobRunner, ClosingWhileAJobRunsAndAnsweringYesStopsTheJobAndCloses) {
  // Abandoning the running jobs is for a program about to end: every later
  // job of the process would stop at once too. So the closing happens in a
  // child process, which reports what went wrong on its error output.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(closeAnsweringYesAndEnd(), testing::ExitedWithCode(0), "");
}

// Closing waits, however long it takes, until the stopped job has ended:
// the job may need the GUI thread meanwhile (no deadlock), its work is never
// removed under it, and the busy look stays until the window goes.
TEST_F(JobRunner, ClosingWaitsUntilTheStoppedJobHasEndedAndRemovedItsWork) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(closeWhileTheJobNeedsTheGuiThreadAndEnd(), testing::ExitedWithCode(0), "");
}

TEST_F(JobRunner, ClosingDuringAnAnalysisKeepsTheOldLogAndRemovesTheWorkFile) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(closeDuringAnalysisAndEnd(), testing::ExitedWithCode(0), "");
}

// An unzip whose entries unpack to one file warns after the job, whether the
// success message is shown or not; the later entry is on disk.
TEST_F(JobRunner, UnzipWarnsOfReplacedEntriesEvenWithoutTheSuccessMessage) {
  const std::string epub = folder_ / "dup.epub";
  test::writeFile(epub, test::buildArchive(test::planOf({test::storedEntry("mimetype", "application/epub+zip"),
                                                         test::storedEntry("OEBPS/ch.xhtml", "first"),
                                                         test::storedEntry("OEBPS/ch.xhtml", "second")})));
  for (const bool show : {true, false}) {
    SCOPED_TRACE(show);
    updateSettings([show](cSettings& s) {
      s.ShowSuccessMessage = show;
      s.OpenFinishedWork = false;
    });
    desktop_.presenter.messages.clear();
    const std::string files = folder_ / (show ? "shown" : "quiet");
    openDialog();
    setLines(files, epub);
    click(kUnzip);
    ASSERT_EQ(messages().size(), show ? 2u : 1u);
    EXPECT_EQ(messages().back().text,
              "Some entries of the epub unpack to the same file; the later one replaced the earlier one:\n"
              "  OEBPS/ch.xhtml replaced OEBPS/ch.xhtml");
    EXPECT_EQ(messages().back().icon, eIcon::Warning);
    EXPECT_EQ(test::readFile(std::filesystem::path(files) / "OEBPS" / "ch.xhtml"), "second");
    EXPECT_TRUE(idleLook());
  }
}

}  // namespace
}  // namespace plimsy::ui
