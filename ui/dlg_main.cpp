#include "ui/dlg_main.h"

#include <utility>

#include "core/paths.h"
#include "core/request_checks.h"
#include "core/settings_file.h"
#include "core/text.h"
#include "engine/job_control.h"
#include "ui/clipboard.h"
#include "ui/control_ids.h"
#include "ui/control_words.h"
#include "ui/dlg_check.h"
#include "ui/dlg_options.h"
#include "ui/gui_thread.h"
#include "ui/line_text.h"
#include "ui/open_failures.h"
#include "ui/ui_values.h"

namespace plimsy::ui {
namespace {

using namespace main_ids;

// The request checks name the path lines by these ids.
static_assert(kFilesLine == kFilesLineId && kEpubLine == kEpubLineId);

// Closing the window while a job runs stops the job; its work file is
// removed rather than left half written.
constexpr const char* kCloseDuringJobQuestion =
    "A job is still running. If you close Plimsy now, the job stops and its unfinished work is removed.\n\n"
    "Do you want to close Plimsy anyway?";

bool closesWindow(int controlId) { return controlId == kIdOk || controlId == kIdCancel; }

// The names screen readers say, and the hints of the short buttons.
constexpr sControlWords kMainControlWords[] = {
    {kFilesLine, "Files", nullptr},
    {kBrowseFiles, "Choose the files folder", "Choose the files folder"},
    {kExploreFiles, "Open the files folder", "Open the files folder"},
    {kEpubLine, "Epub", nullptr},
    {kBrowseEpub, "Choose the epub", "Choose the epub"},
    {kExploreEpub, "Open the folder that holds the epub", "Open the folder that holds the epub"},
    {kOpenEpub, "Open the epub in its program", "Open the epub in its program"},
    {kAnalyze, "Analyze", "Analyze the epub and write a log"},
    {kCheck, "Check", "Check the epub and list what is wrong with it"},
    {kProgress, "Job running", nullptr},
};

// The logo's place, in pixels.
constexpr sPixelRect kLogoRect{20, 15, 105, 35};

// The request checks, asked on the GUI thread by the analysis start.
class cDialogRequestUi : public cRequestUi {
 public:
  explicit cDialogRequestUi(cDlgMain& dialog) : dialog_(dialog) {}
  bool offer(const std::string& question) override { return dialog_.offer(question); }
  void showChosenPath(int controlId, const std::string& path) override { dialog_.showChosenPath(controlId, path); }

 private:
  cDlgMain& dialog_;
};

}  // namespace

std::string bugReportText() {
  return "If you find a bug in this program, please tell me about it so I can fix it.\n\n"
         "You'd be helping me enormously.\n\n"
         "Why? Because bug reports are an essential part of writing programs.  All new software contains bugs -- "
         "it's inevitable -- and it's impossible for programmers to find them all.\n\n"
         "Big software companies pay testers to find them, but I'm just one guy doing this as a hobby so I have to "
         "rely on people like you.\n\n"
         "My email address is " +
         std::string(kBugReportAddress) + ".\n\nThanks!";
}

cDlgMain::cDlgMain(const sServices& services) : services_(services) {}

cDlgMain::~cDlgMain() = default;

int cDlgMain::templateId() const { return kMainTemplateId; }

std::intptr_t cDlgMain::dialogMessage(const sMessage& message) {
  if (message.id == uiValues().instanceQueryMessage) {
    setMessageResult(uiValues().instanceQueryMessage);
    return 1;
  }
  switch (message.id) {
    case kMsgClose:
      if (mayClose()) destroyWindow();
      return 1;
    case kMsgDestroy:
      readLines();
      saveSettings();
      if (services_.quit) services_.quit();
      return 1;
    case kMsgInitDialog: initialise(); break;
    case kMsgCommand:
      if (closesWindow(message.controlId) && !mayClose()) return 1;
      command(message.controlId);
      break;
    case kMsgDropFiles: dropFiles(message); break;
    case kMsgOpenPath:
      if (message.paths.size() == 1) takeStartPath(message.paths.front());
      setMessageResult(1);
      return 1;
    default: break;
  }
  return defaultHandling(message);
}

void cDlgMain::initialise() {
  showLogo(kLogoRect);  // a logo that cannot be loaded is left out, silently
  zipButton_.attach(control(kZip));
  unzipButton_.attach(control(kUnzip));
  analyzeButton_.attach(control(kAnalyze));
  checkButton_.attach(control(kCheck));
  progressBar_.attach(control(kProgress));
  filesLine_.attach(control(kFilesLine));
  epubLine_.attach(control(kEpubLine));

  applyControlWords(*this, kMainControlWords);

  const cSettings settings = settingsSnapshot();
  filesLine_.setText(settings.workOrder.FilesDir);
  epubLine_.setText(settings.workOrder.ZipPath);
  setTitle(windowTitle());
  showProgramIcon();
  acceptFiles(true);
  zipButton_.setFocus();
}

void cDlgMain::command(int controlId) {
  switch (controlId) {
    case kBrowseFiles: browseFilesFolder(); break;
    case kBrowseEpub: browseEpub(); break;
    case kHelp: openHelp(); break;
    case kReportBug: reportBug(); break;
    case kExploreFiles: openFilesFolder(); break;
    case kOpenEpub: openEpub(); break;
    case kExploreEpub: openEpubFolder(); break;
    case kOptions: showOptions(); break;
    case kZip:
    case kUnzip:
    case kCheck:
    case kAnalyze: requestJob(controlId); break;
    default: break;
  }
}

void cDlgMain::requestJob(int controlId) {
  // A click or Enter that arrives once the buttons are disabled or hidden
  // (the second click of a double-click, a repeated Enter) starts nothing.
  const cWin button(control(controlId));
  if (!button.isEnabled() || !button.isVisible()) return;
  // Disabled before the checks run: they may ask questions and take time.
  enableJobButtons(false);
  switch (controlId) {
    case kZip: startJob(*this, kDoWhatZip); break;
    case kUnzip: startJob(*this, kDoWhatUnzip); break;
    case kCheck: startCheckRequest(); break;
    default: startAnalysisRequest(); break;
  }
}

// ---- Lines ---------------------------------------------------------------------

void cDlgMain::lineTexts(std::string& files, std::string& epub) {
  onGuiThread([&] {
    files = filesLine_.text();
    epub = epubLine_.text();
  });
}

bool cDlgMain::readLines(cSettings& settings) {
  std::string files;
  std::string epub;
  lineTexts(files, epub);
  settings.workOrder.FilesDir = lineValue(files);
  settings.workOrder.ZipPath = lineValue(epub);
  std::string& folder = settings.workOrder.FilesDir;
  if (!folder.empty() && !endsWithSeparator(folder) && pathKind(folder) == PathKind::Folder)
    folder += kPreferredSeparator;
  return true;
}

void cDlgMain::readLines() {
  cSettings lines;
  readLines(lines);
  updateSettings([&lines](cSettings& settings) {
    settings.workOrder.FilesDir = lines.workOrder.FilesDir;
    settings.workOrder.ZipPath = lines.workOrder.ZipPath;
  });
}

void cDlgMain::fillLine(cWin& line, const std::string& text) {
  line.setText(text);
  readLines();
  saveSettings();
}

void cDlgMain::browseFilesFolder() {
  std::string folder;
  if (services_.presenter->pickFolder(dialogWindow(), filesFolderPick(filesLine_.text()), folder))
    fillLine(filesLine_, withTrailingSeparator(folder));
}

void cDlgMain::browseEpub() {
  std::string file;
  if (services_.presenter->pickFile(dialogWindow(), epubPick(epubLine_.text()), file)) fillLine(epubLine_, file);
}

// ---- Drag and drop ---------------------------------------------------------------

void cDlgMain::dropFiles(const sMessage& message) {
  const std::size_t count = message.paths.size();
  if (count == 0) return;
  if (count > 1) {
    showMessage(
        formatText("You dragged %u items.\n\nPlease drag a single epub or a single folder with files inside it.",
                   static_cast<unsigned>(count)),
        eIcon::Warning);
    return;
  }
  const std::string path = cutToCharacters(message.paths.front(), kLineCharacterLimit);
  const PathKind kind = path.empty() ? PathKind::Missing : pathKind(path);
  if (kind == PathKind::Missing) {
    showMessage("The file you dragged cannot be found.", eIcon::Warning);
    return;
  }
  const auto lies = [&message](const cWin& line) {
    return line.window() && line.rectInDialog().contains(message.point);
  };
  if (kind == PathKind::Folder) {
    if (lies(epubLine_)) {
      showMessage("You've dragged a folder to the epub line.  That won't work. Only a file can go there.",
                  eIcon::Warning);
      return;
    }
    fillLine(filesLine_, path);
    return;
  }
  if (lies(filesLine_)) {
    showMessage("You've dragged a file to the line for the files folder.  That won't work. Only a folder can go there.",
                eIcon::Warning);
    return;
  }
  fillLine(epubLine_, path);
}

void cDlgMain::takeStartPath(const std::string& path) {
  const std::string cut = cutToCharacters(path, kLineCharacterLimit);
  bool absolute = false;
  // The path is this process's current folder's business only when it is
  // absolute: a later start makes it so before handing it on.
  if (cut.empty() || !isAbsolutePath(nullptr, cut, absolute) || !absolute) return;
  const PathKind kind = pathKind(cut);
  if (kind == PathKind::Missing) return;
  const bool folder = kind == PathKind::Folder;
  std::string other = folder ? epubNamedAfterFolder(cut) : folderNamedAfterFile(cut);
  if (cutToCharacters(other, kLineCharacterLimit) != other) other.clear();  // a cut name would be another file
  filesLine_.setText(folder ? cut : other);
  epubLine_.setText(folder ? other : cut);
  readLines();
  saveSettings();
  // Not while a job runs (its buttons are hidden) or a modal dialog is open.
  const cWin& button = folder ? zipButton_ : unzipButton_;
  if (button.isVisible() && cWin(dialogWindow()).isEnabled()) button.setFocus();
}

// ---- Shell-open buttons -------------------------------------------------------------

bool cDlgMain::checkEpubLine(const std::string& path) {
  const char* problem = nullptr;
  if (path.empty())
    problem = "Can't open a blank!";
  else if (pathKind(path) == PathKind::Missing)
    problem = "The specified epub file doesn't exist.";
  else if (pathKind(path) == PathKind::Folder)
    problem = "The specified epub file is a directory.";
  if (problem) showMessage(problem, eIcon::Information);
  return problem == nullptr;
}

bool cDlgMain::checkFilesLine(const std::string& path) {
  const char* problem = nullptr;
  if (path.empty())
    problem = "Can't open a blank!";
  else if (pathKind(path) == PathKind::Missing)
    problem = "The specified files directory doesn't exist.";
  else if (pathKind(path) != PathKind::Folder)
    problem = "The specified files directory isn't a directory.";
  if (problem) showMessage(problem, eIcon::Information);
  return problem == nullptr;
}

void cDlgMain::openForButton(const std::string& path, const char* failureFormat) {
  const std::string failure = openFailureMessage(failureFormat, openPath(path), path);
  if (!failure.empty()) showMessage(failure, eIcon::Information, false);
}

void cDlgMain::openEpub() {
  readLines();
  const std::string epub = settingsSnapshot().workOrder.ZipPath;
  if (checkEpubLine(epub)) openForButton(epub, kOpenEpubFailure);
}

void cDlgMain::openEpubFolder() {
  readLines();
  const std::string epub = settingsSnapshot().workOrder.ZipPath;
  if (!checkEpubLine(epub)) return;
  std::string message;
  std::string folder;
  if (!parentFolder(&message, epub, folder)) {
    showMessage(message, eIcon::Information);
    return;
  }
  openForButton(folder, kOpenEpubFolderFailure);
}

void cDlgMain::openFilesFolder() {
  readLines();
  const std::string files = settingsSnapshot().workOrder.FilesDir;
  if (checkFilesLine(files)) openForButton(files, kOpenFilesFolderFailure);
}

// ---- Other buttons ------------------------------------------------------------------

void cDlgMain::openHelp() {
  const std::string failure = openHelpPage(*services_.opener);
  if (!failure.empty()) showMessage(failure, eIcon::Information);
}

void cDlgMain::reportBug() {
  sTaskDialog task;
  task.instruction = "Report a bug";
  task.content = bugReportText();
  task.customButton = "Copy email address to clipboard";
  task.commonButton = sTaskDialog::eCommonButton::Ok;
  if (showTaskDialog(task) == kTaskButtonId) copyToClipboard(std::string(kBugReportAddress));
}

void cDlgMain::showOptions() {
  cDlgOptions options(services_);
  options.runModal(dialogWindow());
}

void cDlgMain::startAnalysisRequest() {
  readLines();
  cDialogRequestUi requestUi(*this);
  std::string message;
  if (!checkAnalysisRequest(requestUi, &message)) {
    enableJobButtons(true);
    if (!message.empty()) showMessage(message, eIcon::Warning);
    return;
  }
  updateSettings([](cSettings& settings) { settings.workOrder.DoWhat = kDoWhatAnalysis; });
  saveSettings();
  startAnalysis(*this);
}

void cDlgMain::startCheckRequest() {
  readLines();
  const std::string epub = settingsSnapshot().workOrder.ZipPath;
  std::string message;
  if (!checkCheckRequest(&message, epub)) {
    enableJobButtons(true);
    showMessage(message, eIcon::Warning);
    return;
  }
  startCheck(*this, epub);
}

bool cDlgMain::mayClose() {
  // Closing already: the jobs are stopping (a close asked again meanwhile).
  if (jobsAbandoned()) return false;
  if (runningJobs() == 0) return true;
  if (!services_.presenter->confirm(dialogWindow(), kCloseDuringJobQuestion)) return false;
  // The busy look stays until every job has stopped and removed its work;
  // the window takes no input meanwhile.
  cWin(dialogWindow()).enable(false);
  stopRunningJobs();
  return true;
}

// ---- cJobOwner ------------------------------------------------------------------------

void cDlgMain::setBusyLook(bool busy) {
  onGuiThread([this, busy] {
    if (busy) parkFocusOfJobButtons();
    if (!busy) setJobButtonsEnabled(true);
    zipButton_.showWindow(!busy);
    unzipButton_.showWindow(!busy);
    analyzeButton_.showWindow(!busy);
    checkButton_.showWindow(!busy);
    progressBar_.showWindow(busy);
    // The marquee starts with the busy look and is never switched off; the bar is only hidden.
    if (busy) progressBar_.startMarquee();
    if (!busy) returnFocusToJobButton();
  });
}

void cDlgMain::enableJobButtons(bool enabled) {
  onGuiThread([this, enabled] {
    if (!enabled) parkFocusOfJobButtons();
    setJobButtonsEnabled(enabled);
    // A refused request: the buttons are back, and so is the focus.
    if (enabled && zipButton_.isVisible()) returnFocusToJobButton();
  });
}

void cDlgMain::setJobButtonsEnabled(bool enabled) {
  for (const cWin* button : {&zipButton_, &unzipButton_, &analyzeButton_, &checkButton_}) button->enable(enabled);
}

void cDlgMain::parkFocusOfJobButtons() {
  const WindowRef focus = focusedControl();
  if (!focus || (focus != zipButton_.window() && focus != unzipButton_.window() && focus != analyzeButton_.window() &&
                 focus != checkButton_.window()))
    return;
  // Disabled or hidden, the button would hand the focus on to the next one in
  // the tab order (Help), and Enter would press that. The dialog keeps it
  // meanwhile.
  jobButton_ = focus;
  focusDialog();
}

void cDlgMain::returnFocusToJobButton() {
  const WindowRef button = std::exchange(jobButton_, nullptr);
  // The user may have put the focus elsewhere while the job ran.
  if (!button || focusedControl() != dialogWindow()) return;
  const cWin parked(button);
  if (parked.isVisible() && parked.isEnabled())
    parked.setFocus();
  else
    zipButton_.setFocus();
}

void cDlgMain::showMessage(const std::string& text, eIcon icon, bool owned) {
  onGuiThread([&] { services_.presenter->showMessage(owned ? dialogWindow() : nullptr, text, icon); });
}

bool cDlgMain::offer(const std::string& question) {
  eAnswer answer = eAnswer::Cancel;
  onGuiThread([&] { answer = services_.presenter->ask(dialogWindow(), question); });
  return answer == eAnswer::Yes;
}

void cDlgMain::showChosenPath(int controlId, const std::string& path) {
  onGuiThread([&] {
    if (controlId == kFilesLine) filesLine_.setText(path);
    if (controlId == kEpubLine) epubLine_.setText(path);
  });
}

int cDlgMain::showTaskDialog(const sTaskDialog& task) {
  int pressed = kIdCancel;
  onGuiThread([&] { pressed = services_.presenter->showTaskDialog(dialogWindow(), task); });
  return pressed;
}

int cDlgMain::showCheckResult(const sCheckView& view) {
  int pressed = check_ids::kClose;
  onGuiThread([&] {
    cDlgCheckResult result(view);
    pressed = result.runModal(dialogWindow());
    // A repair is under way from this moment: no click reaches a job button
    // before its busy look.
    if (pressed == check_ids::kRepair) {
      parkFocusOfJobButtons();
      setJobButtonsEnabled(false);
    }
  });
  return pressed;
}

std::intptr_t cDlgMain::openPath(const std::string& path) {
  std::intptr_t result = 0;
  onGuiThread([&] { result = services_.opener->open(path); });
  return result;
}

}  // namespace plimsy::ui
