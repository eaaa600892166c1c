#include <QClipboard>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

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

bool pickWith(WindowRef owner, QFileDialog::FileMode mode, std::string& path) {
  path.clear();
  QFileDialog dialog(qtWidget(owner));
  dialog.setFileMode(mode);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  if (mode == QFileDialog::Directory) dialog.setOption(QFileDialog::ShowDirsOnly);
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

bool cQtPresenter::pickFile(WindowRef owner, std::string& path) { return pickWith(owner, QFileDialog::AnyFile, path); }

bool cQtPresenter::pickFolder(WindowRef owner, std::string& path) {
  return pickWith(owner, QFileDialog::Directory, path);
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
