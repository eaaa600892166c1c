// The Qt backend of the dialog framework: a dialog is a cDialogBridge (a
// QDialog) with one widget per template control, laid out in dialog units of
// the desktop's font.

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <algorithm>

#include "ui/control_groups.h"
#include "ui/dlg.h"
#include "ui/qt/dialog_bridge.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/template_widgets.h"

namespace plimsy::ui {
namespace {

Qt::WindowFlags windowFlagsOf(const sDialogTemplate& dialog, bool hasOwner) {
  Qt::WindowFlags flags = hasOwner ? Qt::Dialog : Qt::Window;
  flags |= Qt::CustomizeWindowHint;
  if (dialog.has("WS_CAPTION")) flags |= Qt::WindowTitleHint;
  if (dialog.has("WS_SYSMENU")) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (dialog.has("WS_MINIMIZEBOX")) flags |= Qt::WindowMinimizeButtonHint;
  return flags;
}

void centreOnScreen(QWidget* window) {
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

// Draws the logo stretched into the whole widget (the aspect ratio is not kept).
class cLogoView : public QWidget {
 public:
  explicit cLogoView(QWidget* parent) : QWidget(parent) { logo_.load(QStringLiteral(":/plimsy/logo.png")); }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (logo_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), logo_);
  }

 private:
  QPixmap logo_;
};

}  // namespace

struct sDialogWindow {
  QPointer<cDialogBridge> bridge;
};

namespace {

QDialog* bridgeOf(const std::unique_ptr<sDialogWindow>& native) { return native ? native->bridge.data() : nullptr; }

}  // namespace

cDlg::cDlg() = default;

cDlg::~cDlg() {
  if (native_ && native_->bridge) delete native_->bridge.data();
}

bool cDlg::buildWindow(WindowRef owner, bool modal, std::string* /*message*/) {
  if (native_ && native_->bridge) delete native_->bridge.data();
  native_ = std::make_unique<sDialogWindow>();
  auto* bridge = new cDialogBridge(*this, qtWidget(owner), windowFlagsOf(template_, owner != nullptr));
  native_->bridge = bridge;
  bridge->setFont(QApplication::font());
  bridge->setWindowTitle(toQString(template_.caption));
  if (modal) bridge->setWindowModality(Qt::ApplicationModal);
  const sBaseUnits units = baseUnitsOf(bridge->font());
  const QRect size = dialogUnitsToPixels({0, 0, template_.width, template_.height}, units);
  bridge->setFixedSize(size.size());
  QLabel* label = nullptr;  // the label just made, for the line or box that follows it
  for (const sControlTemplate& control : template_.controls) {
    QWidget* widget = createControl(control, bridge, units);
    registerControl(windowRef(widget), control.id);
    bridge->connectCommand(widget, control.id);
    if (arrowsMoveWithinGroup(control)) bridge->watchArrowKeys(widget);
    // A label names the edit line or combo box after it, as in a Windows dialog.
    if (label && (control.className == "EDIT" || control.className == "COMBOBOX")) label->setBuddy(widget);
    label = qobject_cast<QLabel*>(widget);
  }
  attach(windowRef(bridge));
  send({kMsgInitDialog, 0, {}, {}});
  return true;
}

void cDlg::showAsTemplateSays() {
  QDialog* bridge = bridgeOf(native_);
  if (!bridge) return;
  if (template_.has("DS_CENTER")) centreOnScreen(bridge);
  if (template_.has("WS_VISIBLE")) bridge->show();
}

void cDlg::closeWindow() {
  if (QDialog* bridge = bridgeOf(native_)) bridge->hide();
}

void cDlg::acceptFiles(bool accept) {
  if (QDialog* bridge = bridgeOf(native_)) bridge->setAcceptDrops(accept);
}

void cDlg::setTitle(const std::string& title) {
  if (QDialog* bridge = bridgeOf(native_)) bridge->setWindowTitle(toQString(title));
}

void cDlg::showProgramIcon() {
  if (QDialog* bridge = bridgeOf(native_)) bridge->setWindowIcon(programIcon());
}

WindowRef cDlg::focusedControl() const {
  QDialog* bridge = bridgeOf(native_);
  if (!bridge) return nullptr;
  return windowRef(bridge->focusWidget());
}

void cDlg::focusDialog() {
  if (QDialog* bridge = bridgeOf(native_)) bridge->setFocus(Qt::OtherFocusReason);
}

void cDlg::centreOnOwner() {
  QDialog* dialog = bridgeOf(native_);
  if (!dialog) return;
  QRect owner;
  if (dialog->parentWidget())
    owner = dialog->parentWidget()->window()->frameGeometry();
  else if (const QScreen* screen = QGuiApplication::primaryScreen())
    owner = screen->geometry();
  const QSize own = dialog->frameGeometry().size();
  const int left = (owner.left() + owner.left() + owner.width()) / 2 - own.width() / 2;
  const int top = (owner.top() + owner.top() + owner.height()) / 2 - own.height() / 2;
  dialog->move(std::max(left, 0), std::max(top, 0));
}

void cDlg::restoreAndRaise() {
  QDialog* window = bridgeOf(native_);
  if (!window || isDestroyed()) return;
  window->showNormal();
  window->raise();
  window->activateWindow();
}

void cDlg::showLogo(const sPixelRect& rect) {
  QDialog* bridge = bridgeOf(native_);
  if (!bridge) return;
  auto* logo = new cLogoView(bridge);
  logo->setGeometry(rect.x, rect.y, rect.width, rect.height);
  logo->show();
}

void cDlgModal::modalLoop() {
  if (QDialog* bridge = bridgeOf(native_)) bridge->exec();
}

void cDlgModal::finishModal(int result) {
  if (auto* bridge = static_cast<cDialogBridge*>(bridgeOf(native_))) bridge->finish(result);
}

}  // namespace plimsy::ui
