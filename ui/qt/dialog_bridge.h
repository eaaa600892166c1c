#pragma once

// The Qt side of a framework dialog: a QDialog that turns Qt events into the
// dialog object's messages.
//   button clicked              kMsgCommand with the button's control id
//   Escape, close box           kMsgClose; when unhandled, kMsgCommand 2
//   files dropped               kMsgDropFiles with the local paths and the drop point
//   moved to another screen,    kMsgDisplayChange
//     screens added or removed
// An arrow key pressed on a watched control (a button of any kind) moves the
// focus within the control's group (cDlg::moveWithinGroup) instead of
// reaching the control.

#include <QDialog>
#include <cstdint>

namespace plimsy::ui {

class cDlg;

class cDialogBridge final : public QDialog {
 public:
  cDialogBridge(cDlg& dialog, QWidget* owner, Qt::WindowFlags flags);

  // Ends the modal loop (QDialog::done) without passing through the handler.
  void finish(int result) { QDialog::done(result); }

  // Connects a button's clicks to kMsgCommand.
  void connectCommand(QWidget* control, int controlId);
  // Takes the control's arrow keys for the dialog's group navigation.
  void watchArrowKeys(QWidget* control);

 protected:
  void accept() override;
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void post(std::uint32_t messageId);

  cDlg& dialog_;
  bool screenWatched_ = false;
};

}  // namespace plimsy::ui
