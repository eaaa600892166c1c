// The dialog framework: templates as data, the keyboard groups, the default
// handling of modeless and modal dialogs, and the shared values; on every
// window backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "gui_test_support.h"
#include "probe_dialogs.h"
#include "ui/control_groups.h"
#include "ui/control_ids.h"
#include "ui/dialog_template.h"
#include "ui/dlg.h"
#include "ui/line_text.h"
#include "ui/ui_values.h"
#include "window_driver.h"

namespace plimsy::ui {
namespace {

std::map<int, sPixelRect> geometries(const cDlg& dialog) {
  std::map<int, sPixelRect> result;
  for (const sControlTemplate& control : dialog.dialogTemplate().controls)
    if (control.id != -1) result[control.id] = cWin(dialog.control(control.id)).rectInDialog();
  return result;
}

// ---- Templates -------------------------------------------------------------------

TEST(DialogTemplate, ParsesStatementsAndRejectsWhatItCannotRead) {
  sDialogTemplate dialog;
  std::string message;
  ASSERT_TRUE(
      parseDialogTemplate("# comment\nDIALOG 7 100 50\nCAPTION \"Say \"\"hi\"\"\"\nFONT 8 \"Face\"\n"
                          "STYLE WS_POPUP DS_CENTER\nCONTROL 3 BUTTON \"OK\" 1,2,30,14 BS_DEFPUSHBUTTON\n"
                          "CONTROL -1 STATIC \"\" 0,0,10,1 SS_ETCHEDHORZ NOT WS_VISIBLE\n",
                          dialog, &message))
      << message;
  EXPECT_EQ(dialog.id, 7);
  EXPECT_EQ(dialog.caption, "Say \"hi\"");
  EXPECT_EQ(dialog.fontPoints, 8);
  EXPECT_TRUE(dialog.has("DS_CENTER"));
  ASSERT_EQ(dialog.controls.size(), 2u);
  EXPECT_EQ(dialog.controls[0].rect, (sDluRect{1, 2, 30, 14}));
  EXPECT_TRUE(dialog.controls[0].visible());
  EXPECT_FALSE(dialog.controls[1].visible());
  EXPECT_EQ(dialog.controls[1].text, "");

  const std::pair<const char*, const char*> broken[] = {
      {"CONTROL 1 BUTTON \"x\" 1,2,3,4", "Line 1: CONTROL before DIALOG."},
      {"DIALOG 1 2 3\nCONTROL 1 BUTON \"x\" 1,2,3,4", "Line 2: unknown class BUTON."},
      {"DIALOG 1 2 3\nCONTROL 1 BUTTON \"x\" 1,2,3,4 BS_FOO", "Line 2: unknown style BS_FOO."},
      {"DIALOG 1 2 3\nCONTROL 1 BUTTON \"x\" 1,2,3",
       "Line 2: expected CONTROL <id> <class> \"<text>\" "
       "<x>,<y>,<width>,<height> <styles>."},
      {"DIALOG 1 2 3\nCAPTION \"open", "Line 2: unterminated text."},
      {"# nothing\n", "No DIALOG statement."},
  };
  for (const auto& [text, expected] : broken) {
    EXPECT_FALSE(parseDialogTemplate(text, dialog, &message)) << text;
    EXPECT_EQ(message, expected);
  }
}

TEST(DialogTemplate, EveryNamedControlStandsInItsTemplateWithItsClass) {
  sDialogTemplate main;
  sDialogTemplate options;
  std::string message;
  ASSERT_TRUE(loadDialogTemplate(kMainTemplateId, main, &message)) << message;
  ASSERT_TRUE(loadDialogTemplate(kOptionsTemplateId, options, &message)) << message;
  EXPECT_FALSE(loadDialogTemplate(999, main, &message));
  EXPECT_EQ(message, "No dialog template 999.");

  using namespace main_ids;
  const std::pair<int, const char*> mainControls[] = {
      {kFilesLine, "EDIT"},   {kEpubLine, "EDIT"},      {kBrowseFiles, "BUTTON"}, {kBrowseEpub, "BUTTON"},
      {kHelp, "BUTTON"},      {kReportBug, "BUTTON"},   {kNotice, "STATIC"},      {kExploreFiles, "BUTTON"},
      {kOpenEpub, "BUTTON"},  {kExploreEpub, "BUTTON"}, {kOptions, "BUTTON"},     {kProgress, "msctls_progress32"},
      {kSeparator, "STATIC"}, {kZip, "BUTTON"},         {kUnzip, "BUTTON"},       {kAnalyze, "BUTTON"},
      {kCheck, "BUTTON"},     {kClose, "BUTTON"}};
  for (const auto& [id, className] : mainControls) {
    ASSERT_NE(main.control(id), nullptr) << id;
    EXPECT_EQ(main.control(id)->className, className) << id;
  }
  using namespace options_ids;
  const std::pair<int, const char*> optionControls[] = {{kHeading, "STATIC"},
                                                        {kSaveBackups, "BUTTON"},
                                                        {kBackupsBesideOriginals, "BUTTON"},
                                                        {kBackupsInFolder, "BUTTON"},
                                                        {kBackupFolder, "EDIT"},
                                                        {kBrowseBackupFolder, "BUTTON"},
                                                        {kShowSuccessMessage, "BUTTON"},
                                                        {kOpenFinishedWork, "BUTTON"},
                                                        {kRealFileCreationTimes, "BUTTON"},
                                                        {kDeflateCompressedFiles, "BUTTON"},
                                                        {kCompressionLevel, "COMBOBOX"},
                                                        {kDatetime, "EDIT"},
                                                        {kAnalysisLog, "EDIT"},
                                                        {kBrowseAnalysisLog, "BUTTON"},
                                                        {options_ids::kHelp, "BUTTON"},
                                                        {kRestoreDefaults, "BUTTON"},
                                                        {kSave, "BUTTON"},
                                                        {kCancel, "BUTTON"}};
  for (const auto& [id, className] : optionControls) {
    ASSERT_NE(options.control(id), nullptr) << id;
    EXPECT_EQ(options.control(id)->className, className) << id;
  }
  sDialogTemplate check;
  ASSERT_TRUE(loadDialogTemplate(kCheckTemplateId, check, &message)) << message;
  const std::pair<int, const char*> checkControls[] = {{check_ids::kSummary, "STATIC"},
                                                       {check_ids::kFindings, "EDIT"},
                                                       {check_ids::kCopy, "BUTTON"},
                                                       {check_ids::kRepair, "BUTTON"},
                                                       {check_ids::kClose, "BUTTON"}};
  for (const auto& [id, className] : checkControls) {
    ASSERT_NE(check.control(id), nullptr) << id;
    EXPECT_EQ(check.control(id)->className, className) << id;
  }
  // The findings box holds many lines, which the user reads but does not change.
  EXPECT_TRUE(check.control(check_ids::kFindings)->has("ES_MULTILINE"));
  EXPECT_TRUE(check.control(check_ids::kFindings)->has("ES_READONLY"));
}

TEST(ControlGroups, ArrowKeysMoveWithinAGroupInTemplateOrderAndWrap) {
  sDialogTemplate dialog;
  std::string message;
  ASSERT_TRUE(
      parseDialogTemplate("DIALOG 1 100 100\n"
                          "CONTROL 10 BUTTON \"alone\" 0,0,9,9 BS_AUTOCHECKBOX\n"              // 0
                          "CONTROL 11 BUTTON \"first\" 0,0,9,9 BS_AUTORADIOBUTTON WS_GROUP\n"  // 1
                          "CONTROL -1 STATIC \"label\" 0,0,9,9 SS_LEFT\n"                      // 2
                          "CONTROL 12 BUTTON \"second\" 0,0,9,9 BS_AUTORADIOBUTTON\n"          // 3
                          "CONTROL 13 BUTTON \"greyed\" 0,0,9,9 BS_AUTORADIOBUTTON\n"          // 4
                          "CONTROL 14 BUTTON \"OK\" 0,0,9,9 BS_PUSHBUTTON WS_GROUP\n"          // 5
                          "CONTROL 15 EDIT \"\" 0,0,9,9 WS_BORDER\n",                          // 6
                          dialog, &message))
      << message;
  const auto available = [](std::size_t index) { return index != 4; };
  struct Case {
    std::size_t from;
    bool previous;
    std::optional<std::size_t> expected;
  };
  const Case cases[] = {
      {1, false, 3},             // the label is passed over
      {3, false, 1},             // the unavailable one too, and the group wraps
      {1, true, 3},              // backwards, wrapping the other way
      {0, false, std::nullopt},  // a group of one: nowhere to go
      {5, false, 6},             // an edit line can be reached
      {6, true, 5},
      {5, true, 6},
  };
  for (const Case& c : cases)
    EXPECT_EQ(nextGroupControl(dialog, c.from, c.previous, available), c.expected) << c.from << " " << c.previous;
  EXPECT_TRUE(arrowsMoveWithinGroup(dialog.controls[1]));
  EXPECT_FALSE(arrowsMoveWithinGroup(dialog.controls[6])) << "an edit line keeps its arrow keys";
}

// Every control of a built dialog: its text, visibility and default-button
// state follow its template line; exactly one default button.
void expectBuiltAsTemplate(const cDlg& dialog) {
  int defaults = 0;
  for (const sControlTemplate& control : dialog.dialogTemplate().controls) {
    if (control.id == -1) continue;
    const cWin widget(dialog.control(control.id));
    ASSERT_NE(widget.window(), nullptr) << control.id;
    EXPECT_EQ(widget.isVisible(), control.visible()) << control.id;
    if (control.className == "BUTTON" || (control.className == "STATIC" && !control.has("SS_ETCHEDHORZ"))) {
      EXPECT_EQ(widget.text(), control.text) << control.id;
    }
    if (control.className == "BUTTON" && !control.has("BS_AUTOCHECKBOX") && !control.has("BS_AUTORADIOBUTTON")) {
      EXPECT_EQ(test::isDefaultButton(widget.window()), control.has("BS_DEFPUSHBUTTON")) << control.id;
      defaults += test::isDefaultButton(widget.window());
    }
  }
  EXPECT_EQ(defaults, 1);
}

TEST(DialogFramework, TemplatesBuildEveryControlWithTextVisibilityAndDefaultButton) {
  cProbe main(kMainTemplateId);
  ASSERT_TRUE(main.create(nullptr));
  expectBuiltAsTemplate(main);
  EXPECT_TRUE(test::isShown(main.control(main_ids::kNotice)));
  EXPECT_FALSE(test::isShown(main.control(main_ids::kProgress)));

  cModalProbe options;
  ASSERT_TRUE(options.createModal(main.dialogWindow()));
  expectBuiltAsTemplate(options);
  EXPECT_TRUE(test::isDefaultButton(options.control(options_ids::kCancel)));
}

// ---- Default handling -------------------------------------------------------------

TEST(DialogFramework, OkOrCancelDestroysAModelessDialog) {
  for (const int id : {kIdOk, kIdCancel}) {
    cProbe dialog;
    ASSERT_TRUE(dialog.create(nullptr));
    const WindowRef window = dialog.dialogWindow();
    EXPECT_TRUE(test::isShown(window));
    EXPECT_EQ(dialog.sendCommand(id), 1);
    EXPECT_TRUE(dialog.isDestroyed());
    EXPECT_FALSE(test::isShown(window));
    const std::vector<std::uint32_t> tail(dialog.received.end() - 2, dialog.received.end());
    EXPECT_EQ(tail, (std::vector<std::uint32_t>{kMsgDestroy, kMsgNcDestroy}));
  }
  cProbe dialog;
  ASSERT_TRUE(dialog.create(nullptr));
  EXPECT_EQ(dialog.sendCommand(main_ids::kZip), 0);  // other commands: nothing
  EXPECT_FALSE(dialog.isDestroyed());
}

TEST(DialogFramework, EscapeAndTheCloseBoxReachTheDialogAsCancel) {
  cProbe escaped;
  ASSERT_TRUE(escaped.create(nullptr));
  test::pressKey(escaped.dialogWindow(), test::eKey::Escape);
  EXPECT_TRUE(escaped.isDestroyed());

  cProbe closed;
  ASSERT_TRUE(closed.create(nullptr));
  test::pressCloseBox(closed.dialogWindow());
  EXPECT_TRUE(closed.isDestroyed());
  EXPECT_NE(std::find(closed.received.begin(), closed.received.end(), kMsgClose), closed.received.end());
}

TEST(DialogFramework, OkOrCancelEndsAModalDialogWithItsId) {
  for (const int id : {kIdOk, kIdCancel}) {
    cModalProbe dialog;
    ASSERT_TRUE(dialog.createModal(nullptr));
    const WindowRef window = dialog.dialogWindow();
    EXPECT_TRUE(test::isModal(window));
    EXPECT_EQ(dialog.sendCommand(id), 1);
    EXPECT_EQ(dialog.result(), id);
    EXPECT_EQ(dialog.window(), nullptr);
    EXPECT_FALSE(test::isShown(window));
  }
  // The modal loop itself ends with the id.
  cModalProbe dialog;
  test::runSoon([&dialog] { dialog.sendCommand(kIdOk); });
  EXPECT_EQ(dialog.runModal(nullptr), kIdOk);
}

TEST(DialogFramework, GetObjectAnswersWithTheObjectsAddress) {
  cProbe modeless;
  cModalProbe modal;
  ASSERT_TRUE(modeless.create(nullptr));
  ASSERT_TRUE(modal.createModal(nullptr));
  for (cDlg* dialog : {static_cast<cDlg*>(&modeless), static_cast<cDlg*>(&modal)}) {
    EXPECT_EQ(dialog->send({kMsgGetObject, 0, {}, {}}), 1);
    EXPECT_EQ(dialog->messageResult(), reinterpret_cast<std::intptr_t>(dialog));
  }
}

TEST(DialogFramework, InitialisationRunsTheCreateHookOnceAndMovesNoControl) {
  cProbe dialog;
  EXPECT_EQ(dialog.send({kMsgInitDialog, 0, {}, {}}), 0);  // before creation: answered with 0, not handled
  EXPECT_TRUE(dialog.received.empty());
  ASSERT_TRUE(dialog.create(nullptr));
  EXPECT_EQ(dialog.creates, 1);
  const auto before = geometries(dialog);
  EXPECT_EQ(dialog.send({kMsgDisplayChange, 0, {}, {}}), 0);
  EXPECT_EQ(geometries(dialog), before);
}

// ---- Shared values ----------------------------------------------------------------------

TEST(UiValues, TitleShowsTheMinorAndBuildNumbersOfTheFileVersion) {
  EXPECT_EQ(windowTitle(), "Plimsy for Epubs version 0.1");
  EXPECT_EQ(windowTitle(parseVersionRecord("1.2.3.4")), "Plimsy for Epubs version 2.3");
  EXPECT_EQ(parseVersionRecord("0.257.1.0"), (sVersionRecord{0, 1, 1, 0}));  // one byte each
  for (const char* bad : {"", "0.0.1", "0.0.1.0.0", "a.b.c.d", "0.0.1.x"}) {
    EXPECT_EQ(parseVersionRecord(bad), sVersionRecord{}) << bad;
    EXPECT_EQ(windowTitle(parseVersionRecord(bad)), "Plimsy for Epubs version 0.0");
  }
}

TEST(UiValues, InstanceQueryIsARegisteredMessageNumberTheSameEveryTime) {
  EXPECT_GE(instanceQueryMessage(), 0xC000u);
  EXPECT_LE(instanceQueryMessage(), 0xFFFFu);
  EXPECT_EQ(uiValues().instanceQueryMessage, instanceQueryMessage());
}

TEST(UiValues, TheUserGuideIsFoundFromTheBuild) {
  const std::string help = helpPagePath();
  ASSERT_FALSE(help.empty());
  EXPECT_NE(test::readFile(help).find("<title>"), std::string::npos);
}

TEST(LineText, CutsByCharactersTrimsAndUsesThePlatformsSeparators) {
  const std::string accented = "\xC3\xA9";  // one character, two bytes
  std::string line;
  for (int i = 0; i < 1000; ++i) line += accented;
  EXPECT_EQ(cutToCharacters(line, 999).size(), 999u * 2);
  EXPECT_EQ(cutToCharacters("abc", 999), "abc");
#ifdef _WIN32
  EXPECT_EQ(lineValue(" \tC:/me/book/ \r\n"), "C:\\me\\book\\");
#else
  EXPECT_EQ(lineValue(" \t/home/me/book/ \r\n"), "/home/me/book/");  // "/" is the only separator
#endif
}

}  // namespace
}  // namespace plimsy::ui
