#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include "ui/gui_thread.h"

namespace plimsy::ui {

bool isGuiThread() {
  const QCoreApplication* application = QCoreApplication::instance();
  return !application || QThread::currentThread() == application->thread();
}

void onGuiThread(const std::function<void()>& work) {
  if (isGuiThread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(QCoreApplication::instance(), work, Qt::BlockingQueuedConnection);
}

void processPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); }

}  // namespace plimsy::ui
