#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <algorithm>

#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"
#include "ui/win.h"

namespace plimsy::ui {
namespace {

// The heading's colour: red 0, green 78, blue 234.
const QColor kHeadingColour(0, 78, 234);

}  // namespace

const QIcon& programIcon() {
  static const QIcon icon(QStringLiteral(":/plimsy/icon.png"));
  return icon;
}

QFont headingFont() {
  QFont font = QApplication::font("QMenu");
  const int pixels = QFontInfo(font).pixelSize();
  font.setPixelSize(static_cast<int>(pixels * 1.8));
  font.setWeight(static_cast<QFont::Weight>(std::min(1000, static_cast<int>(static_cast<int>(font.weight()) * 1.5))));
  return font;
}

void cWin::showWindow(bool visible) const {
  if (window_) qtWidget(window_)->setVisible(visible);
}

void cWin::enable(bool enabled) const {
  if (window_) qtWidget(window_)->setEnabled(enabled);
}

bool cWin::isEnabled() const { return window_ && qtWidget(window_)->isEnabled(); }

bool cWin::isVisible() const { return window_ && !qtWidget(window_)->isHidden(); }

std::string cWin::text() const {
  QWidget* widget = qtWidget(window_);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) return fromQString(line->text());
  if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) return fromQString(box->toPlainText());
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return fromQString(combo->currentText());
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return fromQString(button->text());
  if (auto* label = qobject_cast<QLabel*>(widget)) return fromQString(label->text());
  return widget ? fromQString(widget->windowTitle()) : std::string();
}

void cWin::setText(const std::string& text) const {
  QWidget* widget = qtWidget(window_);
  if (auto* line = qobject_cast<QLineEdit*>(widget))
    line->setText(toQString(text));
  else if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
    box->setPlainText(toQString(text));
  else if (auto* combo = qobject_cast<QComboBox*>(widget))
    combo->setEditText(toQString(text));
  else if (auto* button = qobject_cast<QAbstractButton*>(widget))
    button->setText(toQString(text));
  else if (auto* label = qobject_cast<QLabel*>(widget))
    label->setText(toQString(text));
  else if (widget)
    widget->setWindowTitle(toQString(text));
}

bool cWin::isChecked() const {
  auto* button = qobject_cast<QAbstractButton*>(qtWidget(window_));
  return button && button->isChecked();
}

void cWin::setChecked(bool checked) const {
  auto* button = qobject_cast<QAbstractButton*>(qtWidget(window_));
  if (!button) return;
  // Radio buttons of one dialog exclude each other when clicked; setting a
  // check mark must not (a settings file may leave both of them unchecked).
  const bool exclusive = button->autoExclusive();
  button->setAutoExclusive(false);
  button->setChecked(checked);
  button->setAutoExclusive(exclusive);
}

void cWin::click() const {
  if (auto* button = qobject_cast<QAbstractButton*>(qtWidget(window_))) button->click();
}

void cWin::setFocus() const {
  // Moving into an edit line selects its text, as Tab does.
  if (window_) qtWidget(window_)->setFocus(Qt::TabFocusReason);
}

void cWin::setToolTip(const std::string& text) const {
  if (window_) qtWidget(window_)->setToolTip(toQString(text));
}

void cWin::setAccessibleName(const std::string& name) const {
  if (window_) qtWidget(window_)->setAccessibleName(toQString(name));
}

sPixelRect cWin::rectInDialog() const {
  if (!window_) return {};
  const QRect rect = qtWidget(window_)->geometry();
  return {rect.x(), rect.y(), rect.width(), rect.height()};
}

void cWin::setItems(const std::vector<std::string>& items) const {
  auto* combo = qobject_cast<QComboBox*>(qtWidget(window_));
  if (!combo) return;
  combo->clear();
  for (const std::string& item : items) combo->addItem(toQString(item));
}

int cWin::itemCount() const {
  auto* combo = qobject_cast<QComboBox*>(qtWidget(window_));
  return combo ? combo->count() : 0;
}

std::string cWin::itemText(int index) const {
  auto* combo = qobject_cast<QComboBox*>(qtWidget(window_));
  return combo ? fromQString(combo->itemText(index)) : std::string();
}

int cWin::selectedItem() const {
  auto* combo = qobject_cast<QComboBox*>(qtWidget(window_));
  return combo ? combo->currentIndex() : -1;
}

void cWin::selectItem(int index) const {
  auto* combo = qobject_cast<QComboBox*>(qtWidget(window_));
  if (!combo) return;
  combo->setCurrentIndex(index);
  if (index < 0) combo->setEditText(QString());
}

void cWin::startMarquee() const {
  if (auto* bar = qobject_cast<QProgressBar*>(qtWidget(window_))) bar->setRange(0, 0);
}

void cWin::setHeadingLook() const {
  QWidget* heading = qtWidget(window_);
  if (!heading) return;
  heading->setFont(headingFont());
  QPalette palette = heading->palette();
  palette.setColor(QPalette::WindowText, kHeadingColour);
  heading->setPalette(palette);
  heading->setAutoFillBackground(false);
}

}  // namespace plimsy::ui
