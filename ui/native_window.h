#pragma once

// A window as the shared dialog code holds it: an opaque handle that only the
// window backend looks into (a QWidget on the Qt backend, an HWND on the
// Win32 one), and the two small geometry records the dialogs need.

namespace plimsy::ui {

struct sNativeWindow;
using WindowRef = sNativeWindow*;

struct sPoint {
  int x = 0;
  int y = 0;
  bool operator==(const sPoint&) const = default;
};

// A rectangle in pixels.
struct sPixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool contains(sPoint point) const {
    return point.x >= x && point.y >= y && point.x < x + width && point.y < y + height;
  }
  bool operator==(const sPixelRect&) const = default;
};

}  // namespace plimsy::ui
