// Start-up: reading the settings file, and the single-instance rule with
// real second processes of the program.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>

#include "core/settings.h"
#include "gui_test_support.h"
#include "ui/control_ids.h"
#include "ui/dlg_main.h"
#include "ui/qt/qt_text.h"
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
  QByteArray out;
  QByteArray err;
};
struct sStart {
  QStringList arguments;
  QString folder;  // the program's current folder; empty: this one's
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  bool captured = false;  // standard output and error kept in the run, not shown
};
sRun runProgram(bool serveMeanwhile, const sStart& start = {}) {
  QProcess program;
  program.setProgram(QStringLiteral(PLIMSY_GUI_EXECUTABLE));
  program.setArguments(start.arguments);
  if (!start.folder.isEmpty()) program.setWorkingDirectory(start.folder);
  program.setProcessEnvironment(start.environment);
  program.setProcessChannelMode(start.captured ? QProcess::SeparateChannels : QProcess::ForwardedChannels);
  program.start();
  sRun run;
  if (serveMeanwhile)
    run.finished = test::waitUntil([&program] { return program.state() == QProcess::NotRunning; });
  else
    run.finished = program.waitForFinished(30'000);
  if (!run.finished) program.kill();
  program.waitForFinished();
  run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  if (start.captured) {
    run.out = program.readAllStandardOutput();
    run.err = program.readAllStandardError();
  }
  return run;
}

// The instance query and the raise request answered by `dialog`, as the
// program answers them; `restores` counts the raise requests.
cSingleInstance::sHandlers handlersOf(cDlgMain& dialog, int& restores) {
  return {[&dialog] {
            dialog.setMessageResult(0);
            dialog.send({uiValues().instanceQueryMessage, 0, {}, {}});
            return dialog.messageResult();
          },
          [&dialog, &restores] {
            ++restores;
            dialog.restoreAndRaise();
          },
          [&dialog](const std::string& path) { dialog.send(openPathMessage(path)); }};
}

TEST_F(Startup, ASecondStartRaisesTheFirstAndEndsQuietly) {
  cSingleInstance first;
  ASSERT_EQ(first.start(), cSingleInstance::eRole::First);
  test::sFakeDesktop desktop;
  cDlgMain dialog(desktop.services());
  ASSERT_TRUE(dialog.create(nullptr));
  int restores = 0;
  first.setHandlers(handlersOf(dialog, restores));
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

TEST_F(Startup, ASecondStartHandsItsPathToTheRunningWindow) {
  cSingleInstance first;
  ASSERT_EQ(first.start(), cSingleInstance::eRole::First);
  test::sFakeDesktop desktop;
  cDlgMain dialog(desktop.services());
  ASSERT_TRUE(dialog.create(nullptr));
  int restores = 0;
  first.setHandlers(handlersOf(dialog, restores));
  cWin files(dialog.control(main_ids::kFilesLine));
  cWin epub(dialog.control(main_ids::kEpubLine));
  // The second start's own current folder, not the running window's, makes
  // a relative path whole; any byte of a name crosses over.
  const std::string names[] = {"Novel.epub", "Ærø 書 %41+.epub", "two\nlines.epub", " spaced .epub"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    test::writeFile(folder_.path() / "shelf" / name, "an epub");
    files.setText("/previous/book/");
    epub.setText("/previous/book.epub");
    const int restoresBefore = restores;
    sStart start;
    start.arguments = {QString::fromStdString(name)};
    start.folder = QString::fromStdString(folder_ / "shelf");
    const sRun second = runProgram(true, start);
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(second.exitCode, 0);
    ASSERT_TRUE(test::waitUntil([&] { return restores == restoresBefore + 1; }));
    EXPECT_EQ(epub.text(), folder_ / ("shelf/" + name));
    EXPECT_EQ(files.text(), folder_ / ("shelf/" + name.substr(0, name.size() - 5)));
    EXPECT_EQ(dialog.focusedControl(), dialog.control(main_ids::kUnzip));
  }
  // A folder: the epub beside it, and Zip.
  const sRun folder = runProgram(true, {{QString::fromStdString(folder_ / "shelf")}, {}});
  ASSERT_TRUE(folder.finished);
  ASSERT_TRUE(test::waitUntil([&] { return restores == 5; }));
  EXPECT_EQ(files.text(), folder_ / "shelf");
  EXPECT_EQ(epub.text(), folder_ / "shelf.epub");
  EXPECT_EQ(dialog.focusedControl(), dialog.control(main_ids::kZip));
  // No path: the lines stay.
  const sRun bare = runProgram(true);
  ASSERT_TRUE(bare.finished);
  ASSERT_TRUE(test::waitUntil([&] { return restores == 6; }));
  EXPECT_EQ(files.text(), folder_ / "shelf");
}

TEST_F(Startup, HelpAndVersionPrintAndNoDisplayIsSaidInOneLine) {
  std::filesystem::remove(test::settingsFile());
  QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    noDisplay.remove(QString::fromLatin1(name));
  QProcessEnvironment deadDisplay = noDisplay;
  deadDisplay.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4093"));  // no server there
  deadDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  const QString noDisplayLine = QStringLiteral(
      "No display: neither DISPLAY nor WAYLAND_DISPLAY is set; plimsy-cli runs the same jobs from a "
      "terminal\n");
  const struct {
    QStringList arguments;
    QProcessEnvironment environment;
    int exitCode;
    QString out;  // the whole output; for the error only its start and end
    QString errStart;
  } cases[] = {
      {{QStringLiteral("--version")}, noDisplay, 0, toQString(versionText()), {}},
      {{QStringLiteral("--help")}, noDisplay, 0, toQString(usageText()), {}},
      {{QStringLiteral("/books/a.epub"), QStringLiteral("-h")}, noDisplay, 0, toQString(usageText()), {}},
      {{}, noDisplay, 1, {}, noDisplayLine},
      {{QStringLiteral("/books/a.epub")}, noDisplay, 1, {}, noDisplayLine},
      {{}, deadDisplay, 1, {}, QStringLiteral("No display: ")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString() + (c.environment.contains("DISPLAY") ? " DISPLAY" : ""));
    sStart start;
    start.arguments = c.arguments;
    start.environment = c.environment;
    start.captured = true;
    const sRun run = runProgram(false, start);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(QString::fromUtf8(run.out), c.out);
    const QString err = QString::fromUtf8(run.err);
    EXPECT_TRUE(err.startsWith(c.errStart)) << err.toStdString();
    if (c.exitCode == 1) {
      EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
      EXPECT_TRUE(err.endsWith(QStringLiteral("; plimsy-cli runs the same jobs from a terminal\n")))
          << err.toStdString();
    } else {
      EXPECT_EQ(err, QString()) << err.toStdString();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(test::settingsFile())) << "a start that showed no window touched the settings";
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
