// Start-up: reading the settings file, and the single-instance rule with
// real second processes of the program.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>

#include "core/settings.h"
#include "gui_test_support.h"
#include "ui/dlg_main.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/single_instance.h"
#include "ui/startup.h"
#include "ui/ui_values.h"

namespace plimsy::ui {
namespace {

class Startup : public ::testing::Test {
 protected:
  void SetUp() override { test::resetSettings(); }
  test::TempDir folder_;
};

TEST_F(Startup, ASettingsFileOfLineBreaksIsReadAsEmptyText) {
  updateSettings([](cSettings& s) { s.workOrder.FilesDir = "/kept/"; });
  const std::string path = folder_ / "settings.xml";
  test::writeFile(path, "\xEF\xBB\xBF\r\n\n\r\xE2\x80\xA8\xE2\x80\xA9");
  EXPECT_TRUE(loadStartupSettings(path));  // read, and nothing in it
  EXPECT_EQ(settingsSnapshot().workOrder.FilesDir, "/kept/");

  test::writeFile(path, "<Settings>\r\n<EpubWorkOrder>\r\n<FilesDir>/read/</FilesDir>\r\n</EpubWorkOrder>\r\n");
  EXPECT_TRUE(loadStartupSettings(path));
  EXPECT_EQ(settingsSnapshot().workOrder.FilesDir, "/read/");
}

TEST_F(Startup, AZeroLengthOrMissingSettingsFileLeavesTheSettings) {
  const std::string path = folder_ / "settings.xml";
  test::writeFile(path, "");
  EXPECT_FALSE(loadStartupSettings(path));
  EXPECT_FALSE(loadStartupSettings(folder_ / "missing.xml"));
  EXPECT_EQ(settingsSnapshot(), cSettings());
}

// Runs the program as a later start; waits for it while the GUI thread runs.
struct sRun {
  int exitCode = -1;
  bool finished = false;
};
sRun runProgram(bool serveMeanwhile) {
  QProcess program;
  program.setProgram(QStringLiteral(PLIMSY_GUI_EXECUTABLE));
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start();
  sRun run;
  if (serveMeanwhile)
    run.finished = test::waitUntil([&program] { return program.state() == QProcess::NotRunning; });
  else
    run.finished = program.waitForFinished(30'000);
  if (!run.finished) program.kill();
  program.waitForFinished();
  run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  return run;
}

TEST_F(Startup, ASecondStartRaisesTheFirstAndEndsQuietly) {
  cSingleInstance first;
  ASSERT_EQ(first.start(), cSingleInstance::eRole::First);
  test::sFakeDesktop desktop;
  cDlgMain dialog(desktop.services());
  ASSERT_TRUE(dialog.create(nullptr));
  int restores = 0;
  first.setHandlers({[&dialog] {
                       dialog.setMessageResult(0);
                       dialog.send({uiValues().instanceQueryMessage, 0, {}, {}});
                       return dialog.messageResult();
                     },
                     [&] {
                       ++restores;
                       dialog.restoreAndRaise();
                     }});
  qtWidget(dialog.dialogWindow())->showMinimized();
  std::filesystem::remove(test::settingsFile());

  const sRun second = runProgram(true);
  ASSERT_TRUE(second.finished);
  EXPECT_EQ(second.exitCode, 0);
  ASSERT_TRUE(test::waitUntil([&restores] { return restores == 1; }));
  EXPECT_FALSE(qtWidget(dialog.dialogWindow())->isMinimized());
  EXPECT_TRUE(qtWidget(dialog.dialogWindow())->isVisible());
  EXPECT_FALSE(std::filesystem::exists(test::settingsFile())) << "the second start touched the settings";
}

TEST_F(Startup, AnInstanceThatDoesNotAnswerIsLeftAloneAndTheSecondStartEnds) {
  cSingleInstance probe;
  QLockFile lock(probe.lockPath());
  ASSERT_TRUE(lock.tryLock(0));
  QLocalServer::removeServer(probe.serverPath());
  QLocalServer silent;
  ASSERT_TRUE(silent.listen(probe.serverPath()));
  const sRun second = runProgram(false);  // nobody answers meanwhile
  ASSERT_TRUE(second.finished);
  EXPECT_EQ(second.exitCode, 0);
}

TEST_F(Startup, ACrashedInstanceDoesNotBlockTheNextStart) {
  cSingleInstance probe;
  QProcess crashed;
  crashed.setProgram(QStringLiteral(PLIMSY_GUI_EXECUTABLE));
  crashed.start();
  ASSERT_TRUE(crashed.waitForStarted());
  ASSERT_TRUE(test::waitUntil([&probe] {
    QLocalSocket socket;
    socket.connectToServer(probe.serverPath());
    return socket.waitForConnected(100);
  }));
  crashed.kill();
  ASSERT_TRUE(crashed.waitForFinished());
  EXPECT_TRUE(QFileInfo::exists(probe.lockPath()));
  EXPECT_TRUE(QFileInfo::exists(probe.serverPath()));

  cSingleInstance next;
  EXPECT_EQ(next.start(), cSingleInstance::eRole::First);
  QLocalSocket socket;
  socket.connectToServer(next.serverPath());
  EXPECT_TRUE(socket.waitForConnected(1000));
}

}  // namespace
}  // namespace plimsy::ui
