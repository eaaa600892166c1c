#include "ui/dlg_check.h"

#include <utility>

#include "ui/clipboard.h"
#include "ui/control_ids.h"
#include "ui/control_words.h"

namespace plimsy::ui {
namespace {

using namespace check_ids;

constexpr sControlWords kCheckControlWords[] = {
    {kFindings, "Findings", nullptr},
    {kCopy, "Copy to clipboard", "Copy the findings as text"},
    {kRepair, "Repair", "Repack the epub in place, then check it again"},
};

}  // namespace

cDlgCheckResult::cDlgCheckResult(sCheckView view) : view_(std::move(view)) {}

cDlgCheckResult::~cDlgCheckResult() = default;

int cDlgCheckResult::templateId() const { return kCheckTemplateId; }

std::intptr_t cDlgCheckResult::dialogMessage(const sMessage& message) {
  if (message.id == kMsgInitDialog) {
    initialise();
    return 0;
  }
  if (message.id == kMsgCommand) {
    switch (message.controlId) {
      case kCopy: copyToClipboard(view_.copyText); return 1;
      case kRepair:
        // Offered only when it mends what was found.
        if (view_.repairOffered) endDialog(kRepair);
        return 1;
      case kIdOk:  // Enter where no button has the focus
      case kClose: endDialog(kClose); return 1;
      default: break;
    }
  }
  return defaultHandling(message);
}

void cDlgCheckResult::initialise() {
  applyControlWords(*this, kCheckControlWords);
  setTitle(view_.title);
  showProgramIcon();
  cWin(control(kSummary)).setText(view_.summary);
  cWin(control(kFindings)).setText(view_.findings);
  cWin(control(kRepair)).showWindow(view_.repairOffered);
  // Enter closes: a repair rewrites the epub, and is asked for by its own button.
  cWin(control(kClose)).setFocus();
  centreOnOwner();
}

}  // namespace plimsy::ui
