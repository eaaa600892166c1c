// The options dialog: what it shows, what Save, Cancel, Restore defaults and
// the two browse buttons store, and the backup controls' enabling.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/paths.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "gui_test_support.h"
#include "ui/control_ids.h"
#include "ui/dlg_options.h"
#include "ui/line_text.h"
#include "ui/ui_values.h"
#include "ui/win.h"
#include "window_driver.h"

namespace plimsy::ui {
namespace {

using namespace options_ids;

class OptionsDialog : public test::cGuiTest {
 protected:
  void open() {
    dialog_ = std::make_unique<cDlgOptions>(desktop_.services());
    ASSERT_TRUE(dialog_->createModal(nullptr));
  }
  cWin wrap(int id) const { return cWin(dialog_->control(id)); }
  cWin levels() const { return cWin(dialog_->control(kCompressionLevel)); }
  bool fileSaved() const { return std::filesystem::exists(test::settingsFile()); }
  // Enabled: the two backup choices, the folder line, its "..." button.
  std::vector<bool> backupControlsEnabled() const {
    std::vector<bool> states;
    for (const int id : {kBackupsBesideOriginals, kBackupsInFolder, kBackupFolder, kBrowseBackupFolder})
      states.push_back(wrap(id).isEnabled());
    return states;
  }

  std::unique_ptr<cDlgOptions> dialog_;
};

TEST_F(OptionsDialog, OpensWithTheSettingsTitleHeadingAndLevels) {
  updateSettings([](cSettings& s) {
    s.SaveBackups = false;
    s.PutBackupsInOriginalLocation = false;
    s.UseSpecifiedBackupFolder = true;
    s.workOrder.BackupDir = "/backups/";
    s.workOrder.CompressionLevel = 4;
    s.sDatetime = "2022-07-01";
    s.workOrder.AnalyzeZipLogPath = "/tmp/log.txt";
    s.OpenFinishedWork = false;
  });
  open();
  EXPECT_EQ(cWin(dialog_->dialogWindow()).text(), "Plimsy for Epubs version 0.1");
  EXPECT_FALSE(wrap(kSaveBackups).isChecked());
  EXPECT_FALSE(wrap(kBackupsBesideOriginals).isChecked());
  EXPECT_TRUE(wrap(kBackupsInFolder).isChecked());
  EXPECT_EQ(wrap(kBackupFolder).text(), "/backups/");
  EXPECT_EQ(wrap(kDatetime).text(), "2022-07-01");
  EXPECT_EQ(wrap(kAnalysisLog).text(), "/tmp/log.txt");
  EXPECT_FALSE(wrap(kOpenFinishedWork).isChecked());
  EXPECT_TRUE(wrap(kShowSuccessMessage).isChecked());
  ASSERT_EQ(levels().itemCount(), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(levels().itemText(i), kCompressionLevelItems[i]);
  EXPECT_EQ(levels().text(), "4");
  EXPECT_EQ(dialog_->focusedControl(), dialog_->control(kDeflateCompressedFiles));
}

TEST_F(OptionsDialog, CancelKeepsEverythingUnlessABrowseButtonStoredIt) {
  const cSettings before = settingsSnapshot();
  open();
  wrap(kDeflateCompressedFiles).setChecked(true);
  wrap(kDatetime).setText("2020-01-01");
  levels().selectItem(2);
  dialog_->sendCommand(kCancel);
  EXPECT_EQ(dialog_->result(), kCancel);
  EXPECT_EQ(settingsSnapshot(), before);
  EXPECT_FALSE(fileSaved());

  // A folder chosen with "..." stores every control's current value at once.
  open();
  wrap(kDatetime).setText("2021-02-03");
  const std::string chosen = test::native("/chosen/backups");
  desktop_.presenter.pickedFolders = {chosen};
  dialog_->sendCommand(kBrowseBackupFolder);
  EXPECT_EQ(wrap(kBackupFolder).text(), chosen + kPreferredSeparator);
  dialog_->sendCommand(kCancel);
  EXPECT_EQ(settingsSnapshot().workOrder.BackupDir, chosen + kPreferredSeparator);
  EXPECT_EQ(settingsSnapshot().sDatetime, "2021-02-03");
  ASSERT_TRUE(fileSaved());
  EXPECT_NE(test::readFile(test::settingsFile()).find("<BackupDir>" + chosen + kPreferredSeparator + "</BackupDir>"),
            std::string::npos);

  open();
  desktop_.presenter.pickedFiles = {"/logs/new.txt"};
  dialog_->sendCommand(kBrowseAnalysisLog);
  EXPECT_EQ(settingsSnapshot().workOrder.AnalyzeZipLogPath, "/logs/new.txt");
  // A cancelled picker changes nothing.
  desktop_.presenter.pickedFiles.clear();
  wrap(kDatetime).setText("changed");
  dialog_->sendCommand(kBrowseAnalysisLog);
  EXPECT_EQ(settingsSnapshot().workOrder.AnalyzeZipLogPath, "/logs/new.txt");
  EXPECT_EQ(settingsSnapshot().sDatetime, "2021-02-03");
}

TEST_F(OptionsDialog, RestoreDefaultsFillsTheControlsButStoresNothingUntilSave) {
  updateSettings([](cSettings& s) {
    s.SaveBackups = false;
    s.workOrder.CompressionLevel = 1;
    s.workOrder.DeflateCompressedFiles = true;
    s.sDatetime = "2022-07-01";
  });
  const cSettings before = settingsSnapshot();
  open();
  dialog_->sendCommand(kRestoreDefaults);
  EXPECT_TRUE(wrap(kSaveBackups).isChecked());
  EXPECT_TRUE(wrap(kBackupsBesideOriginals).isChecked());
  EXPECT_FALSE(wrap(kBackupsInFolder).isChecked());
  EXPECT_FALSE(wrap(kDeflateCompressedFiles).isChecked());
  EXPECT_EQ(wrap(kDatetime).text(), "");
  EXPECT_EQ(levels().text(), "9  Highest");
  dialog_->sendCommand(kCancel);
  EXPECT_EQ(settingsSnapshot(), before);

  open();
  dialog_->sendCommand(kRestoreDefaults);
  dialog_->sendCommand(kSave);
  EXPECT_EQ(dialog_->result(), kSave);
  cSettings defaults;
  EXPECT_EQ(settingsSnapshot(), defaults);
  EXPECT_TRUE(fileSaved());
}

TEST_F(OptionsDialog, BackupControlsFollowTheCheckMarksAtOpeningAndAfterRestoreDefaults) {
  struct Case {
    bool saveBackups;
    bool besideOriginals;
    bool inFolder;
    std::vector<bool> enabled;
  };
  const Case cases[] = {
      {false, true, false, {false, false, false, false}}, {false, false, true, {false, false, false, false}},
      {true, true, false, {true, true, false, false}},    {true, false, true, {true, true, true, true}},
      {true, false, false, {true, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.saveBackups << c.besideOriginals << c.inFolder);
    updateSettings([&c](cSettings& s) {
      s.SaveBackups = c.saveBackups;
      s.PutBackupsInOriginalLocation = c.besideOriginals;
      s.UseSpecifiedBackupFolder = c.inFolder;
    });
    open();
    EXPECT_EQ(backupControlsEnabled(), c.enabled) << "at opening";
    // The defaults: backups on, beside the originals.
    dialog_->sendCommand(kRestoreDefaults);
    EXPECT_EQ(backupControlsEnabled(), (std::vector<bool>{true, true, false, false})) << "after Restore defaults";
    // Defaults restored over backups switched off by hand.
    test::clickControl(dialog_->control(kSaveBackups));
    dialog_->sendCommand(kRestoreDefaults);
    EXPECT_EQ(backupControlsEnabled(), (std::vector<bool>{true, true, false, false})) << "after Restore defaults";
    dialog_->sendCommand(kCancel);
  }
}

TEST_F(OptionsDialog, BackupControlsFollowTheirCheckMarks) {
  open();
  const auto enabled = [this] { return backupControlsEnabled(); };
  test::clickControl(dialog_->control(kSaveBackups));  // unchecks
  EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false}));
  test::clickControl(dialog_->control(kSaveBackups));  // checks again, beside originals
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false}));
  test::clickControl(dialog_->control(kBackupsInFolder));
  EXPECT_FALSE(wrap(kBackupsBesideOriginals).isChecked());
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, true, true}));
  test::clickControl(dialog_->control(kBackupsBesideOriginals));
  EXPECT_EQ(enabled(), (std::vector<bool>{true, true, false, false}));
}

TEST_F(OptionsDialog, ArrowKeysReachTheBackupChoicesAndCheckThem) {
  updateSettings([](cSettings& s) {
    s.PutBackupsInOriginalLocation = false;
    s.UseSpecifiedBackupFolder = true;
  });
  open();
  // Presses a key on the control that has the focus; returns the id of the one that has it then.
  const auto press = [this](test::eKey key) {
    test::pressKey(dialog_->focusedControl(), key);
    for (const sControlTemplate& control : dialog_->dialogTemplate().controls)
      if (control.id != -1 && dialog_->control(control.id) == dialog_->focusedControl()) return control.id;
    return 0;
  };
  wrap(kSaveBackups).setFocus();
  EXPECT_EQ(press(test::eKey::Down), kBackupsBesideOriginals);
  EXPECT_TRUE(wrap(kBackupsBesideOriginals).isChecked());
  EXPECT_FALSE(wrap(kBackupsInFolder).isChecked());
  EXPECT_FALSE(wrap(kBackupFolder).isEnabled()) << "checking it ran the enabling rules";
  EXPECT_EQ(press(test::eKey::Right), kBackupsInFolder);
  EXPECT_TRUE(wrap(kBackupsInFolder).isChecked());
  EXPECT_FALSE(wrap(kBackupsBesideOriginals).isChecked());
  EXPECT_TRUE(wrap(kBackupFolder).isEnabled());
  EXPECT_EQ(press(test::eKey::Down), kBackupFolder);
  EXPECT_EQ(press(test::eKey::Down), kBackupFolder) << "an edit line keeps its arrow keys";

  // With backups off, the greyed choices are passed over; the dialog is one
  // group, so Up wraps round to its end (Windows' own dialog keyboard stops
  // on the heading label on the way; the Qt dialogs pass labels over).
  test::clickControl(dialog_->control(kSaveBackups));
  EXPECT_EQ(press(test::eKey::Down), kShowSuccessMessage);
  wrap(kSaveBackups).setFocus();
#ifdef _WIN32
  EXPECT_EQ(press(test::eKey::Up), kHeading);
#else
  EXPECT_EQ(press(test::eKey::Up), kCancel);
#endif
}

TEST_F(OptionsDialog, AUserGuideThatCannotBeOpenedIsExplained) {
  open();
  desktop_.opener.result = 31;
  dialog_->sendCommand(options_ids::kHelp);
  ASSERT_EQ(messages().size(), 1u);
  // The page it tried to open is named on the line after.
  EXPECT_EQ(
      messages()[0].text,
      "Unable to open the user guide. There is no application associated with the given file name.\n" + helpPagePath());
  EXPECT_EQ(messages()[0].icon, eIcon::Information);
  EXPECT_EQ(dialog_->result(), std::nullopt) << "the dialog stays open";
}

TEST_F(OptionsDialog, SaveStoresTrimmedTextsAndATypedFolderAsTyped) {
  open();
  wrap(kBackupFolder).setText("  /my backups/sub  \t");
  wrap(kDatetime).setText(" 2022-07-01 ");
  wrap(kAnalysisLog).setText("\t/tmp/a.txt ");
  test::clickControl(dialog_->control(kBackupsInFolder));
  levels().selectItem(3);
  dialog_->sendCommand(kSave);
  const cSettings saved = settingsSnapshot();
  // "/" becomes the system's separator, and no separator is added to a typed folder.
  EXPECT_EQ(saved.workOrder.BackupDir, test::native("/my backups/sub"));
  EXPECT_EQ(saved.sDatetime, "2022-07-01");
  EXPECT_EQ(saved.workOrder.AnalyzeZipLogPath, "/tmp/a.txt");
  EXPECT_TRUE(saved.UseSpecifiedBackupFolder);
  EXPECT_FALSE(saved.PutBackupsInOriginalLocation);
  EXPECT_EQ(saved.workOrder.CompressionLevel, 3u);
  EXPECT_NE(test::readFile(test::settingsFile()).find("<CompressionLevel>3</CompressionLevel>"), std::string::npos);
}

TEST_F(OptionsDialog, ALevelOrDatetimeThatAJobWouldRefuseIsRefusedAtSave) {
  struct Case {
    const char* level;     // typed into the level box
    const char* datetime;  // typed into the datetime line
    const char* message;   // empty: saved
    int focus;             // the control that then has the focus
  };
  const char* badLevel = "Compression level must be between 0 and 9 inclusive.";
  const char* badDatetime = "Unable to read datetime.";
  const Case cases[] = {
      {"42", "", badLevel, kCompressionLevel},
      {"fast please", "", badLevel, kCompressionLevel},
      {"", "", badLevel, kCompressionLevel},
      {"-1", "", badLevel, kCompressionLevel},
      {"10", "2022-07-01", badLevel, kCompressionLevel},
      {"3", "yesterday", badDatetime, kDatetime},
      {"3", "2022-13-01", badDatetime, kDatetime},
      {"3", "2022-02-30", badDatetime, kDatetime},
      {"3", "2022-7-1", badDatetime, kDatetime},
      {"3", "2022-07-01T25:00:00", badDatetime, kDatetime},
      {"42", "yesterday", badLevel, kCompressionLevel},
      // Accepted: an item's text, or the number that begins it; the four
      // datetime forms, or none.
      {"9  Highest", "", "", 0},
      {"9", "2022-07-01", "", 0},
      {" 0 ", "2022-07-01Z", "", 0},
      {"6  PKZIP default", "2022-07-01T10:20:30", "", 0},
      {"1", " 2022-07-01T10:20:30Z ", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << '"' << c.level << "\" / \"" << c.datetime << '"');
    test::resetSettings();
    updateSettings([](cSettings& s) { s.workOrder.CompressionLevel = 5; });
    std::filesystem::remove(test::settingsFile());
    desktop_.presenter.messages.clear();
    open();
    levels().setText(c.level);
    wrap(kDatetime).setText(c.datetime);
    dialog_->sendCommand(kSave);
    if (*c.message) {
      ASSERT_EQ(messages().size(), 1u);
      EXPECT_EQ(messages()[0].text, c.message);
      EXPECT_EQ(messages()[0].icon, eIcon::Warning);
      EXPECT_EQ(dialog_->result(), std::nullopt) << "the dialog stays open";
      EXPECT_EQ(dialog_->focusedControl(), dialog_->control(c.focus));
      EXPECT_FALSE(fileSaved());
      EXPECT_EQ(settingsSnapshot().workOrder.CompressionLevel, 5u);
      EXPECT_EQ(settingsSnapshot().sDatetime, "");
      dialog_->sendCommand(kCancel);
    } else {
      EXPECT_TRUE(messages().empty());
      EXPECT_EQ(dialog_->result(), kSave);
      EXPECT_TRUE(fileSaved());
      EXPECT_LE(settingsSnapshot().workOrder.CompressionLevel, 9u);
      EXPECT_EQ(settingsSnapshot().sDatetime, trimmedLineValue(c.datetime));
    }
  }
}

TEST_F(OptionsDialog, ABrowseButtonKeepsTheStoredLevelAndDatetimeWhenTheTypedOnesAreInvalid) {
  updateSettings([](cSettings& s) {
    s.workOrder.CompressionLevel = 4;
    s.sDatetime = "2022-07-01";
  });
  open();
  levels().setText("42");
  wrap(kDatetime).setText("yesterday");
  wrap(kDeflateCompressedFiles).setChecked(true);
  desktop_.presenter.pickedFiles = {"/logs/new.txt"};
  dialog_->sendCommand(kBrowseAnalysisLog);
  const cSettings stored = settingsSnapshot();
  EXPECT_EQ(stored.workOrder.AnalyzeZipLogPath, "/logs/new.txt");
  EXPECT_TRUE(stored.workOrder.DeflateCompressedFiles);
  EXPECT_EQ(stored.workOrder.CompressionLevel, 4u);
  EXPECT_EQ(stored.sDatetime, "2022-07-01");
  EXPECT_NE(test::readFile(test::settingsFile()).find("<CompressionLevel>4</CompressionLevel>"), std::string::npos);
}

TEST_F(OptionsDialog, ALevelStoredAsMinusOneShowsNoSelectionAndIsRefusedAtSave) {
  updateSettings([](cSettings& s) { s.workOrder.CompressionLevel = kNoCompressionLevel; });
  open();
  EXPECT_EQ(levels().selectedItem(), -1);
  EXPECT_EQ(levels().text(), "");
  dialog_->sendCommand(kSave);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Compression level must be between 0 and 9 inclusive.");
  levels().selectItem(7);
  dialog_->sendCommand(kSave);
  EXPECT_EQ(dialog_->result(), kSave);
  EXPECT_EQ(settingsSnapshot().workOrder.CompressionLevel, 7u);
}

TEST_F(OptionsDialog, EnterOnACheckBoxOrLinePressesCancel) {
  for (const int id : {kDeflateCompressedFiles, kDatetime}) {
    open();
    cWin(dialog_->control(id)).setChecked(true);
    cWin(dialog_->control(id)).setText("typed");
    test::pressKey(dialog_->control(id), test::eKey::Return);
    EXPECT_EQ(dialog_->result(), kCancel) << id;
    EXPECT_EQ(settingsSnapshot(), cSettings()) << id;
  }
}

// Every control says what it is to a screen reader: a line or box its
// label's text, a "..." button what it chooses (shown as a hint too).
TEST_F(OptionsDialog, ControlsHaveAccessibleNamesAndTheBrowseButtonsHints) {
  struct Case {
    int id;
    const char* name;
    const char* hint;
  };
  const Case cases[] = {
      {kSaveBackups, "Save backups of overwritten files", ""},
      {kBackupsBesideOriginals, "Put backups in same folders as originals", ""},
      {kBackupsInFolder, "Put backups in the folder I specify here:", ""},
      {kBackupFolder, "Backup folder", ""},
      {kBrowseBackupFolder, "Choose the backup folder", "Choose the backup folder"},
      {kShowSuccessMessage, "Show success message after job completes", ""},
      {kOpenFinishedWork, "Open work after job completes", ""},
      {kRealFileCreationTimes, "Use real file creation times (override tunneling)", ""},
      {kDeflateCompressedFiles, "Deflate compressed files", ""},
      {kCompressionLevel, "Compression level", ""},
      {kDatetime, "Datetime (optional)", ""},
      {kAnalysisLog, "Analysis log", ""},
      {kBrowseAnalysisLog, "Choose the analysis log", "Choose the analysis log"},
      {options_ids::kHelp, "Help", ""},
      {kRestoreDefaults, "Restore defaults", ""},
      {kSave, "Save", ""},
      {kCancel, "Cancel", ""},
  };
  open();
  for (const Case& c : cases) {
    EXPECT_EQ(test::accessibleName(dialog_->control(c.id)), c.name) << c.id;
    EXPECT_EQ(test::toolTip(dialog_->control(c.id)), c.hint) << c.id;
  }
  for (const sControlTemplate& control : dialog_->dialogTemplate().controls) {
    if (control.className == "STATIC") continue;
    EXPECT_TRUE(std::any_of(std::begin(cases), std::end(cases), [&](const Case& c) { return c.id == control.id; }))
        << control.id;
  }
}

TEST_F(OptionsDialog, EscapeCloseBoxAndHelp) {
  open();
  dialog_->sendCommand(options_ids::kHelp);
  ASSERT_EQ(desktop_.opener.opened.size(), 1u);
  EXPECT_EQ(desktop_.opener.opened[0], helpPagePath());
  test::pressKey(dialog_->dialogWindow(), test::eKey::Escape);
  EXPECT_EQ(dialog_->result(), kCancel);
  open();
  test::pressCloseBox(dialog_->dialogWindow());
  EXPECT_EQ(dialog_->result(), kCancel);
}

}  // namespace
}  // namespace plimsy::ui
