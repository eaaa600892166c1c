#pragma once

// The Qt backend's side of the shared window handle: a WindowRef is a
// QWidget. And the looks the backend gives every dialog: the program icon and
// the heading font.

#include <QFont>
#include <QIcon>
#include <QWidget>

#include "ui/native_window.h"

namespace plimsy::ui {

inline QWidget* qtWidget(WindowRef window) { return reinterpret_cast<QWidget*>(window); }
inline WindowRef windowRef(QWidget* widget) { return reinterpret_cast<WindowRef>(widget); }

// The program icon (made on first use; a QApplication must exist by then).
const QIcon& programIcon();

// The menu font, 1.8 times as tall and 1.5 times as heavy.
QFont headingFont();

}  // namespace plimsy::ui
