#pragma once

// Dialogs for the framework's tests: they leave everything to the default
// handling, and the modeless one records the messages it gets.

#include <cstdint>
#include <vector>

#include "ui/control_ids.h"
#include "ui/dlg.h"

namespace plimsy::ui {

// A dialog that records its messages and leaves everything to the defaults.
class cProbe : public cDlg {
 public:
  explicit cProbe(int id = kMainTemplateId) : id_(id) {}
  int templateId() const override { return id_; }
  std::intptr_t dialogMessage(const sMessage& message) override {
    received.push_back(message.id);
    return defaultHandling(message);
  }
  void onCreate() override { ++creates; }
  std::vector<std::uint32_t> received;
  int creates = 0;

 private:
  int id_;
};

class cModalProbe : public cDlgModal {
 public:
  int templateId() const override { return kOptionsTemplateId; }
  std::intptr_t dialogMessage(const sMessage& message) override { return modalHandling(message); }
};

}  // namespace plimsy::ui
