#pragma once

// cDlg: a dialog object with a template, a message handler and the default
// handling every concrete dialog falls back on. cDlgModal is the modal
// flavour. The dialog's window is a Qt bridge (dialog_bridge.h) built from
// the template; it turns Qt events into messages for the object.
//
// Default handling:
//   kMsgInitDialog                  on-create hook, then the layout pass   0
//   kMsgSize                        layout pass                            0
//   kMsgMove and the button-down    close the transient popup, if any      0
//     messages
//   kMsgNcDestroy                   delete the object if it asks for that  0
//   kMsgCommand 1 (OK) or 2         destroy the dialog                     1
//     (Cancel)
//   kMsgGetObject                   message result = the object's address  1
//   anything else                   nothing                                0
//
// A modal dialog ends its modal loop on OK and Cancel instead (modalHandling).

#include <QDialog>
#include <QPointer>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/messages.h"
#include "ui/win.h"

namespace plimsy::ui {

class cDialogBridge;

class cDlg : public cWin {
 public:
  cDlg() = default;
  ~cDlg() override;

  virtual int templateId() const = 0;
  // The concrete dialog's message handler; returns the message's result.
  virtual std::intptr_t dialogMessage(const sMessage& message) = 0;

  // Hands a message to the handler (the shared dialog procedure). Messages
  // for a dialog that was never created are answered with 0.
  std::intptr_t send(const sMessage& message);
  std::intptr_t sendCommand(int controlId) { return send(commandMessage(controlId)); }

  // Creates the modeless dialog from its template, owned by `owner` (may be
  // null), sends kMsgInitDialog and shows it when the template says
  // WS_VISIBLE (centred on the screen for DS_CENTER). Fails with the
  // template's message.
  bool create(QWidget* owner, std::string* message = nullptr);

  // Destroys a modeless dialog: kMsgDestroy, the window is hidden for good,
  // kMsgNcDestroy. Its widgets stay alive (hidden) until the object goes, so
  // a worker thread that still reaches for them does no harm.
  void destroyWindow();
  bool isDestroyed() const { return destroyed_; }

  // The widget of a control id (the first one with that id); nullptr when
  // the template has none.
  QWidget* control(int controlId) const;
  QDialog* dialogWidget() const;
  const sDialogTemplate& dialogTemplate() const { return template_; }

  // The message result (what a handler leaves for the sender besides its
  // return value).
  std::intptr_t messageResult() const { return messageResult_; }
  void setMessageResult(std::intptr_t result) { messageResult_ = result; }

  // Whether files may be dropped onto the dialog.
  void acceptFiles(bool accept);

  // An arrow key pressed on control `from`: moves the focus to the previous
  // or next control of its group (control_groups.h); an auto radio button
  // reached this way is checked and sends its command, as if clicked. False
  // when the control keeps its arrow keys for itself.
  bool moveWithinGroup(QWidget* from, bool previous);

 protected:
  std::intptr_t defaultHandling(const sMessage& message);

  // Builds the bridge and its controls from the template.
  bool build(QWidget* owner, bool modal, std::string* message);

 private:
  friend class cDialogBridge;
  sDialogTemplate template_;
  QPointer<cDialogBridge> bridge_;
  std::map<int, QWidget*> controls_;
  std::vector<QWidget*> widgets_;  // one per template control, in template order
  std::intptr_t messageResult_ = 0;
  bool destroyed_ = false;
};

class cDlgModal : public cDlg {
 public:
  // Creates the dialog, sends kMsgInitDialog and runs the modal loop until
  // the dialog ends; returns the id it ended with (2 when it cannot be made).
  int runModal(QWidget* owner);

  // Creates and shows the dialog modally without entering a loop (what
  // runModal does first; tests then send it messages).
  bool createModal(QWidget* owner, std::string* message = nullptr);

  // Ends the modal loop with `result`; the window field is cleared.
  void endDialog(int result);
  std::optional<int> result() const { return result_; }

 protected:
  // OK and Cancel end the modal loop with their id (result 1); everything
  // else goes to the default handling.
  std::intptr_t modalHandling(const sMessage& message);

 private:
  std::optional<int> result_;
};

}  // namespace plimsy::ui
