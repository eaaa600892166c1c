#include <algorithm>

#include <QClipboard>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeView>

#include "core/paths.h"
#include "ui/clipboard.h"
#include "ui/control_ids.h"
#include "ui/qt/desktop_open.h"
#include "ui/qt/qt_presenter.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"
#include "version.h"

namespace plimsy::ui {
namespace {

QString caption() { return QString::fromUtf8(kApplicationName); }

QMessageBox::Icon qtIcon(eIcon icon) {
  switch (icon) {
    case eIcon::Warning: return QMessageBox::Warning;
    case eIcon::Information: return QMessageBox::Information;
    case eIcon::Question: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// A file picker is a save-style dialog: the name may be new, and an existing
// file is not the picker's to warn about (the job keeps a backup). The
// desktop's own dialog is used where the platform theme has one; Qt's own is
// made wide enough for its name, size, type and date columns.
bool pickWith(WindowRef owner, QFileDialog::FileMode mode, const sPathPick& pick, std::string& path) {
  path.clear();
  QFileDialog dialog(qtWidget(owner), toQString(pick.title));
  dialog.setFileMode(mode);
  if (mode == QFileDialog::Directory) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ShowDirsOnly);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    QStringList filters;
    for (const std::string& filter : pick.filters) filters << toQString(filter);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(toQString(pick.defaultSuffix));
  }
  if (!pick.startPath.empty()) {
    const QString start = toQString(pick.startPath);
    if (mode == QFileDialog::Directory || QFileInfo(start).isDir())
      dialog.setDirectory(start);
    else
      dialog.selectFile(start);
  }
  const QFontMetrics metrics(dialog.font());
  dialog.resize(std::max(dialog.width(), metrics.averageCharWidth() * 110),
                std::max(dialog.height(), metrics.lineSpacing() * 28));
  // Qt's own dialog: the name takes the room the size, type and date leave.
  if (auto* details = dialog.findChild<QTreeView*>()) {
    QHeaderView* header = details->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList chosen = dialog.selectedFiles();
  if (!chosen.isEmpty()) path = fromQString(chosen.first());
  return !path.empty();
}

}  // namespace

void cQtPresenter::showMessage(WindowRef owner, const std::string& text, eIcon icon) {
  QMessageBox box(qtIcon(icon), caption(), toQString(text), QMessageBox::Ok, qtWidget(owner));
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

eAnswer cQtPresenter::ask(WindowRef owner, const std::string& question) {
  QMessageBox box(QMessageBox::Question, caption(), toQString(question),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, qtWidget(owner));
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::Cancel);
  switch (box.exec()) {
    case QMessageBox::Yes: return eAnswer::Yes;
    case QMessageBox::No: return eAnswer::No;
    default: return eAnswer::Cancel;
  }
}

bool cQtPresenter::confirm(WindowRef owner, const std::string& question) {
  QMessageBox box(QMessageBox::Question, caption(), toQString(question), QMessageBox::Yes | QMessageBox::No,
                  qtWidget(owner));
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

int cQtPresenter::showTaskDialog(WindowRef owner, const sTaskDialog& task) {
  QMessageBox box(qtWidget(owner));
  box.setWindowTitle(caption());
  box.setIconPixmap(programIcon().pixmap(48, 48));
  box.setTextFormat(Qt::PlainText);
  box.setText(toQString(task.instruction));
  box.setInformativeText(toQString(task.content));
  QPushButton* custom = box.addButton(toQString(task.customButton), QMessageBox::AcceptRole);
  const bool ok = task.commonButton == sTaskDialog::eCommonButton::Ok;
  QPushButton* common = box.addButton(ok ? QMessageBox::Ok : QMessageBox::Cancel);
  box.setDefaultButton(custom);
  box.setEscapeButton(common);
  box.exec();
  if (box.clickedButton() == custom) return kTaskButtonId;
  return ok ? kIdOk : kIdCancel;
}

bool cQtPresenter::pickFile(WindowRef owner, const sPathPick& pick, std::string& path) {
  return pickWith(owner, QFileDialog::AnyFile, pick, path);
}

bool cQtPresenter::pickFolder(WindowRef owner, const sPathPick& pick, std::string& path) {
  return pickWith(owner, QFileDialog::Directory, pick, path);
}

std::intptr_t cDesktopOpener::open(const std::string& path) {
  if (path.empty() || pathKind(path) == PathKind::Missing) return kShellFileNotFound;
  return openOnDesktop(path);
}

sServices desktopServices() {
  static cQtPresenter presenter;
  static cDesktopOpener opener;
  return jobServices(presenter, opener, [] { QCoreApplication::exit(0); });
}

void copyToClipboard(const std::string& text) { QGuiApplication::clipboard()->setText(toQString(text)); }

}  // namespace plimsy::ui
