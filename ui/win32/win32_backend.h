#pragma once

// What the Win32 window backend's files share: the window handle behind a
// WindowRef, UTF-8 <-> UTF-16, the GUI thread and its relay window, the
// registry of live dialogs that the message loops hand keyboard messages to,
// DPI scaling and GDI+. Only ui/win32 includes this header.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0A00
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#include <windows.h>
// The common controls (progress bars, task dialogs) are part of every dialog here.
#include <commctrl.h>
// The common item dialog of the pickers.
#include <shobjidl.h>

#include <functional>
#include <string>
#include <string_view>

#include "core/platform_utf16.h"
#include "ui/native_window.h"

namespace plimsy::ui {
class cPresenter;
}

namespace plimsy::ui::win32 {

inline HWND hwndOf(WindowRef window) { return reinterpret_cast<HWND>(window); }
inline WindowRef windowRef(HWND window) { return reinterpret_cast<WindowRef>(window); }

// UTF-8 <-> UTF-16: invalid UTF-8 and unpaired surrogates become U+FFFD.
using platform::narrow;
using platform::widen;
// A window's text (GetWindowTextW), as UTF-8.
std::string windowText(HWND window);

// The program's resources: the icon group and the PNG logo.
inline constexpr int kIconResource = 103;
inline constexpr int kLogoResource = 118;
// The program icon at this size (shared, never destroyed); nullptr when the
// executable carries none.
HICON programIcon(int size);

// Records the calling thread as the GUI thread and makes the window that
// runs other threads' work on it (once per process; the first call wins).
void startGuiThread();

// Dialogs whose keyboard the message loops give to IsDialogMessageW.
void registerDialog(HWND dialog);
void unregisterDialog(HWND dialog);
bool isRegisteredDialog(HWND window);
// Gives a queued message to IsDialogMessageW of the registered dialog it is
// for (the root window of its target); true when the dialog handled it.
bool dialogHandled(MSG& message);

// The DPI of the monitor a window is on (96 where the system cannot say).
UINT dpiOf(HWND window);
// A length in 96-DPI pixels at this DPI.
int scaled(int pixels, UINT dpi);

// GDI+ for the logo: started on first use, stopped by stopGdiplus.
bool startGdiplus();
void stopGdiplus();

// The name a screen reader says for this control (its WM_GETOBJECT object
// says it; everything else is the system's accessible object).
void setAccessibleName(HWND control, const std::wstring& name);

// The tooltip control of a dialog (made on first use); nullptr when it
// cannot be made.
HWND toolTipOf(HWND dialog, bool make);

// The desktop's presenter (message boxes, task dialogs, the pickers).
cPresenter& desktopPresenter();
// For tests: shows the pickers' common item dialog, set up as for the user,
// in place of its own Show (an empty function restores Show).
void setFileDialogShow(std::function<HRESULT(IFileDialog&, HWND)> show);

// Gives a dialog's label the heading's font and colour (made for the DPI of
// the dialog's monitor).
void applyHeadingLook(HWND label);

}  // namespace plimsy::ui::win32
