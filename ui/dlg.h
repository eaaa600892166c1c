#pragma once

// cDlg: a dialog object with a template, a message handler and the default
// handling every concrete dialog falls back on. cDlgModal is the modal
// flavour. The dialog's window is made by the window backend from the
// template (a Qt dialog built control by control on Linux, a real dialog
// resource on Windows); the backend hands the window's messages to the
// object.
//
// Default handling:
//   kMsgInitDialog                  on-create hook                         0
//   kMsgCommand 1 (OK) or 2         destroy the dialog                     1
//     (Cancel)
//   kMsgGetObject                   message result = the object's address  1
//   anything else                   nothing                                0
//
// A modal dialog ends its modal loop on OK and Cancel instead (modalHandling).

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/messages.h"
#include "ui/win.h"

namespace plimsy::ui {

// The backend's own state of a dialog window.
struct sDialogWindow;

class cDlg : public cWin {
 public:
  cDlg();
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
  bool create(WindowRef owner, std::string* message = nullptr);

  // Destroys a modeless dialog: kMsgDestroy, the window goes, kMsgNcDestroy.
  void destroyWindow();
  bool isDestroyed() const { return destroyed_; }

  // The window of a control id (the first one with that id); nullptr when
  // the template has none.
  WindowRef control(int controlId) const;
  WindowRef dialogWindow() const { return window(); }
  const sDialogTemplate& dialogTemplate() const { return template_; }

  // The message result (what a handler leaves for the sender besides its
  // return value).
  std::intptr_t messageResult() const { return messageResult_; }
  void setMessageResult(std::intptr_t result) { messageResult_ = result; }

  // ---- Window operations (the backend's) ----
  // Whether files may be dropped onto the dialog.
  void acceptFiles(bool accept);
  void setTitle(const std::string& title);
  // The program icon in the title bar and the task bar.
  void showProgramIcon();
  // The control that has the keyboard focus: one of the dialog's controls,
  // the dialog itself, or nullptr when the focus is elsewhere.
  WindowRef focusedControl() const;
  // Takes the focus off every control while the dialog stays active.
  void focusDialog();
  // Centres the dialog on its owner's window (on the screen without one),
  // kept on the screen's top and left edges.
  void centreOnOwner();
  // Shows a minimised or hidden dialog again and brings it to the front.
  void restoreAndRaise();
  // Shows the program logo, stretched into this rectangle of the client area.
  void showLogo(const sPixelRect& rect);

  // An arrow key pressed on control `from`: moves the focus to the previous
  // or next control of its group (control_groups.h); an auto radio button
  // reached this way is checked and sends its command, as if clicked. False
  // when the control keeps its arrow keys for itself.
  bool moveWithinGroup(WindowRef from, bool previous);

 protected:
  std::intptr_t defaultHandling(const sMessage& message);

  // Loads the template, then the backend builds the window and its controls
  // (registering each with registerControl) and sends kMsgInitDialog.
  bool build(WindowRef owner, bool modal, std::string* message);
  // The backend's part of build: attaches the dialog's window, registers the
  // controls in template order and sends kMsgInitDialog.
  bool buildWindow(WindowRef owner, bool modal, std::string* message);
  // Shows the built dialog as its template says (centred on the screen for
  // DS_CENTER, shown for WS_VISIBLE).
  void showAsTemplateSays();
  // The backend's part of destroyWindow: the window goes for good (the Qt
  // backend hides it and keeps its widgets until the object goes, so that a
  // worker thread still reaching for them does no harm).
  void closeWindow();
  void registerControl(WindowRef control, int controlId);

  std::unique_ptr<sDialogWindow> native_;
  bool destroyed_ = false;

 private:
  sDialogTemplate template_;
  std::map<int, WindowRef> controls_;
  std::vector<WindowRef> widgets_;  // one per template control, in template order
  std::intptr_t messageResult_ = 0;
};

class cDlgModal : public cDlg {
 public:
  // Creates the dialog, sends kMsgInitDialog and runs the modal loop until
  // the dialog ends; returns the id it ended with (2 when it cannot be made).
  int runModal(WindowRef owner);

  // Creates and shows the dialog modally without entering a loop (what
  // runModal does first; tests then send it messages).
  bool createModal(WindowRef owner, std::string* message = nullptr);

  // Ends the modal loop with `result`; the window field is cleared.
  void endDialog(int result);
  std::optional<int> result() const { return result_; }

 protected:
  // OK and Cancel end the modal loop with their id (result 1); everything
  // else goes to the default handling.
  std::intptr_t modalHandling(const sMessage& message);

 private:
  // The backend's modal loop, run until result_ is set.
  void modalLoop();
  // The backend's part of endDialog: the window is hidden and the loop ends.
  void finishModal(int result);

  std::optional<int> result_;
};

}  // namespace plimsy::ui
