#pragma once

// cDlgOptions: the modal options dialog (template 114). It shows the
// process-wide settings, lets the user change them, restore the defaults and
// browse for the backup folder and the analysis log, and writes them back
// (and to the settings file) on Save. Cancel, Escape and the close box leave
// the settings as they are, except what a browse button has already stored.

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "ui/dlg.h"
#include "ui/services.h"

namespace plimsy::ui {

class cDlgOptions : public cDlgModal {
 public:
  explicit cDlgOptions(const sServices& services);
  ~cDlgOptions() override;

  int templateId() const override;
  std::intptr_t dialogMessage(const sMessage& message) override;

  // Every control from the settings (check marks, texts, the level's item),
  // then the backup controls enabled as their check marks say.
  void settingsIntoControls(const cSettings& settings);
  // Every control into the process-wide settings object; a level box whose
  // text names no item, or a datetime that does not parse, leaves the stored
  // value as it is.
  void controlsIntoSettings();
  // A level that is none of the ten items, or a datetime that does not parse,
  // is shown with the message the job would give, and the focus goes to its
  // control: true then (Save stores nothing).
  bool refuseInvalidControls();

 private:
  void initialise();
  void applyHeadingFont();
  void enableBackupControls();
  void openHelp();
  void browseBackupFolder();
  void browseAnalysisLog();
  int selectedCompressionLevel() const;

  sServices services_;
  cWin saveBackups_;
  cWin backupsBesideOriginals_;
  cWin backupsInFolder_;
  cWin backupFolder_;
  cWin browseBackupFolder_;
  cWin openFinishedWork_;
  cWin realFileCreationTimes_;
  cWin showSuccessMessage_;
  cWin deflateCompressedFiles_;
  cWin datetime_;
  cWin compressionLevel_;
  cWin analysisLog_;
  cWin browseAnalysisLog_;
};

// The level items, in the order that makes an item's index its level.
inline constexpr const char* kCompressionLevelItems[] = {"0  Uncompressed",  "1  Fastest", "2", "3",         "4", "5",
                                                         "6  PKZIP default", "7",          "8", "9  Highest"};

}  // namespace plimsy::ui
