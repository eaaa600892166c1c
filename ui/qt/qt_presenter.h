#pragma once

// The Qt backend's presenter and opener (what desktopServices hands out).

#include <cstdint>
#include <string>

#include "ui/services.h"

namespace plimsy::ui {

// Message boxes and pickers: QMessageBox, QFileDialog.
class cQtPresenter : public cPresenter {
 public:
  void showMessage(WindowRef owner, const std::string& text, eIcon icon) override;
  eAnswer ask(WindowRef owner, const std::string& question) override;
  bool confirm(WindowRef owner, const std::string& question) override;
  int showTaskDialog(WindowRef owner, const sTaskDialog& task) override;
  bool pickFile(WindowRef owner, const sPathPick& pick, std::string& path) override;
  bool pickFolder(WindowRef owner, const sPathPick& pick, std::string& path) override;
};

// Fails with 2 for a path that does not exist and with 31 when the desktop
// has no program for it (desktop_open.h).
class cDesktopOpener : public cOpener {
 public:
  std::intptr_t open(const std::string& path) override;
};

}  // namespace plimsy::ui
