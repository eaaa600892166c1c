#include "ui/win.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "ui/qt_text.h"

namespace plimsy::ui {

cWin::~cWin() { layout_.clear(); }

QSize cWin::size() const { return window_ ? window_->frameGeometry().size() : QSize(); }

void cWin::layoutPass() {
  for (const sLayoutAnchor& anchor : layout_) {
    // Anchoring rules would move anchor.control here; no dialog uses them.
    (void)anchor;
  }
}

void cWin::dismissTransientPopup() {
  if (transientPopup_) transientPopup_->close();
  transientPopup_ = nullptr;
}

void cWin::showWindow(bool visible) const {
  if (window_) window_->setVisible(visible);
}

void cWin::enable(bool enabled) const {
  if (window_) window_->setEnabled(enabled);
}

bool cWin::isEnabled() const { return window_ && window_->isEnabled(); }

bool cWin::isVisible() const { return window_ && !window_->isHidden(); }

std::string cWin::text() const {
  if (auto* line = qobject_cast<QLineEdit*>(window_)) return fromQString(line->text());
  if (auto* combo = qobject_cast<QComboBox*>(window_)) return fromQString(combo->currentText());
  if (auto* button = qobject_cast<QAbstractButton*>(window_)) return fromQString(button->text());
  if (auto* label = qobject_cast<QLabel*>(window_)) return fromQString(label->text());
  return window_ ? fromQString(window_->windowTitle()) : std::string();
}

void cWin::setText(const std::string& text) const {
  if (auto* line = qobject_cast<QLineEdit*>(window_))
    line->setText(toQString(text));
  else if (auto* combo = qobject_cast<QComboBox*>(window_))
    combo->setEditText(toQString(text));
  else if (auto* button = qobject_cast<QAbstractButton*>(window_))
    button->setText(toQString(text));
  else if (auto* label = qobject_cast<QLabel*>(window_))
    label->setText(toQString(text));
  else if (window_)
    window_->setWindowTitle(toQString(text));
}

bool cWin::isChecked() const {
  auto* button = qobject_cast<QAbstractButton*>(window_);
  return button && button->isChecked();
}

void cWin::setChecked(bool checked) const {
  auto* button = qobject_cast<QAbstractButton*>(window_);
  if (!button) return;
  // Radio buttons of one dialog exclude each other when clicked; setting a
  // check mark must not (a settings file may leave both of them unchecked).
  const bool exclusive = button->autoExclusive();
  button->setAutoExclusive(false);
  button->setChecked(checked);
  button->setAutoExclusive(exclusive);
}

}  // namespace plimsy::ui
