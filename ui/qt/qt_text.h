#pragma once

// The boundary between the program's UTF-8 text and Qt's QString.

#include <QString>
#include <string>
#include <string_view>

namespace plimsy::ui {

inline QString toQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string fromQString(const QString& text) { return text.toStdString(); }

}  // namespace plimsy::ui
