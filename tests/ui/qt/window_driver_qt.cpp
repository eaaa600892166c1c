#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/qt/qt_window.h"
#include "window_driver.h"

namespace plimsy::test {
namespace {

Qt::Key qtKey(eKey key) {
  switch (key) {
    case eKey::Escape: return Qt::Key_Escape;
    case eKey::Return: return Qt::Key_Return;
    case eKey::Up: return Qt::Key_Up;
    case eKey::Down: return Qt::Key_Down;
    case eKey::Left: return Qt::Key_Left;
    case eKey::Right: return Qt::Key_Right;
  }
  return Qt::Key_unknown;
}

}  // namespace

void pressKey(ui::WindowRef window, eKey key) { QTest::keyClick(ui::qtWidget(window), qtKey(key)); }

void clickControl(ui::WindowRef control) { QTest::mouseClick(ui::qtWidget(control), Qt::LeftButton); }

void pressCloseBox(ui::WindowRef dialog) { ui::qtWidget(dialog)->close(); }

bool isShown(ui::WindowRef window) { return window && ui::qtWidget(window)->isVisible(); }

bool isDefaultButton(ui::WindowRef button) {
  auto* push = qobject_cast<QPushButton*>(ui::qtWidget(button));
  return push && push->isDefault();
}

bool acceptsDroppedFiles(ui::WindowRef dialog) { return ui::qtWidget(dialog)->acceptDrops(); }

bool isModal(ui::WindowRef dialog) { return ui::qtWidget(dialog)->isModal(); }

bool isMarquee(ui::WindowRef bar) {
  auto* progress = qobject_cast<QProgressBar*>(ui::qtWidget(bar));
  return progress && progress->minimum() == 0 && progress->maximum() == 0;
}

std::string toolTip(ui::WindowRef control) { return ui::qtWidget(control)->toolTip().toStdString(); }

std::string accessibleName(ui::WindowRef control) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(ui::qtWidget(control));
  if (!accessible) return {};
  // On Linux a combo box's name is its value; screen readers say the label
  // it is labelled by (its buddy) first.
  if (accessible->role() == QAccessible::ComboBox) {
    const auto labels = accessible->relations(QAccessible::Label);
    return labels.isEmpty() ? std::string() : labels.first().first->text(QAccessible::Name).toStdString();
  }
  return accessible->text(QAccessible::Name).toStdString();
}

void minimise(ui::WindowRef dialog) { ui::qtWidget(dialog)->showMinimized(); }

bool isMinimised(ui::WindowRef dialog) { return ui::qtWidget(dialog)->isMinimized(); }

bool activate(ui::WindowRef dialog) {
  QWidget* window = ui::qtWidget(dialog);
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}

std::string clipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

void runSoon(std::function<void()> work) { QTimer::singleShot(0, std::move(work)); }

ui::WindowRef activeModalDialog() { return ui::windowRef(QApplication::activeModalWidget()); }

ui::WindowRef dialogControl(ui::WindowRef dialog, int controlId) {
  QWidget* window = ui::qtWidget(dialog);
  if (!window) return nullptr;
  return ui::windowRef(window->findChild<QWidget*>(QStringLiteral("control_%1").arg(controlId)));
}

}  // namespace plimsy::test
