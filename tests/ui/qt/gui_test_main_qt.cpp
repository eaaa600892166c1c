// The window's tests run without a display (QT_QPA_PLATFORM=offscreen unless
// the environment says otherwise), with the settings file and the
// single-instance objects in temporary folders of their own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  QTemporaryDir runtime;
  if (!config.isValid() || !runtime.isValid()) return 1;
  // Both are private (mode 0700), as Qt wants a runtime folder to be.
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
