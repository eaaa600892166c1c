#include "ui/gui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

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

}  // namespace plimsy::ui
