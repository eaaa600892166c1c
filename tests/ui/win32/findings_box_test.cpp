// The result of a check on Windows: its findings box is a read-only
// multi-line edit control, which breaks lines only at CR LF; the dialogs'
// texts use LF, and read back as they were given.

#include <gtest/gtest.h>

#include "ui/win32/win32_backend.h"

#include <string>

#include "gui_test_support.h"
#include "ui/check_job.h"
#include "ui/control_ids.h"
#include "ui/dlg_check.h"

namespace plimsy::ui {
namespace {

TEST(FindingsBox, ShowsOneFindingALine) {
  const struct {
    std::string findings;
    LRESULT lines;
  } cases[] = {
      {"", 1},
      {"PKG-007 error mimetype: compressed.\n", 2},  // the last line end leaves an empty last line
      {"PKG-006 error mimetype: none.\nRSC-002 error META-INF/container.xml: missing.\nPLM-001 warning a: d.\n", 4},
  };
  for (const auto& c : cases) {
    sCheckView view;
    view.findings = c.findings;
    cDlgCheckResult result(view);
    ASSERT_TRUE(result.createModal(nullptr));
    const HWND box = win32::hwndOf(result.control(check_ids::kFindings));
    EXPECT_EQ(SendMessageW(box, EM_GETLINECOUNT, 0, 0), c.lines) << c.findings;
    EXPECT_NE(GetWindowLongW(box, GWL_STYLE) & ES_READONLY, 0);
    EXPECT_EQ(cWin(result.control(check_ids::kFindings)).text(), c.findings);
    result.endDialog(check_ids::kClose);
  }
}

}  // namespace
}  // namespace plimsy::ui
