// The Win32 backend's common pieces (win32_backend.h) and the GUI thread
// (ui/gui_thread.h): another thread's work is sent to a message-only window
// of the GUI thread, so the worker waits while the GUI thread runs it, also
// inside modal loops, message boxes and task dialogs, which all dispatch
// sent messages.

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <gdiplus.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <exception>
#include <map>
#include <vector>

#include "ui/gui_thread.h"

namespace plimsy::ui {
namespace win32 {
namespace {

constexpr UINT kMsgRunWork = WM_APP + 1;

std::atomic<DWORD> guiThreadId{0};
std::atomic<HWND> relayWindow{nullptr};

// What a worker hands to the GUI thread: the work, and what it threw.
struct sRelayedWork {
  const std::function<void()>* work = nullptr;
  std::exception_ptr error;
};

LRESULT CALLBACK relayProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kMsgRunWork) return DefWindowProcW(window, message, wParam, lParam);
  auto* relayed = reinterpret_cast<sRelayedWork*>(lParam);
  try {
    (*relayed->work)();
  } catch (...) {
    // Thrown back on the worker: no exception may pass through the system's frames.
    relayed->error = std::current_exception();
  }
  return 0;
}

std::vector<HWND>& dialogs() {
  static std::vector<HWND> registered;
  return registered;
}

// Functions of newer Windows versions, looked up where they exist.
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

GetDpiForWindowFunction getDpiForWindow() {
  static const auto function = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return function;
}

ULONG_PTR gdiplusToken = 0;
bool gdiplusRunning = false;

}  // namespace

std::string windowText(HWND window) {
  if (!window) return {};
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int read = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(read, 0)));
  return narrow(text);
}

HICON programIcon(int size) {
  static std::map<int, HICON> icons;
  const auto found = icons.find(size);
  if (found != icons.end()) return found->second;
  HINSTANCE module = GetModuleHandleW(nullptr);
  auto* icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON, size, size, 0));
  // A program built without the icon group still has the one the version
  // resources give it.
  if (!icon) icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
  icons.emplace(size, icon);
  return icon;
}

void startGuiThread() {
  if (guiThreadId.load() != 0) return;
  guiThreadId = GetCurrentThreadId();
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = relayProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PlimsyGuiThreadRelay";
  RegisterClassExW(&windowClass);
  relayWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                windowClass.hInstance, nullptr);
}

void registerDialog(HWND dialog) {
  if (!isRegisteredDialog(dialog)) dialogs().push_back(dialog);
}

void unregisterDialog(HWND dialog) { std::erase(dialogs(), dialog); }

bool isRegisteredDialog(HWND window) {
  return window && std::find(dialogs().begin(), dialogs().end(), window) != dialogs().end();
}

bool dialogHandled(MSG& message) {
  if (!message.hwnd) return false;
  HWND root = GetAncestor(message.hwnd, GA_ROOT);
  return isRegisteredDialog(root) && IsDialogMessageW(root, &message);
}

UINT dpiOf(HWND window) {
  if (const GetDpiForWindowFunction function = getDpiForWindow(); function && window) {
    const UINT dpi = function(window);
    if (dpi > 0) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }

bool startGdiplus() {
  if (gdiplusRunning) return true;
  Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread, external codecs
  gdiplusRunning = Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr) == Gdiplus::Ok;
  return gdiplusRunning;
}

void stopGdiplus() {
  if (!gdiplusRunning) return;
  Gdiplus::GdiplusShutdown(gdiplusToken);
  gdiplusRunning = false;
}

}  // namespace win32

bool isGuiThread() {
  const DWORD id = win32::guiThreadId.load();
  return id == 0 || id == GetCurrentThreadId();
}

void onGuiThread(const std::function<void()>& work) {
  const HWND relay = win32::relayWindow.load();
  if (isGuiThread() || !relay) {
    work();
    return;
  }
  win32::sRelayedWork relayed{&work, nullptr};
  // Fails only when the GUI thread's window is gone (the program is ending);
  // the work is then not done.
  SendMessageW(relay, win32::kMsgRunWork, 0, reinterpret_cast<LPARAM>(&relayed));
  if (relayed.error) std::rethrow_exception(relayed.error);
}

void processPendingEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Left for the loop that owns the program's end.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (win32::dialogHandled(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace plimsy::ui
