#pragma once

// cWin: an object bound to a window or to one of a dialog's controls. It
// keeps the window, the (always empty) list of anchored children for the
// layout pass, the delete-on-destroy flag and an optional transient popup,
// and offers the few control operations the dialogs use. Destroying a cWin
// never destroys its window. Every call belongs on the GUI thread.

#include <QPointer>
#include <QSize>
#include <QWidget>
#include <string>
#include <vector>

namespace plimsy::ui {

// An anchored child control for the layout pass (no dialog adds one).
struct sLayoutAnchor {
  QWidget* control = nullptr;
  int anchors = 0;
};

class cWin {
 public:
  cWin() = default;
  explicit cWin(QWidget* window) : window_(window) {}
  virtual ~cWin();
  cWin(const cWin&) = delete;
  cWin& operator=(const cWin&) = delete;

  QWidget* window() const { return window_; }
  void attach(QWidget* window) { window_ = window; }

  // The window's outer width and height (its frame included).
  virtual QSize size() const;
  // Runs when the window has been created; does nothing here.
  virtual void onCreate() {}

  // Moves the anchored children after a size change. No dialog of this
  // program anchors any, so the pass leaves every control where it is.
  void layoutPass();
  const std::vector<sLayoutAnchor>& layoutList() const { return layout_; }

  // A popup tied to the window, closed when the window moves or is clicked.
  void setTransientPopup(QWidget* popup) { transientPopup_ = popup; }
  QWidget* transientPopup() const { return transientPopup_; }
  void dismissTransientPopup();

  bool deleteOnDestroy() const { return deleteOnDestroy_; }

  // ---- Control operations (nothing happens without a window) ----
  void showWindow(bool visible) const;
  void enable(bool enabled) const;
  bool isEnabled() const;
  bool isVisible() const;  // shown in its own right (whether or not its dialog is)
  // The text of an edit line, a combo box's edit field or a button.
  std::string text() const;
  void setText(const std::string& text) const;
  bool isChecked() const;
  void setChecked(bool checked) const;

 protected:
  QWidget* window_ = nullptr;
  std::vector<sLayoutAnchor> layout_;
  bool deleteOnDestroy_ = false;
  QPointer<QWidget> transientPopup_;
};

}  // namespace plimsy::ui
