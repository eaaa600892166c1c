#pragma once

// cDlgMain: the program's window, a modeless dialog (template 101) with the
// files line and the epub line, their browse and shell-open buttons, the
// Zip, Unzip, Check and A (analysis) buttons that start jobs (job_runner.h), Help,
// Report bug, Options and Close, the logo, and a marquee that stands in for
// the job buttons while a job runs. A folder or file dropped onto it fills
// the matching line. Every line filled by browsing or dropping is saved to
// the settings file at once; the lines are read back into the settings
// before every job and when the window closes. Closing it while a job runs
// asks first: the job would be stopped and its unfinished work removed.

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "ui/dlg.h"
#include "ui/job_runner.h"
#include "ui/services.h"

namespace plimsy::ui {

class cDlgMain : public cDlg, public cJobOwner {
 public:
  explicit cDlgMain(const sServices& services);
  ~cDlgMain() override;

  int templateId() const override;
  std::intptr_t dialogMessage(const sMessage& message) override;

  // Copies the two lines into `settings`: each cut to 999 characters and
  // trimmed; FilesDir gets a trailing separator when it names an existing
  // folder without one (the line itself is not changed). Always true.
  bool readLines(cSettings& settings);

  // A path the program was handed (the command line, the desktop's "Open
  // with", a later start): both lines are filled and saved, so that neither
  // keeps an earlier, unrelated book. An epub `D/Name.epub` fills the epub
  // line, and the files line with the folder beside it named after it,
  // `D/Name`; a folder `D/Name` fills the files line, and the epub line with
  // `D/Name.epub` (a line left empty when no such name exists: the job then
  // offers one). The focus goes to Unzip for a file and to Zip for a folder,
  // so that Enter does what the path asks for. A path that is not absolute
  // or does not exist is ignored (kMsgOpenPath brings one too).
  void takeStartPath(const std::string& path);

  // The shell-open buttons: check the line, then open the epub, the folder
  // that holds it, or the files folder.
  void openEpub();
  void openEpubFolder();
  void openFilesFolder();

  // ---- cJobOwner (callable from worker threads) ----
  void readLines() override;
  void setBusyLook(bool busy) override;
  void enableJobButtons(bool enabled) override;
  void showMessage(const std::string& text, eIcon icon, bool owned = true) override;
  bool offer(const std::string& question) override;
  void showChosenPath(int controlId, const std::string& path) override;
  int showTaskDialog(const sTaskDialog& task) override;
  int showCheckResult(const sCheckView& view) override;
  std::intptr_t openPath(const std::string& path) override;
  const sServices& services() const override { return services_; }

 private:
  void initialise();
  void command(int controlId);
  void dropFiles(const sMessage& message);
  void browseFilesFolder();
  void browseEpub();
  void openHelp();
  void reportBug();
  void showOptions();
  // Zip, Unzip, Check or A clicked: the job buttons are disabled, then the
  // request goes to the job runner (the analysis' and the check's request
  // checks run here).
  void requestJob(int controlId);
  void startAnalysisRequest();
  void startCheckRequest();
  // The line's text put into the line, then read into the settings and saved.
  void fillLine(cWin& line, const std::string& text);
  // The two lines' texts, read on the GUI thread.
  void lineTexts(std::string& files, std::string& epub);
  // Checks a line for the shell-open buttons; shows the failure.
  bool checkEpubLine(const std::string& path);
  bool checkFilesLine(const std::string& path);
  void openForButton(const std::string& path, const char* failureFormat);
  // Whether the window may close now: yes when no job runs; otherwise the
  // user is asked, and a yes stops the running jobs first.
  bool mayClose();
  // The focus stays on the button that started a job, not on whichever
  // control the window system would move it to while the job buttons are
  // hidden.
  void parkFocusOfJobButtons();
  void setJobButtonsEnabled(bool enabled);
  void returnFocusToJobButton();

  sServices services_;
  cWin zipButton_;
  cWin unzipButton_;
  cWin analyzeButton_;
  cWin checkButton_;
  cWin progressBar_;
  cWin filesLine_;
  cWin epubLine_;
  WindowRef jobButton_ = nullptr;  // the job button that had the focus when the busy look began
};

// The bug report's text, naming kBugReportAddress.
std::string bugReportText();

}  // namespace plimsy::ui
