// cWin's control operations on Win32 controls: window messages to the
// control, as a dialog's own code sends them.

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <commctrl.h>

#include "ui/win.h"

namespace plimsy::ui {

using namespace win32;

namespace {

HWND controlOf(WindowRef window) { return hwndOf(window); }

// A multi-line edit box breaks its lines at CR LF; the dialogs' texts use LF.
bool isMultiLineEdit(HWND window) {
  wchar_t className[8] = {};
  GetClassNameW(window, className, 8);
  return lstrcmpiW(className, L"Edit") == 0 && (GetWindowLongW(window, GWL_STYLE) & ES_MULTILINE) != 0;
}

std::string withLineEnds(const std::string& text, bool crlf) {
  std::string out;
  out.reserve(text.size() + (crlf ? text.size() / 16 : 0));
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (crlf && text[i] == '\n') out += '\r';
    if (!crlf && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

constexpr const wchar_t* kToolTipProperty = L"PlimsyToolTip";

}  // namespace

namespace win32 {

HWND toolTipOf(HWND dialog, bool make) {
  if (!dialog) return nullptr;
  if (auto tip = static_cast<HWND>(GetPropW(dialog, kToolTipProperty))) return tip;
  if (!make) return nullptr;
  // Owned by the dialog, it goes with it.
  HWND tip =
      CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!tip) return nullptr;
  SetPropW(dialog, kToolTipProperty, tip);
  return tip;
}

}  // namespace win32

void cWin::showWindow(bool visible) const {
  if (HWND window = controlOf(window_)) ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
}

void cWin::enable(bool enabled) const {
  if (HWND window = controlOf(window_)) EnableWindow(window, enabled ? TRUE : FALSE);
}

bool cWin::isEnabled() const {
  HWND window = controlOf(window_);
  return window && IsWindowEnabled(window);
}

bool cWin::isVisible() const {
  HWND window = controlOf(window_);
  return window && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string cWin::text() const {
  HWND window = controlOf(window_);
  const std::string text = windowText(window);
  return window && isMultiLineEdit(window) ? withLineEnds(text, false) : text;
}

void cWin::setText(const std::string& text) const {
  HWND window = controlOf(window_);
  if (!window) return;
  SetWindowTextW(window, widen(isMultiLineEdit(window) ? withLineEnds(text, true) : text).c_str());
}

bool cWin::isChecked() const {
  HWND window = controlOf(window_);
  return window && SendMessageW(window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void cWin::setChecked(bool checked) const {
  // BM_SETCHECK leaves the other radio buttons of the group alone.
  if (HWND window = controlOf(window_)) SendMessageW(window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void cWin::click() const {
  if (HWND window = controlOf(window_)) SendMessageW(window, BM_CLICK, 0, 0);
}

void cWin::setToolTip(const std::string& text) const {
  HWND control = controlOf(window_);
  HWND tip = control ? toolTipOf(GetAncestor(control, GA_PARENT), true) : nullptr;
  if (!tip) return;
  std::wstring wide = widen(text);
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  // The tooltip watches the control's own mouse messages.
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = GetAncestor(control, GA_PARENT);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = wide.data();  // copied by the tooltip
  SendMessageW(tip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void cWin::setAccessibleName(const std::string& name) const {
  win32::setAccessibleName(controlOf(window_), widen(name));
}

void cWin::setFocus() const {
  HWND window = controlOf(window_);
  if (!window) return;
  // In a dialog the dialog manager moves the focus (and the default button's
  // look, and selects an edit line's text, as Tab does).
  HWND parent = GetAncestor(window, GA_PARENT);
  if (isRegisteredDialog(parent))
    SendMessageW(parent, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window), TRUE);
  else
    SetFocus(window);
}

sPixelRect cWin::rectInDialog() const {
  HWND window = controlOf(window_);
  if (!window) return {};
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetAncestor(window, GA_PARENT), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void cWin::setItems(const std::vector<std::string>& items) const {
  HWND window = controlOf(window_);
  if (!window) return;
  SendMessageW(window, CB_RESETCONTENT, 0, 0);
  for (const std::string& item : items)
    SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(item).c_str()));
}

int cWin::itemCount() const {
  HWND window = controlOf(window_);
  if (!window) return 0;
  const LRESULT count = SendMessageW(window, CB_GETCOUNT, 0, 0);
  return count == CB_ERR ? 0 : static_cast<int>(count);
}

std::string cWin::itemText(int index) const {
  HWND window = controlOf(window_);
  if (!window || index < 0) return {};
  const LRESULT length = SendMessageW(window, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT read =
      SendMessageW(window, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(read == CB_ERR ? 0 : static_cast<std::size_t>(read));
  return narrow(text);
}

int cWin::selectedItem() const {
  HWND window = controlOf(window_);
  if (!window) return -1;
  const LRESULT selected = SendMessageW(window, CB_GETCURSEL, 0, 0);
  return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void cWin::selectItem(int index) const {
  HWND window = controlOf(window_);
  if (!window) return;
  SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  if (index < 0) SetWindowTextW(window, L"");
}

void cWin::startMarquee() const {
  if (HWND window = controlOf(window_)) SendMessageW(window, PBM_SETMARQUEE, TRUE, 0);
}

void cWin::setHeadingLook() const { applyHeadingLook(controlOf(window_)); }

}  // namespace plimsy::ui
