#pragma once

// cDlgCheckResult: the modal dialog (template 116) that shows what Check
// found in an epub: a summary line, the findings one per line in a read-only
// box, a button that copies them as text, Close, and Repair when a repack
// mends every error found. It ends with kRepair when Repair is pressed and
// with kClose otherwise (Close, Escape, the close box).

#include <cstdint>
#include <string>

#include "ui/check_job.h"
#include "ui/dlg.h"

namespace plimsy::ui {

class cDlgCheckResult : public cDlgModal {
 public:
  explicit cDlgCheckResult(sCheckView view);
  ~cDlgCheckResult() override;

  int templateId() const override;
  std::intptr_t dialogMessage(const sMessage& message) override;

  const sCheckView& view() const { return view_; }

 private:
  void initialise();

  sCheckView view_;
};

}  // namespace plimsy::ui
