#pragma once

// Dialog units: a template's rectangles scale with the dialog font. One
// horizontal unit is a quarter of the font's average character width, one
// vertical unit an eighth of its character height, each rectangle edge
// rounded to the nearest pixel.

#include <QFont>
#include <QRect>

#include "ui/dialog_template.h"

namespace plimsy::ui {

struct sBaseUnits {
  int x = 0;  // average character width in pixels
  int y = 0;  // character height in pixels
};

// The average width is that of the 52 letters A-Z and a-z, halved after
// dividing by 26 and rounded up, as the classic dialog manager measures it.
sBaseUnits baseUnitsOf(const QFont& font);

// a * b / c rounded to the nearest integer (halves away from zero).
int mulDiv(int a, int b, int c);

// The pixel rectangle of a dialog-unit rectangle: each edge converted alone.
QRect dialogUnitsToPixels(const sDluRect& rect, sBaseUnits units);

}  // namespace plimsy::ui
