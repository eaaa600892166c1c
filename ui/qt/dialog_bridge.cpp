#include "ui/qt/dialog_bridge.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QWindow>

#include "ui/control_ids.h"
#include "ui/dlg.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/qt_window.h"

namespace plimsy::ui {
namespace {

bool carriesFiles(const QMimeData* data) { return data && data->hasUrls() && !data->urls().isEmpty(); }

enum class eArrow { None, Previous, Next };

// Up and Left go back, Down and Right forward; with Ctrl, Alt or Meta held
// the key is not a dialog navigation key.
eArrow arrowOf(const QKeyEvent& key) {
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return eArrow::None;
  switch (key.key()) {
    case Qt::Key_Up:
    case Qt::Key_Left: return eArrow::Previous;
    case Qt::Key_Down:
    case Qt::Key_Right: return eArrow::Next;
    default: return eArrow::None;
  }
}

}  // namespace

cDialogBridge::cDialogBridge(cDlg& dialog, QWidget* owner, Qt::WindowFlags flags)
    : QDialog(owner, flags), dialog_(dialog) {}

void cDialogBridge::connectCommand(QWidget* control, int controlId) {
  auto* button = qobject_cast<QAbstractButton*>(control);
  if (!button) return;
  connect(button, &QAbstractButton::clicked, this, [this, controlId] { dialog_.sendCommand(controlId); });
}

void cDialogBridge::watchArrowKeys(QWidget* control) { control->installEventFilter(this); }

bool cDialogBridge::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    const eArrow arrow = arrowOf(*static_cast<QKeyEvent*>(event));
    if (arrow != eArrow::None &&
        dialog_.moveWithinGroup(windowRef(static_cast<QWidget*>(watched)), arrow == eArrow::Previous))
      return true;
  }
  return QDialog::eventFilter(watched, event);
}

void cDialogBridge::post(std::uint32_t messageId) { dialog_.send({messageId, 0, {}, {}}); }

void cDialogBridge::accept() { dialog_.sendCommand(kIdOk); }

void cDialogBridge::reject() { dialog_.sendCommand(kIdCancel); }

void cDialogBridge::closeEvent(QCloseEvent* event) {
  // The handler decides what closing means; the window is hidden by the
  // dialog object (destroyWindow, endDialog), never by Qt.
  event->ignore();
  if (dialog_.send({kMsgClose, 0, {}, {}}) == 0) dialog_.sendCommand(kIdCancel);
}

void cDialogBridge::dragEnterEvent(QDragEnterEvent* event) {
  if (carriesFiles(event->mimeData())) event->acceptProposedAction();
}

void cDialogBridge::dragMoveEvent(QDragMoveEvent* event) {
  if (carriesFiles(event->mimeData())) event->acceptProposedAction();
}

void cDialogBridge::dropEvent(QDropEvent* event) {
  if (!carriesFiles(event->mimeData())) return;
  std::vector<std::string> paths;
  for (const QUrl& url : event->mimeData()->urls())
    paths.push_back(url.isLocalFile() ? fromQString(url.toLocalFile()) : "");
  event->acceptProposedAction();
  const QPoint point = event->position().toPoint();
  dialog_.send(dropMessage(std::move(paths), {point.x(), point.y()}));
}

void cDialogBridge::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The control a dialog opens with shows its focus, as after a Tab (Qt
  // draws the focus only once the keyboard has moved it).
  setAttribute(Qt::WA_KeyboardFocusChange);
  if (screenWatched_ || !windowHandle()) return;
  screenWatched_ = true;
  connect(windowHandle(), &QWindow::screenChanged, this, [this] { post(kMsgDisplayChange); });
  connect(qGuiApp, &QGuiApplication::screenAdded, this, [this] { post(kMsgDisplayChange); });
  connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this] { post(kMsgDisplayChange); });
}

}  // namespace plimsy::ui
