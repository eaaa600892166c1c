#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/platform.h"
#include "core/settings_file.h"
#include "ui/dlg_main.h"
#include "ui/job_runner.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/single_instance.h"
#include "ui/startup.h"
#include "ui/ui_values.h"
#include "version.h"

namespace plimsy::ui {
namespace {

// The window-system platform asked for: "-platform NAME" on the command line
// (Qt takes "--platform" too), else QT_QPA_PLATFORM; empty for Qt's default.
std::string requestedPlatform(const std::vector<std::string>& arguments) {
  for (std::size_t i = 1; i + 1 < arguments.size(); ++i)
    if (arguments[i] == "-platform" || arguments[i] == "--platform") return arguments[i + 1];
  return platform::environmentVariable("QT_QPA_PLATFORM").value_or("");
}

// While QApplication starts, Qt's messages wait here: when no platform can
// be started Qt ends the process from a fatal message (SIGABRT, a core dump),
// and what it said before that is the reason. The program then says so in
// one line and ends with 1 instead. A start that works prints what waited.
struct sStartingQt {
  QtMessageHandler previous = nullptr;
  std::vector<std::string> waiting;
  QString reason;
};
sStartingQt* startingQt = nullptr;

void holdStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const QString reason =
        startingQt->reason.isEmpty() ? QStringLiteral("the window system could not be started") : startingQt->reason;
    std::fprintf(stderr, "%s\n", noDisplayLine(fromQString(reason)).c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }
  if (type == QtWarningMsg || type == QtCriticalMsg) startingQt->reason = text.trimmed();
  startingQt->waiting.push_back(fromQString(qFormatLogMessage(type, context, text)));
}

}  // namespace

int runPlimsy(int argc, char** argv) {
  const sStartRequest asked = startRequest(platform::commandLineArguments(argc, argv));
  if (asked.kind != sStartRequest::eKind::Window) {
    const std::string text = asked.kind == sStartRequest::eKind::Help ? usageText() : versionText();
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  const std::string problem = displayProblem(requestedPlatform(platform::commandLineArguments(argc, argv)),
                                             platform::environmentVariable("DISPLAY").value_or(""),
                                             platform::environmentVariable("WAYLAND_DISPLAY").value_or(""));
  if (!problem.empty()) {
    std::fprintf(stderr, "%s\n", noDisplayLine(problem).c_str());
    return 1;
  }

  sStartingQt starting;
  startingQt = &starting;
  starting.previous = qInstallMessageHandler(holdStartMessage);
  QApplication application(argc, argv);
  qInstallMessageHandler(starting.previous);
  startingQt = nullptr;
  for (const std::string& line : starting.waiting) std::fprintf(stderr, "%s\n", line.c_str());

  QApplication::setApplicationName(QString::fromUtf8(kApplicationName));
  QApplication::setApplicationVersion(QString::fromUtf8(kFileVersion));
  QApplication::setDesktopFileName(QStringLiteral("plimsy"));
  // The main dialog ends the program when it is destroyed, not Qt when the
  // last window hides.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(programIcon());

  // "Open with Plimsy" names the book (Qt has taken its own options out). A
  // later start hands it to the running window.
  const std::string path = absoluteStartPath(startRequest(platform::commandLineArguments(argc, argv)).path);
  cSingleInstance instance;
  if (instance.start(path) == cSingleInstance::eRole::Forwarded) return 0;

  loadStartupSettings(settingsFilePath());
  cDlgMain dialog(desktopServices());
  instance.setHandlers({[&dialog] {
                          dialog.setMessageResult(0);
                          dialog.send({uiValues().instanceQueryMessage, 0, {}, {}});
                          return dialog.messageResult();
                        },
                        [&dialog] { dialog.restoreAndRaise(); },
                        [&dialog](const std::string& given) { dialog.send(openPathMessage(given)); }});
  std::string message;
  if (!dialog.create(nullptr, &message)) {
    QMessageBox::warning(nullptr, QString::fromUtf8(kApplicationName), toQString(message));
    return 1;
  }
  if (!path.empty()) dialog.takeStartPath(path);
  const int exitCode = QApplication::exec();
  // The window closes during a job only once the user has agreed to stop it,
  // and its work file is gone by then (cDlgMain). A worker still on its way
  // out ends with the process; destroying the window and the settings under
  // its feet would not be safe.
  if (runningJobs() > 0) std::quick_exit(exitCode);
  return exitCode;
}

}  // namespace plimsy::ui
