#include "ui/dlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QScreen>
#include <algorithm>

#include "ui/control_groups.h"
#include "ui/control_ids.h"
#include "ui/dialog_bridge.h"
#include "ui/dialog_units.h"
#include "ui/qt_text.h"
#include "ui/template_widgets.h"

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

}  // namespace

cDlg::~cDlg() {
  if (bridge_) delete bridge_.data();
}

std::intptr_t cDlg::send(const sMessage& message) {
  if (!bridge_) return 0;
  return dialogMessage(message);
}

QWidget* cDlg::control(int controlId) const {
  const auto found = controls_.find(controlId);
  return found == controls_.end() ? nullptr : found->second;
}

QDialog* cDlg::dialogWidget() const { return bridge_; }

void cDlg::acceptFiles(bool accept) {
  if (bridge_) bridge_->setAcceptDrops(accept);
}

bool cDlg::build(QWidget* owner, bool modal, std::string* message) {
  if (!loadDialogTemplate(templateId(), template_, message)) return false;
  auto* bridge = new cDialogBridge(*this, owner, windowFlagsOf(template_, owner != nullptr));
  bridge_ = bridge;
  bridge->setFont(QApplication::font());
  bridge->setWindowTitle(toQString(template_.caption));
  if (modal) bridge->setWindowModality(Qt::ApplicationModal);
  const sBaseUnits units = baseUnitsOf(bridge->font());
  bridge->setFixedSize(dialogUnitsToPixels({0, 0, template_.width, template_.height}, units).size());
  for (const sControlTemplate& control : template_.controls) {
    QWidget* widget = createControl(control, bridge, units);
    widgets_.push_back(widget);
    if (control.id != -1) controls_.emplace(control.id, widget);
    bridge->connectCommand(widget, control.id);
    if (arrowsMoveWithinGroup(control)) bridge->watchArrowKeys(widget);
  }
  destroyed_ = false;
  attach(bridge);
  send({kMsgInitDialog, 0, {}, {}});
  return true;
}

bool cDlg::moveWithinGroup(QWidget* from, bool previous) {
  const auto found = std::find(widgets_.begin(), widgets_.end(), from);
  if (found == widgets_.end()) return false;
  const auto index = static_cast<std::size_t>(found - widgets_.begin());
  if (!arrowsMoveWithinGroup(template_.controls[index])) return false;
  const auto available = [this](std::size_t i) {
    return widgets_[i]->isVisibleTo(bridge_) && widgets_[i]->isEnabled();
  };
  const std::optional<std::size_t> next = nextGroupControl(template_, index, previous, available);
  if (!next) return true;
  QWidget* target = widgets_[*next];
  // Moving into an edit line selects its text, as Tab does.
  target->setFocus(previous ? Qt::BacktabFocusReason : Qt::TabFocusReason);
  auto* button = qobject_cast<QAbstractButton*>(target);
  if (button && template_.controls[*next].has("BS_AUTORADIOBUTTON") && !button->isChecked()) button->click();
  return true;
}

bool cDlg::create(QWidget* owner, std::string* message) {
  if (!build(owner, false, message)) return false;
  if (template_.has("DS_CENTER")) centreOnScreen(bridge_);
  if (template_.has("WS_VISIBLE")) bridge_->show();
  return true;
}

void cDlg::destroyWindow() {
  if (!bridge_ || destroyed_) return;
  destroyed_ = true;
  send({kMsgDestroy, 0, {}, {}});
  bridge_->hide();
  send({kMsgNcDestroy, 0, {}, {}});
}

std::intptr_t cDlg::defaultHandling(const sMessage& message) {
  switch (message.id) {
    case kMsgInitDialog:
      onCreate();
      layoutPass();
      return 0;
    case kMsgSize: layoutPass(); return 0;
    case kMsgMove:
    case kMsgNcLButtonDown:
    case kMsgNcRButtonDown:
    case kMsgLButtonDown:
    case kMsgRButtonDown: dismissTransientPopup(); return 0;
    case kMsgNcDestroy:
      if (deleteOnDestroy()) delete this;
      return 0;
    case kMsgCommand:
      if (message.controlId != kIdOk && message.controlId != kIdCancel) return 0;
      destroyWindow();
      return 1;
    case kMsgGetObject: setMessageResult(reinterpret_cast<std::intptr_t>(this)); return 1;
    default: return 0;
  }
}

// ---- Modal dialogs -------------------------------------------------------------

bool cDlgModal::createModal(QWidget* owner, std::string* message) {
  result_.reset();
  if (!build(owner, true, message)) return false;
  if (dialogTemplate().has("DS_CENTER")) centreOnScreen(dialogWidget());
  if (!result_ && dialogTemplate().has("WS_VISIBLE")) dialogWidget()->show();
  return true;
}

int cDlgModal::runModal(QWidget* owner) {
  if (!createModal(owner)) return kIdCancel;
  if (!result_) dialogWidget()->exec();
  return result_.value_or(kIdCancel);
}

void cDlgModal::endDialog(int result) {
  result_ = result;
  if (auto* bridge = static_cast<cDialogBridge*>(dialogWidget())) bridge->finish(result);
  attach(nullptr);
}

std::intptr_t cDlgModal::modalHandling(const sMessage& message) {
  if (message.id == kMsgCommand && (message.controlId == kIdOk || message.controlId == kIdCancel)) {
    endDialog(message.controlId);
    return 1;
  }
  return defaultHandling(message);
}

}  // namespace plimsy::ui
