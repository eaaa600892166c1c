// The dialog framework: templates as data, dialog units, the default
// handling of modeless and modal dialogs, the shared values and the pickers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "gui_test_support.h"
#include "ui/qt/qt_presenter.h"
#include "support/scoped_env.h"
#include "ui/qt/qt_window.h"
#include "ui/control_groups.h"
#include "ui/control_ids.h"
#include "ui/qt/desktop_open.h"
#include "ui/dialog_template.h"
#include "ui/qt/dialog_units.h"
#include "ui/dlg.h"
#include "ui/line_text.h"
#include "ui/qt/template_widgets.h"
#include "ui/ui_values.h"

namespace plimsy::ui {
namespace {

using test::waitUntil;

// A dialog that records its messages and leaves everything to the defaults.
class cProbe : public cDlg {
 public:
  explicit cProbe(int id = kMainTemplateId) : id_(id) {}
  int templateId() const override { return id_; }
  std::intptr_t dialogMessage(const sMessage& message) override {
    received.push_back(message.id);
    return defaultHandling(message);
  }
  void onCreate() override { ++creates; }
  std::vector<std::uint32_t> received;
  int creates = 0;

 private:
  int id_;
};

class cModalProbe : public cDlgModal {
 public:
  int templateId() const override { return kOptionsTemplateId; }
  std::intptr_t dialogMessage(const sMessage& message) override { return modalHandling(message); }
};

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
      {kClose, "BUTTON"}};
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

// Every control of a built dialog: its kind of widget, text, visibility and
// default-button state follow its template line.
void expectBuiltAsTemplate(const cDlg& dialog) {
  int defaults = 0;
  for (const sControlTemplate& control : dialog.dialogTemplate().controls) {
    if (control.id == -1) continue;
    QWidget* widget = qtWidget(dialog.control(control.id));
    ASSERT_NE(widget, nullptr) << control.id;
    EXPECT_EQ(controlIdOf(widget), control.id);
    EXPECT_EQ(!widget->isHidden(), control.visible()) << control.id;
    const QString text = QString::fromStdString(control.text);
    if (control.className == "BUTTON" && control.has("BS_AUTOCHECKBOX")) {
      EXPECT_EQ(qobject_cast<QCheckBox*>(widget)->text(), text);
    } else if (control.className == "BUTTON" && control.has("BS_AUTORADIOBUTTON")) {
      EXPECT_EQ(qobject_cast<QRadioButton*>(widget)->text(), text);
    } else if (control.className == "BUTTON") {
      auto* button = qobject_cast<QPushButton*>(widget);
      ASSERT_NE(button, nullptr);
      EXPECT_EQ(button->text(), text);
      EXPECT_EQ(button->isDefault(), control.has("BS_DEFPUSHBUTTON")) << control.id;
      defaults += button->isDefault();
    } else if (control.className == "STATIC" && control.has("SS_ETCHEDHORZ")) {
      EXPECT_EQ(qobject_cast<QFrame*>(widget)->frameShape(), QFrame::HLine);
    } else if (control.className == "STATIC") {
      EXPECT_EQ(qobject_cast<QLabel*>(widget)->text(), text);
    } else if (control.className == "EDIT") {
      EXPECT_FALSE(qobject_cast<QLineEdit*>(widget)->acceptDrops()) << "drops must reach the dialog";
    } else if (control.className == "COMBOBOX") {
      EXPECT_TRUE(qobject_cast<QComboBox*>(widget)->isEditable());
    } else {
      EXPECT_NE(qobject_cast<QProgressBar*>(widget), nullptr);
    }
  }
  EXPECT_EQ(defaults, 1);
}

TEST(DialogFramework, TemplatesBuildEveryControlWithTextVisibilityAndDefaultButton) {
  cProbe main(kMainTemplateId);
  ASSERT_TRUE(main.create(nullptr));
  expectBuiltAsTemplate(main);
  EXPECT_EQ(qtWidget(main.control(main_ids::kNotice))->isVisible(), true);
  EXPECT_TRUE(qtWidget(main.control(main_ids::kProgress))->isHidden());
  EXPECT_TRUE(qtWidget(main.control(main_ids::kExploreEpub))->isHidden());

  cModalProbe options;
  ASSERT_TRUE(options.createModal(main.dialogWindow()));
  expectBuiltAsTemplate(options);
  EXPECT_TRUE(qobject_cast<QPushButton*>(qtWidget(options.control(options_ids::kCancel)))->isDefault());
}

TEST(DialogFramework, DialogUnitsScaleWithTheFont) {
  EXPECT_EQ(mulDiv(5, 7, 4), 9);  // 8.75
  EXPECT_EQ(mulDiv(2, 3, 4), 2);  // 1.5 rounds away from zero
  EXPECT_EQ(mulDiv(-2, 3, 4), -2);
  EXPECT_EQ(mulDiv(1, 1, 0), 0);
  // Each edge is converted alone: the width is what lies between them.
  EXPECT_EQ(dialogUnitsToPixels({17, 35, 73, 8}, {7, 16}), QRect(30, 70, 128, 16));

  cProbe main;
  ASSERT_TRUE(main.create(nullptr));
  const sBaseUnits units = baseUnitsOf(qtWidget(main.dialogWindow())->font());
  EXPECT_GT(units.x, 0);
  EXPECT_EQ(qtWidget(main.dialogWindow())->size(), QSize(mulDiv(308, units.x, 4), mulDiv(178, units.y, 8)));
  EXPECT_EQ(qtWidget(main.control(main_ids::kZip))->geometry(), dialogUnitsToPixels({91, 107, 53, 23}, units));
}

// ---- Default handling -------------------------------------------------------------

TEST(DialogFramework, OkOrCancelDestroysAModelessDialog) {
  for (const int id : {kIdOk, kIdCancel}) {
    cProbe dialog;
    ASSERT_TRUE(dialog.create(nullptr));
    EXPECT_TRUE(qtWidget(dialog.dialogWindow())->isVisible());
    EXPECT_EQ(dialog.sendCommand(id), 1);
    EXPECT_TRUE(dialog.isDestroyed());
    EXPECT_FALSE(qtWidget(dialog.dialogWindow())->isVisible());
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
  QTest::keyClick(qtWidget(escaped.dialogWindow()), Qt::Key_Escape);
  EXPECT_TRUE(escaped.isDestroyed());

  cProbe closed;
  ASSERT_TRUE(closed.create(nullptr));
  qtWidget(closed.dialogWindow())->close();
  EXPECT_TRUE(closed.isDestroyed());
  EXPECT_NE(std::find(closed.received.begin(), closed.received.end(), kMsgClose), closed.received.end());
}

TEST(DialogFramework, OkOrCancelEndsAModalDialogWithItsId) {
  for (const int id : {kIdOk, kIdCancel}) {
    cModalProbe dialog;
    ASSERT_TRUE(dialog.createModal(nullptr));
    QWidget* window = qtWidget(dialog.dialogWindow());
    EXPECT_TRUE(window->isModal());
    EXPECT_EQ(dialog.sendCommand(id), 1);
    EXPECT_EQ(dialog.result(), id);
    EXPECT_EQ(dialog.window(), nullptr);
    EXPECT_FALSE(window->isVisible());
  }
  // The modal loop itself ends with the id.
  cModalProbe dialog;
  QTimer::singleShot(0, [&dialog] { dialog.sendCommand(kIdOk); });
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
  EXPECT_FALSE(programIcon().isNull());
  EXPECT_GT(headingFont().pixelSize(), QApplication::font("QMenu").pixelSize());
}

TEST(UiValues, TheUserGuideIsFoundFromTheBuild) {
  const std::string help = helpPagePath();
  ASSERT_FALSE(help.empty());
  EXPECT_NE(test::readFile(help).find("<title>"), std::string::npos);
}

TEST(LineText, CutsByCharactersTrimsAndKeepsSlashesOnPosix) {
  const std::string accented = "\xC3\xA9";  // one character, two bytes
  std::string line;
  for (int i = 0; i < 1000; ++i) line += accented;
  EXPECT_EQ(cutToCharacters(line, 999).size(), 999u * 2);
  EXPECT_EQ(cutToCharacters("abc", 999), "abc");
  EXPECT_EQ(lineValue(" \t/home/me/book/ \r\n"), "/home/me/book/");
}

// ---- Pickers ----------------------------------------------------------------------------

// Answers the next dialog of type T with `answer` once it is shown, again
// and again until that dialog goes (a file dialog still reading its folder
// may not take the first answer).
template <typename T>
void answerDialog(const std::function<void(T&)>& answer) {
  auto* timer = new QTimer(QCoreApplication::instance());  // goes with the application at the latest
  auto target = std::make_shared<QPointer<T>>();
  auto found = std::make_shared<bool>(false);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, target, found] {
    if (!*found) {
      for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<T*>(window);
        if (dialog && dialog->isVisible()) *target = dialog;
      }
      *found = !target->isNull();
    }
    if (!*found) return;
    if (target->isNull() || !(*target)->isVisible()) {
      timer->stop();
      timer->deleteLater();
      return;
    }
    answer(**target);
  });
  timer->start(10);
}
const auto answerFileDialog = answerDialog<QFileDialog>;
const auto answerMessageBox = answerDialog<QMessageBox>;

TEST(MessageBoxes, CarryTheCaptionTheIconAndTheButtons) {
  cQtPresenter presenter;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  answerMessageBox([&](QMessageBox& box) {
    caption = box.windowTitle();
    icon = box.icon();
    box.button(QMessageBox::Ok)->click();
  });
  presenter.showMessage(nullptr, "Something <b>failed</b>.", eIcon::Warning);
  EXPECT_EQ(caption, "Plimsy");
  EXPECT_EQ(icon, QMessageBox::Warning);

  answerMessageBox([&](QMessageBox& box) {
    icon = box.icon();
    box.button(QMessageBox::No)->click();
  });
  EXPECT_EQ(presenter.ask(nullptr, "Shall I?"), eAnswer::No);
  EXPECT_EQ(icon, QMessageBox::Question);

  // A task dialog: the custom button is the default one.
  sTaskDialog task{"Analysis", "Text", "Show full analysis", sTaskDialog::eCommonButton::Cancel};
  answerMessageBox([](QMessageBox& box) { box.defaultButton()->click(); });
  EXPECT_EQ(presenter.showTaskDialog(nullptr, task), kTaskButtonId);
  answerMessageBox([](QMessageBox& box) { box.button(QMessageBox::Cancel)->click(); });
  EXPECT_EQ(presenter.showTaskDialog(nullptr, task), kIdCancel);
}

// The desktop's opener as a script that ends with `status`, or keeps running
// as a viewer would.
TEST(DesktopOpener, LearnsFromTheOpenerWhetherTheDesktopHasAProgram) {
  test::TempDir folder;
  const std::string book = folder / "book.epub";
  test::writeFile(book, "PK");
  test::ScopedEnv path("PATH");
  path.set(folder.path().string() + ":" + std::getenv("PATH"));
  const std::pair<const char*, std::intptr_t> cases[] = {
      {"exit 0", kShellSuccess},
      {"exit 3", kShellNoAssociation},  // no program for the file
      {"exit 4", kShellNoAssociation},  // the program could not be started
      {"exit 2", kShellFileNotFound},
      {"exec sleep 3 >/dev/null 2>&1", kShellSuccess},  // the viewer runs in the foreground
  };
  for (const auto& [script, expected] : cases) {
    const auto opener = folder.path() / "xdg-open";
    test::writeFile(opener, std::string("#!/bin/sh\n") + script + "\n");
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    EXPECT_EQ(openOnDesktop(book), expected) << script;
  }
  EXPECT_EQ(cDesktopOpener().open(folder / "missing.epub"), kShellFileNotFound);
}

TEST(Pickers, FilePickerTakesANameThatDoesNotExistYetAndCancelGivesNothing) {
  test::TempDir folder;
  const std::string wanted = folder / "new-log.txt";
  cQtPresenter presenter;
  answerFileDialog([&](QFileDialog& dialog) {
    // selectFile leaves the name line alone while it has the focus.
    if (QWidget* focus = dialog.focusWidget()) focus->clearFocus();
    dialog.selectFile(QString::fromStdString(wanted));
    static_cast<QDialog&>(dialog).accept();
  });
  std::string path = "old";
  EXPECT_TRUE(presenter.pickFile(nullptr, path));
  EXPECT_EQ(path, wanted);

  answerFileDialog([](QFileDialog& dialog) { dialog.reject(); });
  EXPECT_FALSE(presenter.pickFile(nullptr, path));
  EXPECT_EQ(path, "");
  answerFileDialog([](QFileDialog& dialog) { dialog.reject(); });
  path = "old";
  EXPECT_FALSE(presenter.pickFolder(nullptr, path));
  EXPECT_EQ(path, "");
}

}  // namespace
}  // namespace plimsy::ui
