#include "ui/qt/desktop_open.h"

#include <QDesktopServices>
#include <QUrl>

#include "ui/qt/qt_text.h"

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
#include <QProcess>
#include <QStandardPaths>
#endif

namespace plimsy::ui {
namespace {

std::intptr_t openWithQt(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(toQString(path))) ? kShellSuccess : kShellNoAssociation;
}

#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)

// xdg-open finds the program for a file and starts it; when it finds none it
// exits at once with a failure status, whereas Qt, which starts it detached,
// would report success. So it is run here and watched for a short while: it
// either exits (0 when the program has started, as under the big desktops) or
// stays in the foreground with the program it started (as on a bare window
// manager), which is success too.
constexpr int kOpenerVerdictMilliseconds = 1000;

// xdg-open's exit statuses.
constexpr int kXdgOpenSuccess = 0;
constexpr int kXdgOpenFileNotFound = 2;

std::intptr_t resultOfExit(const QProcess& opener) {
  if (opener.exitStatus() != QProcess::NormalExit) return kShellNoAssociation;
  switch (opener.exitCode()) {
    case kXdgOpenSuccess: return kShellSuccess;
    case kXdgOpenFileNotFound: return kShellFileNotFound;
    default: return kShellNoAssociation;  // no program for it (3), or it failed to start (4)
  }
}

std::intptr_t openWithXdgOpen(const QString& xdgOpen, const std::string& path) {
  auto* opener = new QProcess;
  opener->setProgram(xdgOpen);
  opener->setArguments({toQString(path)});
  opener->setStandardInputFile(QProcess::nullDevice());
  opener->setProcessChannelMode(QProcess::ForwardedChannels);
  opener->start();
  if (!opener->waitForStarted()) {
    delete opener;
    return openWithQt(path);
  }
  if (!opener->waitForFinished(kOpenerVerdictMilliseconds)) {
    // Still showing the file: left to run, and tidied up when it ends.
    QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
    return kShellSuccess;
  }
  const std::intptr_t result = resultOfExit(*opener);
  delete opener;
  return result;
}

#endif

}  // namespace

std::intptr_t openOnDesktop(const std::string& path) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
  if (!xdgOpen.isEmpty()) return openWithXdgOpen(xdgOpen, path);
#endif
  return openWithQt(path);
}

}  // namespace plimsy::ui
