#include "ui/qt/dialog_units.h"

#include <QFontMetrics>
#include <cstdint>

namespace plimsy::ui {

sBaseUnits baseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}

int mulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const std::int64_t product = static_cast<std::int64_t>(a) * b;
  const std::int64_t half = (c < 0 ? -c : c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const std::int64_t magnitude = ((product < 0 ? -product : product) + half) / (c < 0 ? -c : c);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect dialogUnitsToPixels(const sDluRect& rect, sBaseUnits units) {
  const int left = mulDiv(rect.x, units.x, 4);
  const int top = mulDiv(rect.y, units.y, 8);
  const int right = mulDiv(rect.x + rect.width, units.x, 4);
  const int bottom = mulDiv(rect.y + rect.height, units.y, 8);
  return QRect(left, top, right - left, bottom - top);
}

}  // namespace plimsy::ui
