#include <deque>
#include <functional>
#include <string_view>

#include "ui/gui_thread.h"
#include "ui/win32/win32_backend.h"
#include "window_driver.h"
// windows.h first.
#include <oleacc.h>

namespace plimsy::test {
namespace {

using ui::win32::hwndOf;

UINT virtualKey(eKey key) {
  switch (key) {
    case eKey::Escape: return VK_ESCAPE;
    case eKey::Return: return VK_RETURN;
    case eKey::Up: return VK_UP;
    case eKey::Down: return VK_DOWN;
    case eKey::Left: return VK_LEFT;
    case eKey::Right: return VK_RIGHT;
  }
  return 0;
}

LONG_PTR styleOf(ui::WindowRef window) { return GetWindowLongPtrW(hwndOf(window), GWL_STYLE); }

// Work for runSoon, run by a thread timer of the GUI thread.
std::deque<std::function<void()>> soon;

void CALLBACK runSoonWork(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (soon.empty()) return;
  std::function<void()> work = std::move(soon.front());
  soon.pop_front();
  work();
}

struct sModalSearch {
  HWND found = nullptr;
};

BOOL CALLBACK findModal(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<sModalSearch*>(parameter);
  const HWND owner = GetWindow(window, GW_OWNER);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (IsWindowVisible(window) && IsWindowEnabled(window) && owner && !IsWindowEnabled(owner) &&
      std::wstring_view(className) == L"#32770") {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void pressKey(ui::WindowRef window, eKey key) {
  // The key goes where the user's would: to the focused window, through the
  // message loop's dialog handling.
  const HWND target = hwndOf(window);
  const UINT code = virtualKey(key);
  PostMessageW(target, WM_KEYDOWN, code, 1);
  PostMessageW(target, WM_KEYUP, code, static_cast<LPARAM>(0xC0000001u));
  ui::processPendingEvents();
}

void clickControl(ui::WindowRef control) {
  SendMessageW(hwndOf(control), BM_CLICK, 0, 0);
  ui::processPendingEvents();
}

void pressCloseBox(ui::WindowRef dialog) {
  SendMessageW(hwndOf(dialog), WM_SYSCOMMAND, SC_CLOSE, 0);
  ui::processPendingEvents();
}

bool isShown(ui::WindowRef window) { return window && IsWindow(hwndOf(window)) && IsWindowVisible(hwndOf(window)); }

bool isDefaultButton(ui::WindowRef button) { return (styleOf(button) & BS_TYPEMASK) == BS_DEFPUSHBUTTON; }

bool acceptsDroppedFiles(ui::WindowRef dialog) {
  return (GetWindowLongPtrW(hwndOf(dialog), GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
}

bool isModal(ui::WindowRef dialog) {
  // A modal dialog keeps the user from its owner, which it disables.
  const HWND owner = GetWindow(hwndOf(dialog), GW_OWNER);
  return (styleOf(dialog) & DS_MODALFRAME) != 0 && (!owner || !IsWindowEnabled(owner));
}

bool isMarquee(ui::WindowRef bar) { return (styleOf(bar) & PBS_MARQUEE) != 0; }

std::string toolTip(ui::WindowRef control) {
  const HWND dialog = GetAncestor(hwndOf(control), GA_PARENT);
  const HWND tip = ui::win32::toolTipOf(dialog, false);
  if (!tip) return {};
  wchar_t text[256] = {};
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(hwndOf(control));
  // The hint shows only where the tooltip watches the control itself.
  if (!SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&tool))) return {};
  if ((tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS)) != (TTF_IDISHWND | TTF_SUBCLASS)) return "(not watched)";
  tool.lpszText = text;
  SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
  return ui::win32::narrow(text);
}

std::string accessibleName(ui::WindowRef control) {
  IAccessible* accessible = nullptr;
  if (FAILED(AccessibleObjectFromWindow(hwndOf(control), static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                        reinterpret_cast<void**>(&accessible))) ||
      !accessible)
    return "(no accessible object)";
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::string text;
  if (SUCCEEDED(accessible->get_accName(self, &name)) && name) {
    text = ui::win32::narrow(std::wstring_view(name, SysStringLen(name)));
    SysFreeString(name);
  }
  accessible->Release();
  return text;
}

void minimise(ui::WindowRef dialog) {
  ShowWindow(hwndOf(dialog), SW_MINIMIZE);
  ui::processPendingEvents();
}

bool isMinimised(ui::WindowRef dialog) { return IsIconic(hwndOf(dialog)) != FALSE; }

bool activate(ui::WindowRef dialog) {
  SetForegroundWindow(hwndOf(dialog));
  SetActiveWindow(hwndOf(dialog));
  ui::processPendingEvents();
  return GetActiveWindow() == hwndOf(dialog);
}

std::string clipboardText() {
  if (!OpenClipboard(nullptr)) return {};
  std::string text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* wide = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = ui::win32::narrow(wide);
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void runSoon(std::function<void()> work) {
  soon.push_back(std::move(work));
  SetTimer(nullptr, 0, 0, runSoonWork);
}

ui::WindowRef dialogControl(ui::WindowRef dialog, int controlId) {
  HWND window = ui::win32::hwndOf(dialog);
  return window ? ui::win32::windowRef(GetDlgItem(window, controlId)) : nullptr;
}

ui::WindowRef activeModalDialog() {
  sModalSearch search;
  EnumThreadWindows(GetCurrentThreadId(), findModal, reinterpret_cast<LPARAM>(&search));
  return ui::win32::windowRef(search.found);
}

}  // namespace plimsy::test
