#pragma once

// Turns a dialog template's controls into Qt widgets:
//   STATIC            QLabel (plain text), or a sunken QFrame line for SS_ETCHEDHORZ
//   EDIT              QLineEdit (drops pass through it to the dialog)
//   BUTTON            QPushButton, QCheckBox (BS_AUTOCHECKBOX), QRadioButton (BS_AUTORADIOBUTTON)
//   COMBOBOX          editable QComboBox (CBS_DROPDOWN); CBS_SORT keeps the items sorted
//   msctls_progress32 QProgressBar without text
// Each widget sits at its template rectangle (a label, check box or radio
// button whose text needs more room in the desktop's font is widened), has its control id as a
// property, is a tab stop when WS_TABSTOP says so and is hidden when the
// template says NOT WS_VISIBLE. A BS_DEFPUSHBUTTON is the dialog's default button.

#include <QWidget>

#include "ui/dialog_template.h"
#include "ui/qt/dialog_units.h"

namespace plimsy::ui {

// The name of the property that carries a widget's control id.
inline constexpr const char* kControlIdProperty = "plimsyControlId";

QWidget* createControl(const sControlTemplate& control, QWidget* dialog, sBaseUnits units);

// The control id of a widget made by createControl; 0 for any other widget.
int controlIdOf(const QWidget* widget);

}  // namespace plimsy::ui
