#include "ui/dlg.h"

#include <algorithm>

#include "ui/control_groups.h"
#include "ui/control_ids.h"

namespace plimsy::ui {

std::intptr_t cDlg::send(const sMessage& message) {
  if (!native_) return 0;
  return dialogMessage(message);
}

WindowRef cDlg::control(int controlId) const {
  const auto found = controls_.find(controlId);
  return found == controls_.end() ? nullptr : found->second;
}

void cDlg::registerControl(WindowRef control, int controlId) {
  widgets_.push_back(control);
  if (controlId != -1) controls_.emplace(controlId, control);
}

bool cDlg::build(WindowRef owner, bool modal, std::string* message) {
  if (!loadDialogTemplate(templateId(), template_, message)) return false;
  controls_.clear();
  widgets_.clear();
  destroyed_ = false;
  return buildWindow(owner, modal, message);
}

bool cDlg::create(WindowRef owner, std::string* message) {
  if (!build(owner, false, message)) return false;
  showAsTemplateSays();
  return true;
}

void cDlg::destroyWindow() {
  if (!native_ || !window() || destroyed_) return;
  destroyed_ = true;
  send({kMsgDestroy, 0, {}, {}});
  closeWindow();
  send({kMsgNcDestroy, 0, {}, {}});
}

bool cDlg::moveWithinGroup(WindowRef from, bool previous) {
  const auto found = std::find(widgets_.begin(), widgets_.end(), from);
  if (found == widgets_.end() || widgets_.size() != template_.controls.size()) return false;
  const auto index = static_cast<std::size_t>(found - widgets_.begin());
  if (!arrowsMoveWithinGroup(template_.controls[index])) return false;
  const auto available = [this](std::size_t i) {
    const cWin control(widgets_[i]);
    return control.isVisible() && control.isEnabled();
  };
  const std::optional<std::size_t> next = nextGroupControl(template_, index, previous, available);
  if (!next) return true;
  const cWin target(widgets_[*next]);
  target.setFocus();
  if (template_.controls[*next].has("BS_AUTORADIOBUTTON") && !target.isChecked()) target.click();
  return true;
}

std::intptr_t cDlg::defaultHandling(const sMessage& message) {
  switch (message.id) {
    case kMsgInitDialog: onCreate(); return 0;
    case kMsgCommand:
      if (message.controlId != kIdOk && message.controlId != kIdCancel) return 0;
      destroyWindow();
      return 1;
    case kMsgGetObject: setMessageResult(reinterpret_cast<std::intptr_t>(this)); return 1;
    default: return 0;
  }
}

// ---- Modal dialogs -------------------------------------------------------------

bool cDlgModal::createModal(WindowRef owner, std::string* message) {
  result_.reset();
  if (!build(owner, true, message)) return false;
  if (!result_) showAsTemplateSays();
  return true;
}

int cDlgModal::runModal(WindowRef owner) {
  if (!createModal(owner)) return kIdCancel;
  if (!result_) modalLoop();
  return result_.value_or(kIdCancel);
}

void cDlgModal::endDialog(int result) {
  result_ = result;
  finishModal(result);
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
