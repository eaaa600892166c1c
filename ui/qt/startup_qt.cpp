#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/paths.h"
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

int runPlimsy(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(kApplicationName));
  QApplication::setApplicationVersion(QString::fromUtf8(kFileVersion));
  QApplication::setDesktopFileName(QStringLiteral("plimsy"));
  // The main dialog ends the program when it is destroyed, not Qt when the
  // last window hides.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(programIcon());

  cSingleInstance instance;
  if (instance.start() == cSingleInstance::eRole::Forwarded) return 0;

  loadStartupSettings(settingsFilePath());
  cDlgMain dialog(desktopServices());
  instance.setHandlers({[&dialog] {
                          dialog.setMessageResult(0);
                          dialog.send({uiValues().instanceQueryMessage, 0, {}, {}});
                          return dialog.messageResult();
                        },
                        [&dialog] { dialog.restoreAndRaise(); }});
  std::string message;
  if (!dialog.create(nullptr, &message)) {
    QMessageBox::warning(nullptr, QString::fromUtf8(kApplicationName), toQString(message));
    return 1;
  }
  // "Open with Plimsy" names the book (Qt has taken its own options out).
  const std::vector<std::string> arguments = platform::commandLineArguments(argc, argv);
  if (arguments.size() > 1) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(pathFromUtf8(arguments[1]), error);
    dialog.takeStartPath(error ? arguments[1] : utf8FromPath(absolute.lexically_normal()));
  }
  const int exitCode = QApplication::exec();
  // The window closes during a job only once the user has agreed to stop it,
  // and its work file is gone by then (cDlgMain). A worker still on its way
  // out ends with the process; destroying the window and the settings under
  // its feet would not be safe.
  if (runningJobs() > 0) std::quick_exit(exitCode);
  return exitCode;
}

}  // namespace plimsy::ui
