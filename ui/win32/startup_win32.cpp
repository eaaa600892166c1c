// The program on Windows: refuses Windows before Vista, keeps one instance
// per logon (a named mutex; a second start finds the first one's main dialog
// by the registered instance query and brings it forward), loads the
// settings, creates the modeless main dialog and runs the message loop until
// the dialog is destroyed. A path on the command line fills the window's
// lines, the running one's when this start is a later one (WM_COPYDATA).

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <commctrl.h>
#include <objbase.h>

#include "core/platform.h"
#include "core/settings_file.h"
#include "ui/dlg_main.h"
#include "ui/job_runner.h"
#include "ui/startup.h"
#include "ui/ui_values.h"
#include "version.h"

namespace plimsy::ui {

using namespace win32;

namespace {

constexpr UINT kInstanceQueryTimeout = 200;  // milliseconds

bool runsOnVistaOrLater() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 0;
  version.wServicePackMajor = 0;
  DWORDLONG condition = 0;
  condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, condition) != FALSE;
}

// The running instance's main dialog: the top-level window that answers the
// instance query with the query's own id within the time-out.
BOOL CALLBACK findRunningInstance(HWND window, LPARAM found) {
  const UINT query = uiValues().instanceQueryMessage;
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(window, query, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kInstanceQueryTimeout, &answer) &&
      answer == query) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

// How long the running instance may take to fill its lines with a path.
constexpr UINT kOpenPathTimeout = 5000;  // milliseconds

// `path` (absolute, or empty for none) is handed to the running instance's
// window, which is then brought forward.
void bringRunningInstanceForward(const std::string& path) {
  HWND found = nullptr;
  EnumWindows(findRunningInstance, reinterpret_cast<LPARAM>(&found));
  if (!found) return;
  if (!path.empty()) {
    COPYDATASTRUCT data{};
    data.dwData = kOpenPathCopyData;
    data.cbData = static_cast<DWORD>(path.size());
    data.lpData = const_cast<char*>(path.data());
    DWORD_PTR taken = 0;
    SendMessageTimeoutW(found, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_BLOCK | SMTO_ABORTIFHUNG,
                        kOpenPathTimeout, &taken);
  }
  ShowWindow(found, SW_RESTORE);
  ShowWindow(found, SW_SHOWNORMAL);
  // The options dialog, when it is open, is the window to come forward.
  SetForegroundWindow(GetLastActivePopup(found));
}

int runMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return 0;
    if (got == -1) return -1;
    if (dialogHandled(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

std::uint32_t instanceQueryMessage() {
  static const UINT id = RegisterWindowMessageW(widen(kInstanceGuid).c_str());
  return id;
}

int runPlimsy(int argc, char** argv) {
  if (!runsOnVistaOrLater()) {
    MessageBoxW(nullptr, L"Sorry, this program requires Windows Vista or higher.", widen(kApplicationName).c_str(),
                MB_ICONWARNING);
    return 1;
  }
  // "Open with Plimsy" names the book; a later start hands it to the running
  // window, whose current folder is not this one's.
  const std::string path = absoluteStartPath(startRequest(platform::commandLineArguments(argc, argv)).path);
  // Never closed: it marks this logon's running instance until the process ends.
  CreateMutexW(nullptr, FALSE, widen(kInstanceGuid).c_str());
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED) {
    bringRunningInstanceForward(path);
    return 0;
  }

  startGuiThread();
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  // The pickers' common item dialog needs COM on this thread.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  startGdiplus();
  loadStartupSettings(settingsFilePath());

  int exitCode = 0;
  {
    cDlgMain dialog(desktopServices());
    std::string message;
    if (!dialog.create(nullptr, &message)) {
      MessageBoxW(nullptr, widen(message).c_str(), widen(kApplicationName).c_str(), MB_ICONWARNING);
      return 1;
    }
    if (!path.empty()) dialog.takeStartPath(path);

    exitCode = runMessageLoop();
    // The window closes during a job only once the user has agreed to stop
    // it, and its work file is gone by then (cDlgMain). A worker still on its
    // way out ends with the process; destroying the window and the settings
    // under its feet would not be safe.
    if (runningJobs() > 0) ExitProcess(static_cast<UINT>(exitCode));
  }
  stopGdiplus();
  if (com) CoUninitialize();
  return exitCode;
}

}  // namespace plimsy::ui
