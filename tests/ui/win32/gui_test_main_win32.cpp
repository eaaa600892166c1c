// The window's tests on Windows: real dialogs on the GUI thread (this one),
// with the settings file in a temporary folder of their own.

#include <gtest/gtest.h>

#include <objbase.h>

#include <commctrl.h>

#include <filesystem>

#include "core/platform.h"
#include "support/temp_dir.h"
#include "ui/win32/win32_backend.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  plimsy::test::TempDir settings;
  plimsy::platform::setEnvironmentVariable("LOCALAPPDATA", settings.path().string());
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  plimsy::ui::win32::startGuiThread();
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  return result;
}
