// The Qt window backend: the widgets a template makes, dialog units, the
// program's looks, and the desktop's message boxes, pickers and opener.

#include <gtest/gtest.h>

#include <map>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>

#include "gui_test_support.h"
#include "probe_dialogs.h"
#include "support/scoped_env.h"
#include "ui/control_ids.h"
#include "ui/dlg_check.h"
#include "ui/dlg_main.h"
#include "ui/dlg_options.h"
#include "ui/qt/desktop_open.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_presenter.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/template_widgets.h"

namespace plimsy::ui {
namespace {

// Every control of a built dialog is the Qt widget its template line asks for.
void expectWidgetsAsTemplate(const cDlg& dialog) {
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
    } else if (control.className == "EDIT" && control.has("ES_MULTILINE")) {
      auto* box = qobject_cast<QPlainTextEdit*>(widget);
      ASSERT_NE(box, nullptr) << control.id;
      EXPECT_EQ(box->isReadOnly(), control.has("ES_READONLY"));
      EXPECT_TRUE(box->tabChangesFocus()) << "Tab moves on";
      EXPECT_FALSE(box->acceptDrops()) << "drops must reach the dialog";
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

TEST(QtBackend, TemplatesBuildTheWidgetsTheirLinesAskFor) {
  cProbe main(kMainTemplateId);
  ASSERT_TRUE(main.create(nullptr));
  expectWidgetsAsTemplate(main);
  EXPECT_EQ(qtWidget(main.control(main_ids::kNotice))->isVisible(), true);
  EXPECT_TRUE(qtWidget(main.control(main_ids::kProgress))->isHidden());
  EXPECT_TRUE(qtWidget(main.control(main_ids::kExploreEpub))->isHidden());

  cModalProbe options;
  ASSERT_TRUE(options.createModal(main.dialogWindow()));
  expectWidgetsAsTemplate(options);
  EXPECT_TRUE(qobject_cast<QPushButton*>(qtWidget(options.control(options_ids::kCancel)))->isDefault());
  options.endDialog(kIdCancel);

  // The result of a check: its findings box keeps its lines as they are given.
  sCheckView view;
  view.findings = "PKG-007 error mimetype: first\nPKG-010 warning a b.xhtml: second\n";
  cDlgCheckResult check(view);
  ASSERT_TRUE(check.createModal(main.dialogWindow()));
  expectWidgetsAsTemplate(check);
  EXPECT_EQ(qobject_cast<QPlainTextEdit*>(qtWidget(check.control(check_ids::kFindings)))->toPlainText(),
            QString::fromStdString(view.findings));
  EXPECT_EQ(cWin(check.control(check_ids::kFindings)).text(), view.findings);
  check.endDialog(check_ids::kClose);
}

TEST(QtBackend, DialogUnitsScaleWithTheFont) {
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
  EXPECT_EQ(qtWidget(main.control(main_ids::kZip))->geometry(), dialogUnitsToPixels({57, 107, 53, 23}, units));
}

TEST(QtBackend, TheProgramIconAndTheHeadingFont) {
  EXPECT_FALSE(programIcon().isNull());
  EXPECT_GT(headingFont().pixelSize(), QApplication::font("QMenu").pixelSize());
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

// The epub picker is a save-style dialog that starts at the line's epub,
// offers epubs first, adds the extension to a bare name and does not warn
// about an existing file; cancel gives nothing.
TEST(Pickers, TheEpubPickerTakesANewNameWithItsExtensionAndCancelGivesNothing) {
  test::TempDir folder;
  test::writeFile(folder / "old.epub", "x");
  cQtPresenter presenter;
  QString title;
  QStringList filters;
  QString startedAt;
  bool saveStyle = false;
  bool warnsOnOverwrite = true;
  answerFileDialog([&](QFileDialog& dialog) {
    title = dialog.windowTitle();
    filters = dialog.nameFilters();
    startedAt = dialog.directory().absolutePath();
    saveStyle = dialog.acceptMode() == QFileDialog::AcceptSave;
    warnsOnOverwrite = !dialog.testOption(QFileDialog::DontConfirmOverwrite);
    // selectFile leaves the name line alone while it has the focus.
    if (QWidget* focus = dialog.focusWidget()) focus->clearFocus();
    dialog.selectFile(QString::fromStdString(folder / "new-book"));
    static_cast<QDialog&>(dialog).accept();
  });
  std::string path = "old";
  EXPECT_TRUE(presenter.pickFile(nullptr, epubPick(folder / "old.epub"), path));
  EXPECT_EQ(path, folder / "new-book.epub");
  EXPECT_EQ(title, "Choose the epub");
  EXPECT_EQ(filters, QStringList({"EPUB (*.epub)", "All files (*)"}));
  EXPECT_EQ(startedAt.toStdString(), folder.path().string());
  EXPECT_TRUE(saveStyle);
  EXPECT_FALSE(warnsOnOverwrite);

  answerFileDialog([](QFileDialog& dialog) { dialog.reject(); });
  EXPECT_FALSE(presenter.pickFile(nullptr, epubPick(""), path));
  EXPECT_EQ(path, "");
  answerFileDialog([](QFileDialog& dialog) { dialog.reject(); });
  path = "old";
  EXPECT_FALSE(presenter.pickFolder(nullptr, filesFolderPick(""), path));
  EXPECT_EQ(path, "");
}

// The short buttons say in words what they do, and a dialog shows where its
// focus is from the moment it opens, as after a Tab.
TEST(QtBackend, ShortButtonsHaveHintsAndTheFirstFocusIsDrawn) {
  test::sFakeDesktop desktop;
  cDlgMain main(desktop.services());
  ASSERT_TRUE(main.create(nullptr));
  const std::pair<int, const char*> hints[] = {{main_ids::kAnalyze, "Analyze the epub and write a log"},
                                               {main_ids::kExploreFiles, "Open the files folder"},
                                               {main_ids::kBrowseEpub, "Choose the epub"}};
  for (const auto& [id, hint] : hints) EXPECT_EQ(qtWidget(main.control(id))->toolTip(), hint);

  cDlgOptions options(desktop.services());
  ASSERT_TRUE(options.createModal(main.dialogWindow()));
  EXPECT_EQ(qtWidget(options.control(options_ids::kBrowseAnalysisLog))->toolTip(), "Choose the analysis log");
  QWidget* window = qtWidget(options.dialogWindow());
  window->show();
  EXPECT_TRUE(window->testAttribute(Qt::WA_KeyboardFocusChange));
  EXPECT_EQ(window->focusWidget(), qtWidget(options.control(options_ids::kDeflateCompressedFiles)));
  window->hide();
}

// A label names the line or box after it for the keyboard too (its buddy),
// as the label before a control does in a Windows dialog.
TEST(QtBackend, LabelsAreTheBuddiesOfTheLinesAndBoxesTheyName) {
  test::sFakeDesktop desktop;
  cDlgMain main(desktop.services());
  ASSERT_TRUE(main.create(nullptr));
  cDlgOptions options(desktop.services());
  ASSERT_TRUE(options.createModal(main.dialogWindow()));
  std::map<std::string, int> buddies;
  for (const cDlg* dialog : {static_cast<const cDlg*>(&main), static_cast<const cDlg*>(&options)})
    for (QLabel* label : qtWidget(dialog->dialogWindow())->findChildren<QLabel*>())
      if (label->buddy()) buddies[label->text().toStdString()] = controlIdOf(label->buddy());
  const std::map<std::string, int> expected = {{"Files", main_ids::kFilesLine},
                                               {"Epub", main_ids::kEpubLine},
                                               {"Compression level", options_ids::kCompressionLevel},
                                               {"Datetime (optional)", options_ids::kDatetime},
                                               {"Analysis log", options_ids::kAnalysisLog}};
  EXPECT_EQ(buddies, expected);
  // Screen readers on Linux name a combo box by the label it is labelled by.
  QAccessibleInterface* level =
      QAccessible::queryAccessibleInterface(qtWidget(options.control(options_ids::kCompressionLevel)));
  ASSERT_NE(level, nullptr);
  const auto labels = level->relations(QAccessible::Label);
  ASSERT_EQ(labels.size(), 1);
  EXPECT_EQ(labels.first().first->text(QAccessible::Name), "Compression level");
  // A line's own name, set from the dialog's table.
  QAccessibleInterface* datetime =
      QAccessible::queryAccessibleInterface(qtWidget(options.control(options_ids::kDatetime)));
  ASSERT_NE(datetime, nullptr);
  EXPECT_EQ(datetime->text(QAccessible::Name), "Datetime (optional)");
}

TEST(QtBackend, TheOptionsHeadingIsBlueInTheHeadingFontAfterADisplayChangeToo) {
  test::sFakeDesktop desktop;
  cDlgOptions dialog(desktop.services());
  ASSERT_TRUE(dialog.createModal(nullptr));
  for (int pass = 0; pass < 2; ++pass) {
    auto* heading = qobject_cast<QLabel*>(qtWidget(dialog.control(options_ids::kHeading)));
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->palette().color(QPalette::WindowText), QColor(0, 78, 234));
    EXPECT_EQ(heading->font(), headingFont());
    dialog.send({kMsgDisplayChange, 0, {}, {}});
  }
}

// ---- The main dialog on Qt ----------------------------------------------------------

using QtMainDialog = test::cMainDialogTest;

TEST_F(QtMainDialog, TheLogoIsDrawnInItsPlace) {
  QWidget* logo = qtWidget(dialog_->dialogWindow())->childAt(QPoint(20 + 50, 15 + 17));
  ASSERT_NE(logo, nullptr);
  EXPECT_EQ(logo->geometry(), QRect(20, 15, 105, 35));
  const QImage drawn = logo->grab().toImage();
  EXPECT_NE(drawn.pixelColor(10, 17), drawn.pixelColor(104, 0)) << "the logo is drawn";
}

TEST_F(QtMainDialog, DropsOnALineReachTheDialogThroughQt) {
  // Qt offers the drop to the line under the mouse first; it must pass it on.
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(toQString(folder_ / "notes.txt"))});
  data.setText(toQString(folder_ / "notes.txt"));  // as file managers offer it too
  QWidget* epubLine = qtWidget(dialog_->control(main_ids::kEpubLine));
  line(main_ids::kEpubLine).setText("old");
  const QPointF point(5, 5);
  QDragEnterEvent enter(point.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(epubLine, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(point, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(epubLine, &drop);
  EXPECT_EQ(line(main_ids::kEpubLine).text(), folder_ / "notes.txt");
  EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace plimsy::ui
