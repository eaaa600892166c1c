#include "ui/qt/template_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVariant>
#include <algorithm>

#include "ui/qt/qt_text.h"

namespace plimsy::ui {
namespace {

QWidget* createStatic(const sControlTemplate& control, QWidget* dialog) {
  if (control.has("SS_ETCHEDHORZ")) {
    auto* line = new QFrame(dialog);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
  }
  auto* label = new QLabel(toQString(control.text), dialog);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QWidget* createEdit(const sControlTemplate& control, QWidget* dialog) {
  if (control.has("ES_MULTILINE")) {
    auto* box = new QPlainTextEdit(dialog);
    box->setReadOnly(control.has("ES_READONLY"));
    // Tab moves on, as in the other controls.
    box->setTabChangesFocus(true);
    box->setAcceptDrops(false);
    box->setVerticalScrollBarPolicy(control.has("WS_VSCROLL") ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    return box;
  }
  auto* line = new QLineEdit(dialog);
  // A line edit takes drops for itself; the dialog wants them.
  line->setAcceptDrops(false);
  return line;
}

QWidget* createButton(const sControlTemplate& control, QWidget* dialog) {
  const QString text = toQString(control.text);
  if (control.has("BS_AUTOCHECKBOX")) return new QCheckBox(text, dialog);
  if (control.has("BS_AUTORADIOBUTTON")) return new QRadioButton(text, dialog);
  auto* button = new QPushButton(text, dialog);
  button->setAutoDefault(true);
  button->setDefault(control.has("BS_DEFPUSHBUTTON"));
  return button;
}

QWidget* createComboBox(const sControlTemplate& control, QWidget* dialog) {
  auto* combo = new QComboBox(dialog);
  combo->setEditable(control.has("CBS_DROPDOWN"));
  combo->setInsertPolicy(QComboBox::NoInsert);
  if (combo->lineEdit()) combo->lineEdit()->setAcceptDrops(false);
  return combo;
}

QWidget* createProgressBar(QWidget* dialog) {
  auto* bar = new QProgressBar(dialog);
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);
  return bar;
}

QWidget* createWidget(const sControlTemplate& control, QWidget* dialog) {
  if (control.className == "STATIC") return createStatic(control, dialog);
  if (control.className == "EDIT") return createEdit(control, dialog);
  if (control.className == "BUTTON") return createButton(control, dialog);
  if (control.className == "COMBOBOX") return createComboBox(control, dialog);
  return createProgressBar(dialog);
}

}  // namespace

QWidget* createControl(const sControlTemplate& control, QWidget* dialog, sBaseUnits units) {
  QWidget* widget = createWidget(control, dialog);
  widget->setProperty(kControlIdProperty, control.id);
  widget->setObjectName(QStringLiteral("control_%1").arg(control.id));
  QRect rect = dialogUnitsToPixels(control.rect, units);
  // A drop-down's rectangle includes its list; the closed box is as tall as its style wants.
  if (control.className == "COMBOBOX") rect.setHeight(widget->sizeHint().height());
  // A label or check box whose text is wider in the desktop's font than in the
  // template's grows to the right rather than cut its text off.
  if (qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget))
    rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
  widget->setGeometry(rect);
  if (control.className != "STATIC" && control.className != "msctls_progress32")
    widget->setFocusPolicy(control.has("WS_TABSTOP") ? Qt::StrongFocus : Qt::ClickFocus);
  else
    widget->setFocusPolicy(Qt::NoFocus);
  widget->setVisible(control.visible());
  return widget;
}

int controlIdOf(const QWidget* widget) {
  if (!widget) return 0;
  const QVariant id = widget->property(kControlIdProperty);
  return id.isValid() ? id.toInt() : 0;
}

}  // namespace plimsy::ui
