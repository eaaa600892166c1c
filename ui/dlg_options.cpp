#include "ui/dlg_options.h"

#include <algorithm>
#include <vector>

#include "core/paths.h"
#include "core/settings_file.h"
#include "core/text.h"
#include "ui/control_ids.h"
#include "ui/control_words.h"
#include "ui/line_text.h"
#include "ui/open_failures.h"
#include "ui/ui_values.h"

namespace plimsy::ui {
namespace {

using namespace options_ids;

// What the zip and unzip jobs say when they refuse these options.
constexpr const char* kBadDatetimeMessage = "Unable to read datetime.";
constexpr const char* kBadLevelMessage = "Compression level must be between 0 and 9 inclusive.";

// The names screen readers say, and the hints of the "..." buttons.
constexpr sControlWords kOptionsControlWords[] = {
    {kBackupFolder, "Backup folder", nullptr},
    {kBrowseBackupFolder, "Choose the backup folder", "Choose the backup folder"},
    {kCompressionLevel, "Compression level", nullptr},
    {kDatetime, "Datetime (optional)", nullptr},
    {kAnalysisLog, "Analysis log", nullptr},
    {kBrowseAnalysisLog, "Choose the analysis log", "Choose the analysis log"},
};

bool datetimeReadable(const std::string& text) {
  FileTime time = 0;
  return text.empty() || parseDatetime(text, time);
}

}  // namespace

cDlgOptions::cDlgOptions(const sServices& services) : services_(services) {}

cDlgOptions::~cDlgOptions() = default;

int cDlgOptions::templateId() const { return kOptionsTemplateId; }

std::intptr_t cDlgOptions::dialogMessage(const sMessage& message) {
  switch (message.id) {
    case kMsgInitDialog: initialise(); return defaultHandling(message);
    case kMsgDisplayChange:
    case kMsgDeviceChange:
    case kMsgDpiChanged: applyHeadingFont(); return defaultHandling(message);
    case kMsgCommand: break;
    default: return defaultHandling(message);
  }
  switch (message.controlId) {
    case kSave:
      if (!refuseInvalidControls()) {
        controlsIntoSettings();
        saveSettings();
        endDialog(kSave);
      }
      return 1;
    case kCancel: endDialog(kCancel); return 1;
    case kRestoreDefaults: settingsIntoControls(cSettings()); return 0;
    case kHelp: openHelp(); return 0;
    case kSaveBackups:
    case kBackupsBesideOriginals:
    case kBackupsInFolder: enableBackupControls(); return 0;
    case kBrowseBackupFolder: browseBackupFolder(); return 0;
    case kBrowseAnalysisLog: browseAnalysisLog(); return 0;
    default: return defaultHandling(message);
  }
}

void cDlgOptions::initialise() {
  const std::pair<cWin*, int> wrappers[] = {{&saveBackups_, kSaveBackups},
                                            {&backupsBesideOriginals_, kBackupsBesideOriginals},
                                            {&backupsInFolder_, kBackupsInFolder},
                                            {&backupFolder_, kBackupFolder},
                                            {&browseBackupFolder_, kBrowseBackupFolder},
                                            {&openFinishedWork_, kOpenFinishedWork},
                                            {&realFileCreationTimes_, kRealFileCreationTimes},
                                            {&showSuccessMessage_, kShowSuccessMessage},
                                            {&deflateCompressedFiles_, kDeflateCompressedFiles},
                                            {&datetime_, kDatetime},
                                            {&compressionLevel_, kCompressionLevel},
                                            {&analysisLog_, kAnalysisLog},
                                            {&browseAnalysisLog_, kBrowseAnalysisLog}};
  for (const auto& [wrapper, id] : wrappers) wrapper->attach(control(id));
  applyControlWords(*this, kOptionsControlWords);

  std::vector<std::string> items(std::begin(kCompressionLevelItems), std::end(kCompressionLevelItems));
  if (dialogTemplate().control(kCompressionLevel)->has("CBS_SORT")) std::sort(items.begin(), items.end());
  compressionLevel_.setItems(items);
  settingsIntoControls(settingsSnapshot());
  applyHeadingFont();
  setTitle(windowTitle());
  showProgramIcon();
  deflateCompressedFiles_.setFocus();
  centreOnOwner();
}

void cDlgOptions::applyHeadingFont() { cWin(control(kHeading)).setHeadingLook(); }

void cDlgOptions::settingsIntoControls(const cSettings& settings) {
  saveBackups_.setChecked(settings.SaveBackups);
  backupsBesideOriginals_.setChecked(settings.PutBackupsInOriginalLocation);
  backupsInFolder_.setChecked(settings.UseSpecifiedBackupFolder);
  backupFolder_.setText(settings.workOrder.BackupDir);
  realFileCreationTimes_.setChecked(settings.workOrder.RealFileCreationTimes);
  showSuccessMessage_.setChecked(settings.ShowSuccessMessage);
  deflateCompressedFiles_.setChecked(settings.workOrder.DeflateCompressedFiles);
  datetime_.setText(settings.sDatetime);
  analysisLog_.setText(settings.workOrder.AnalyzeZipLogPath);
  openFinishedWork_.setChecked(settings.OpenFinishedWork);
  const std::uint32_t level = settings.workOrder.CompressionLevel;
  const int count = compressionLevel_.itemCount();
  compressionLevel_.selectItem(level < static_cast<std::uint32_t>(count) ? static_cast<int>(level) : -1);
  // The backup choices, the folder line and its button follow the check marks
  // just set.
  enableBackupControls();
}

int cDlgOptions::selectedCompressionLevel() const {
  // Text typed into the box selects nothing unless it is an item's text, or
  // the number that begins one ("9" for "9  Highest").
  const std::string text = trimmedLineValue(compressionLevel_.text());
  const int selected = compressionLevel_.selectedItem();
  if (selected >= 0 && compressionLevel_.itemText(selected) == text) return selected;
  for (int i = 0; i < compressionLevel_.itemCount(); ++i) {
    const std::string item = compressionLevel_.itemText(i);
    if (item == text || (!text.empty() && item.substr(0, item.find(' ')) == text)) return i;
  }
  return -1;
}

bool cDlgOptions::refuseInvalidControls() {
  const cWin* invalid = nullptr;
  const char* message = nullptr;
  if (selectedCompressionLevel() < 0) {
    invalid = &compressionLevel_;
    message = kBadLevelMessage;
  } else if (!datetimeReadable(trimmedLineValue(datetime_.text()))) {
    invalid = &datetime_;
    message = kBadDatetimeMessage;
  }
  if (!invalid) return false;
  services_.presenter->showMessage(dialogWindow(), message, eIcon::Warning);
  invalid->setFocus();
  return true;
}

void cDlgOptions::controlsIntoSettings() {
  // A level or datetime that a job would refuse keeps the stored one (Save
  // refuses it first; a browse button stores the other controls).
  const int level = selectedCompressionLevel();
  const bool saveBackups = saveBackups_.isChecked();
  const bool besideOriginals = backupsBesideOriginals_.isChecked();
  const bool inFolder = backupsInFolder_.isChecked();
  const std::string backupFolder = lineValue(backupFolder_.text());
  const bool realTimes = realFileCreationTimes_.isChecked();
  const bool showSuccess = showSuccessMessage_.isChecked();
  const bool deflate = deflateCompressedFiles_.isChecked();
  const std::string datetime = trimmedLineValue(datetime_.text());
  const std::string analysisLog = trimmedLineValue(analysisLog_.text());
  const bool openWork = openFinishedWork_.isChecked();
  updateSettings([&](cSettings& settings) {
    settings.SaveBackups = saveBackups;
    settings.PutBackupsInOriginalLocation = besideOriginals;
    settings.UseSpecifiedBackupFolder = inFolder;
    settings.workOrder.BackupDir = backupFolder;
    settings.workOrder.RealFileCreationTimes = realTimes;
    settings.ShowSuccessMessage = showSuccess;
    settings.workOrder.DeflateCompressedFiles = deflate;
    if (datetimeReadable(datetime)) settings.sDatetime = datetime;
    settings.workOrder.AnalyzeZipLogPath = analysisLog;
    settings.OpenFinishedWork = openWork;
    if (level >= 0) settings.workOrder.CompressionLevel = static_cast<std::uint32_t>(level);
  });
}

void cDlgOptions::enableBackupControls() {
  if (!saveBackups_.isChecked()) {
    for (const cWin* wrapper : {&backupsBesideOriginals_, &backupsInFolder_, &backupFolder_, &browseBackupFolder_})
      wrapper->enable(false);
    return;
  }
  for (const cWin* wrapper : {&backupsBesideOriginals_, &backupsInFolder_, &backupFolder_, &browseBackupFolder_})
    wrapper->enable(true);
  const bool besideOriginals = backupsBesideOriginals_.isChecked();
  backupFolder_.enable(!besideOriginals);
  browseBackupFolder_.enable(!besideOriginals);
}

void cDlgOptions::openHelp() {
  const std::string failure = openHelpPage(*services_.opener);
  if (!failure.empty()) services_.presenter->showMessage(dialogWindow(), failure, eIcon::Information);
}

void cDlgOptions::browseBackupFolder() {
  std::string folder;
  if (!services_.presenter->pickFolder(dialogWindow(), backupFolderPick(backupFolder_.text()), folder)) return;
  backupFolder_.setText(withTrailingSeparator(folder));
  controlsIntoSettings();
  saveSettings();
}

void cDlgOptions::browseAnalysisLog() {
  std::string file;
  if (!services_.presenter->pickFile(dialogWindow(), analysisLogPick(analysisLog_.text()), file)) return;
  analysisLog_.setText(file);
  controlsIntoSettings();
  saveSettings();
}

}  // namespace plimsy::ui
