#include "ui/qt/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>

#include "core/settings_file.h"
#include "ui/qt/qt_text.h"
#include "ui/ui_values.h"

namespace plimsy::ui {
namespace {

const QByteArray kQueryLine = "query\n";
const QByteArray kRestoreLine = "restore\n";
const QByteArray kOpenPrefix = "open ";

}  // namespace

QString instanceFolder() {
  // Without XDG_RUNTIME_DIR Qt would make up a folder in /tmp (and say so).
  if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir()) return runtime;
  }
  const std::string base = settingsBaseFolder();
  if (base.empty()) return {};
  const QString folder = toQString(base) + QStringLiteral("/Tarnwick/Plimsy");
  return QDir().mkpath(folder) ? folder : QString();
}

QString instanceName(const QString& folder) {
  // The folder belongs to the user (Qt refuses a runtime folder owned by
  // anybody else), so its owner is the user id.
  return toQString(kInstanceGuid) + QLatin1Char('-') + QString::number(QFileInfo(folder).ownerId());
}

cSingleInstance::cSingleInstance(QString folder) {
  if (folder.isEmpty()) return;
  serverPath_ = folder + QLatin1Char('/') + instanceName(folder);
  lockPath_ = serverPath_ + QStringLiteral(".lock");
}

cSingleInstance::~cSingleInstance() {
  if (server_) server_->close();
}

cSingleInstance::eRole cSingleInstance::start(const std::string& path) {
  if (serverPath_.isEmpty()) return eRole::First;
  if (forwardToRunningInstance(path)) return eRole::Forwarded;

  lock_ = std::make_unique<QLockFile>(lockPath_);
  // Only a lock whose process is gone is stale, however old it is.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    // A live instance holds the lock but did not answer (still starting, or hung).
    if (lock_->error() == QLockFile::LockFailedError) return eRole::Forwarded;
    lock_.reset();  // the folder cannot hold a lock: run unguarded rather than not at all
  }
  QLocalServer::removeServer(serverPath_);
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) serve(socket);
  });
  server_->listen(serverPath_);
  return eRole::First;
}

bool cSingleInstance::forwardToRunningInstance(const std::string& path) {
  QLocalSocket socket;
  socket.connectToServer(serverPath_);
  if (!socket.waitForConnected(kInstanceQueryTimeoutMs)) return false;
  // Somebody listens: this start ends whether or not the window answers.
  socket.write(kQueryLine);
  const QDeadlineTimer deadline(kInstanceQueryTimeoutMs);
  while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
         socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
  }
  if (!socket.canReadLine()) return true;
  const QByteArray answer = socket.readLine().trimmed();
  if (answer != QByteArray::number(uiValues().instanceQueryMessage)) return true;
  if (!path.empty())
    socket.write(kOpenPrefix + QByteArray(path.data(), static_cast<qsizetype>(path.size())).toPercentEncoding() + '\n');
  socket.write(kRestoreLine);
  socket.waitForBytesWritten(kInstanceQueryTimeoutMs);
  socket.disconnectFromServer();
  return true;
}

void cSingleInstance::serve(QLocalSocket* socket) {
  QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
    while (socket->canReadLine()) {
      const QByteArray line = socket->readLine();
      if (line == kQueryLine) {
        const std::intptr_t result = handlers_.query ? handlers_.query() : 0;
        socket->write(QByteArray::number(static_cast<qlonglong>(result)) + '\n');
        socket->flush();
      } else if (line == kRestoreLine && handlers_.restore) {
        handlers_.restore();
      } else if (line.startsWith(kOpenPrefix) && line.endsWith('\n') && handlers_.open) {
        const QByteArray path = QByteArray::fromPercentEncoding(line.mid(kOpenPrefix.size()).chopped(1));
        handlers_.open(path.toStdString());
      }
    }
  });
}

}  // namespace plimsy::ui
