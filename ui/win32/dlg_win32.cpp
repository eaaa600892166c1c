// The Win32 backend of the dialog framework: a dialog is a real dialog made
// with CreateDialogIndirectParamW from its template (template_bytes.h); the
// dialog manager gives it dialog units, the font and the keyboard (Tab, the
// arrow keys within groups, Enter for the default button, Escape for Cancel,
// mnemonics). The dialog procedure hands the object the messages it acts on.

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <commctrl.h>
#include <gdiplus.h>
#include <objidl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/message.h"
#include "ui/dlg.h"
#include "ui/ui_values.h"
#include "ui/win32/template_bytes.h"

namespace plimsy::ui {

using namespace win32;

struct sDialogWindow {
  cDlg* dialog = nullptr;        // cleared when the object goes first
  HWND window = nullptr;         // until WM_NCDESTROY
  HWND disabledOwner = nullptr;  // a modal dialog's owner while it is disabled
  bool finished = false;         // a modal dialog has ended
  // The dialog itself holds the keyboard focus (focusDialog) until a control
  // takes it; the dialog manager would hand it to a control at once.
  bool focusOnDialog = false;
  // Runs on WM_INITDIALOG: the controls registered, the object attached and
  // initialised; returns the message's result.
  std::function<INT_PTR(HWND)> initialise;

  HWND logo = nullptr;
  sPixelRect logoRect;  // 96-DPI pixels
  std::unique_ptr<Gdiplus::Bitmap> logoImage;

  HWND heading = nullptr;
  HFONT headingFont = nullptr;

  ~sDialogWindow() {
    if (headingFont) DeleteObject(headingFont);
  }
};

namespace {

// Sent to itself by a dialog whose DPI changed, once the system has rescaled
// it: the logo and the heading are made again for the new DPI.
constexpr UINT kMsgRescale = WM_APP + 2;

// The logo, decoded from the executable's PNG resource; nullptr when it is
// missing or cannot be read.
std::unique_ptr<Gdiplus::Bitmap> loadLogo() {
  if (!startGdiplus()) return nullptr;
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kLogoResource), L"PNG");
  if (!resource) return nullptr;
  const DWORD size = SizeofResource(module, resource);
  HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size == 0) return nullptr;
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!copy) return nullptr;
  if (void* target = GlobalLock(copy)) {
    std::memcpy(target, data, size);
    GlobalUnlock(copy);
  }
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
    GlobalFree(copy);
    return nullptr;
  }
  std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromStream(stream));
  stream->Release();
  if (bitmap && bitmap->GetLastStatus() != Gdiplus::Ok) bitmap.reset();
  return bitmap;
}

void placeLogo(const sDialogWindow& state) {
  if (!state.logo) return;
  const UINT dpi = dpiOf(state.window);
  const sPixelRect& rect = state.logoRect;
  SetWindowPos(state.logo, nullptr, scaled(rect.x, dpi), scaled(rect.y, dpi), scaled(rect.width, dpi),
               scaled(rect.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

void drawLogo(const sDialogWindow& state, const DRAWITEMSTRUCT& item) {
  // The picture has transparent parts: the dialog's face shows through them.
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (!state.logoImage) return;
  Gdiplus::Graphics graphics(item.hDC);
  graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
  graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
  graphics.DrawImage(state.logoImage.get(),
                     Gdiplus::Rect(0, 0, item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top));
}

sDialogWindow* stateOf(HWND dialog) {
  return isRegisteredDialog(dialog) ? reinterpret_cast<sDialogWindow*>(GetWindowLongPtrW(dialog, GWLP_USERDATA))
                                    : nullptr;
}

// Runs a handler inside the dialog procedure: nothing may be thrown through
// the system's frames (a handler that runs out of memory handles nothing).
template <typename Handler>
INT_PTR guarded(Handler handler) {
  try {
    return handler();
  } catch (...) {
    return FALSE;
  }
}

// Hands a message to the object; what the handler left as the message's
// result goes back to the sender.
INT_PTR forward(sDialogWindow& state, const sMessage& message) {
  cDlg* dialog = state.dialog;
  if (!dialog) return FALSE;
  HWND window = state.window;
  return guarded([&]() -> INT_PTR {
    dialog->setMessageResult(0);
    const std::intptr_t result = dialog->send(message);
    if (result != 0 && state.window == window && window)
      SetWindowLongPtrW(window, DWLP_MSGRESULT, dialog->messageResult());
    return result != 0 ? TRUE : FALSE;
  });
}

sMessage droppedFiles(HWND dialog, HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(static_cast<std::size_t>(length) + 1, L'\0');
    const UINT read = DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(read);
    paths.push_back(narrow(path));
  }
  POINT point{};
  DragQueryPoint(drop, &point);  // in the client area of the window dropped on
  (void)dialog;
  return dropMessage(std::move(paths), {static_cast<int>(point.x), static_cast<int>(point.y)});
}

// The system's messages that are the object's: real commands (buttons
// pressed, and the dialog manager's OK and Cancel), closing, dropped files,
// display changes and the two queries. WM_DESTROY and WM_NCDESTROY reach the
// object from destroyWindow, not from here.
INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<sDialogWindow*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    state->window = window;
    registerDialog(window);
    return state->initialise ? guarded([&] { return state->initialise(window); }) : TRUE;
  }
  sDialogWindow* state = stateOf(window);
  if (!state) return FALSE;
  switch (message) {
    case WM_NCDESTROY:
      unregisterDialog(window);
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      state->window = nullptr;
      state->logo = nullptr;
      state->heading = nullptr;
      return FALSE;
    case WM_SETFOCUS: return state->focusOnDialog ? TRUE : FALSE;
    case WM_KILLFOCUS:
      if (IsChild(window, reinterpret_cast<HWND>(wParam))) state->focusOnDialog = false;
      return FALSE;
    case WM_ACTIVATE:
      if (!state->focusOnDialog || LOWORD(wParam) == WA_INACTIVE) return FALSE;
      SetFocus(window);
      return TRUE;
    case WM_COMMAND:
      // Notifications (an edit line changed, a list opened) are not commands.
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      return forward(*state, commandMessage(static_cast<int>(static_cast<short>(LOWORD(wParam)))));
    case WM_CLOSE:
      if (forward(*state, {kMsgClose, 0, {}, {}}) == FALSE) forward(*state, commandMessage(IDCANCEL));
      return TRUE;
    case WM_DROPFILES: {
      auto drop = reinterpret_cast<HDROP>(wParam);
      const sMessage dropped = droppedFiles(window, drop);
      DragFinish(drop);
      forward(*state, dropped);
      return TRUE;
    }
    case WM_COPYDATA: {
      // A later start of the program hands on the path it was given.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data || data->dwData != kOpenPathCopyData || (data->cbData > 0 && !data->lpData)) return FALSE;
      return forward(*state, openPathMessage(std::string(static_cast<const char*>(data->lpData), data->cbData)));
    }
    case WM_DPICHANGED: PostMessageW(window, kMsgRescale, 0, 0); return forward(*state, {kMsgDpiChanged, 0, {}, {}});
    case kMsgRescale:
      placeLogo(*state);
      if (state->heading) applyHeadingLook(state->heading);
      return TRUE;
    case WM_DISPLAYCHANGE: return forward(*state, {kMsgDisplayChange, 0, {}, {}});
    case WM_DEVICECHANGE: return forward(*state, {kMsgDeviceChange, 0, {}, {}});
    case WM_CTLCOLORSTATIC: {
      if (!state->heading || reinterpret_cast<HWND>(lParam) != state->heading) return FALSE;
      auto dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, RGB(0, 78, 234));
      SetBkMode(dc, TRANSPARENT);
      SetDCBrushColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(GetStockObject(DC_BRUSH));
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (!state->logo || item->hwndItem != state->logo) return FALSE;
      drawLogo(*state, *item);
      return TRUE;
    }
    default: break;
  }
  if (message == uiValues().instanceQueryMessage || message == kMsgGetObject)
    return forward(*state, {message, 0, {}, {}});
  return FALSE;
}

// Gives a modal dialog's owner back its input (before the dialog goes, so
// that the owner is activated next).
void releaseOwner(sDialogWindow& state) {
  if (HWND owner = std::exchange(state.disabledOwner, nullptr)) EnableWindow(owner, TRUE);
}

void destroyDialog(sDialogWindow& state) {
  releaseOwner(state);
  if (state.window) DestroyWindow(state.window);
}

}  // namespace

namespace win32 {

void applyHeadingLook(HWND label) {
  HWND dialog = label ? GetAncestor(label, GA_PARENT) : nullptr;
  sDialogWindow* state = stateOf(dialog);
  if (!state) return;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  using ForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto forDpi = reinterpret_cast<ForDpi>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
  const UINT dpi = dpiOf(dialog);
  const bool read = forDpi ? forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi) != FALSE
                           : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0) != FALSE;
  if (!read) return;
  LOGFONTW font = metrics.lfMenuFont;
  font.lfHeight = static_cast<LONG>(font.lfHeight * 1.8);
  font.lfWeight = std::min<LONG>(1000, static_cast<LONG>(font.lfWeight * 1.5));
  HFONT made = CreateFontIndirectW(&font);
  if (!made) return;
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(made), TRUE);
  if (state->headingFont) DeleteObject(state->headingFont);
  state->headingFont = made;
  state->heading = label;
  InvalidateRect(label, nullptr, TRUE);
}

}  // namespace win32

cDlg::cDlg() = default;

cDlg::~cDlg() {
  if (!native_) return;
  // The derived object is gone: nothing may reach its handler any more.
  native_->dialog = nullptr;
  destroyDialog(*native_);
}

bool cDlg::buildWindow(WindowRef owner, bool modal, std::string* message) {
  startGuiThread();
  std::vector<std::uint8_t> bytes;
  if (!dialogTemplateBytes(template_, bytes, message)) return false;
  if (native_) {
    native_->dialog = nullptr;
    destroyDialog(*native_);
  }
  native_ = std::make_unique<sDialogWindow>();
  native_->dialog = this;
  native_->initialise = [this](HWND window) -> INT_PTR {
    // The dialog manager made the controls in template order.
    std::vector<HWND> children;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      children.push_back(child);
    const auto idsMatch = [this](const std::vector<HWND>& order) {
      if (order.size() != template_.controls.size()) return false;
      for (std::size_t i = 0; i < order.size(); ++i)
        if (GetDlgCtrlID(order[i]) != template_.controls[i].id) return false;
      return true;
    };
    if (!idsMatch(children)) std::reverse(children.begin(), children.end());
    if (idsMatch(children)) {
      for (std::size_t i = 0; i < children.size(); ++i)
        registerControl(windowRef(children[i]), template_.controls[i].id);
    } else {
      for (const sControlTemplate& control : template_.controls)
        registerControl(control.id == -1 ? nullptr : windowRef(GetDlgItem(window, control.id)), control.id);
    }
    attach(windowRef(window));
    return send({kMsgInitDialog, 0, {}, {}}) != 0 ? TRUE : FALSE;
  };
  HWND ownerWindow = owner ? GetAncestor(hwndOf(owner), GA_ROOT) : nullptr;
  HWND made = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()),
                                         ownerWindow, dialogProcedure, reinterpret_cast<LPARAM>(native_.get()));
  if (!made) {
    native_.reset();
    attach(nullptr);
    return fail(message, "Dialog " + std::to_string(template_.id) + " could not be made (error " +
                             std::to_string(GetLastError()) + ").");
  }
  if (modal && ownerWindow && !native_->finished && IsWindowEnabled(ownerWindow)) {
    EnableWindow(ownerWindow, FALSE);
    native_->disabledOwner = ownerWindow;
  }
  return true;
}

void cDlg::showAsTemplateSays() {
  // The dialog manager has centred (DS_CENTER) and shown (WS_VISIBLE) it.
  HWND window = native_ ? native_->window : nullptr;
  if (window && template_.has("WS_VISIBLE") && !IsWindowVisible(window)) ShowWindow(window, SW_SHOW);
}

void cDlg::closeWindow() {
  if (native_) destroyDialog(*native_);
}

void cDlg::acceptFiles(bool accept) {
  if (native_ && native_->window) DragAcceptFiles(native_->window, accept ? TRUE : FALSE);
}

void cDlg::setTitle(const std::string& title) {
  if (native_ && native_->window) SetWindowTextW(native_->window, widen(title).c_str());
}

void cDlg::showProgramIcon() {
  HWND window = native_ ? native_->window : nullptr;
  if (!window) return;
  const UINT dpi = dpiOf(window);
  if (HICON big = programIcon(scaled(32, dpi)))
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  if (HICON small = programIcon(scaled(16, dpi)))
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

WindowRef cDlg::focusedControl() const {
  HWND window = native_ ? native_->window : nullptr;
  HWND focus = GetFocus();
  if (!window || !focus) return nullptr;
  if (focus == window) return windowRef(window);
  if (!IsChild(window, focus)) return nullptr;
  // A combo box's edit field stands for the combo box.
  while (GetAncestor(focus, GA_PARENT) != window) focus = GetAncestor(focus, GA_PARENT);
  return windowRef(focus);
}

void cDlg::focusDialog() {
  if (!native_ || !native_->window) return;
  native_->focusOnDialog = true;
  SetFocus(native_->window);
}

void cDlg::centreOnOwner() {
  HWND window = native_ ? native_->window : nullptr;
  if (!window) return;
  HWND owner = GetWindow(window, GW_OWNER);
  if (!owner) owner = GetDesktopWindow();
  RECT ownerRect{};
  RECT own{};
  GetWindowRect(owner, &ownerRect);
  GetWindowRect(window, &own);
  const int left = (ownerRect.left + ownerRect.right) / 2 - (own.right - own.left) / 2;
  const int top = (ownerRect.top + ownerRect.bottom) / 2 - (own.bottom - own.top) / 2;
  SetWindowPos(window, nullptr, std::max(left, 0), std::max(top, 0), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void cDlg::restoreAndRaise() {
  HWND window = native_ ? native_->window : nullptr;
  if (!window || isDestroyed()) return;
  ShowWindow(window, SW_RESTORE);
  // A modal dialog of its own is the window to come forward.
  SetForegroundWindow(GetLastActivePopup(window));
}

// The logo is a picture and no control: disabled, the arrow keys pass it by.
void cDlg::showLogo(const sPixelRect& rect) {
  HWND window = native_ ? native_->window : nullptr;
  if (!window || native_->logo) return;
  native_->logoRect = rect;
  native_->logoImage = loadLogo();
  native_->logo = CreateWindowExW(0, L"STATIC", L"windowname", WS_CHILD | WS_VISIBLE | WS_DISABLED | SS_OWNERDRAW, 0, 0,
                                  0, 0, window, nullptr, GetModuleHandleW(nullptr), nullptr);
  placeLogo(*native_);
}

void cDlgModal::modalLoop() {
  MSG message;
  while (!result_ && native_ && native_->window) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // The program is ending: the loop that owns its end sees the quit too.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (dialogHandled(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (native_) destroyDialog(*native_);
}

void cDlgModal::finishModal(int /*result*/) {
  if (!native_) return;
  native_->finished = true;
  // Hidden now and destroyed once the loop is left (this runs inside the
  // dialog's own procedure): the owner first, so that it is activated.
  releaseOwner(*native_);
  if (native_->window) ShowWindow(native_->window, SW_HIDE);
}

}  // namespace plimsy::ui
