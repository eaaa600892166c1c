// Files dropped onto the main dialog through the system's own message
// (WM_DROPFILES with a drop handle), as Explorer drops them: the names reach
// the dialog in UTF-8, the drop point in the dialog's client coordinates.

#include <gtest/gtest.h>

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>

#include "gui_test_support.h"
#include "ui/control_ids.h"
#include "ui/gui_thread.h"

namespace plimsy::ui {
namespace {

using namespace main_ids;

// A drop handle as the shell makes one: DROPFILES, then the wide names, each
// ended by a zero, and one more zero. The dialog frees it (DragFinish).
HDROP dropHandle(const std::vector<std::filesystem::path>& paths, sPoint point) {
  std::wstring names;
  for (const std::filesystem::path& path : paths) names += path.wstring() + L'\0';
  names += L'\0';
  const std::size_t bytes = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  auto* files = static_cast<DROPFILES*>(GlobalLock(block));
  files->pFiles = sizeof(DROPFILES);
  files->pt = {point.x, point.y};
  files->fNC = FALSE;
  files->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(block);
  return static_cast<HDROP>(block);
}

class DroppedFiles : public test::cMainDialogTest {
 protected:
  void drop(const std::vector<std::filesystem::path>& paths, sPoint point) {
    SendMessageW(win32::hwndOf(dialog_->dialogWindow()), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(dropHandle(paths, point)), 0);
  }
  sPoint centreOf(int id) const {
    const sPixelRect rect = line(id).rectInDialog();
    return {rect.x + rect.width / 2, rect.y + rect.height / 2};
  }
};

TEST_F(DroppedFiles, ReachTheDialogWithTheirNamesAndWhereTheyFell) {
  const std::filesystem::path book = folder_.path() / "book";
  const std::filesystem::path named = folder_.path() / u8"Ærø – ünïcode 書.epub";
  test::writeFile(named, "not an epub");

  drop({book}, centreOf(kEpubLine));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "You've dragged a folder to the epub line.  That won't work. Only a file can go there.");

  drop({named}, centreOf(kFilesLine));
  ASSERT_EQ(messages().size(), 2u);
  EXPECT_EQ(messages()[1].text,
            "You've dragged a file to the line for the files folder.  That won't work. Only a folder can go there.");

  drop({named}, centreOf(kEpubLine));
  EXPECT_EQ(line(kEpubLine).text(), win32::narrow(named.wstring()));

  drop({book, named}, {5, 5});
  ASSERT_EQ(messages().size(), 3u);
  EXPECT_EQ(messages()[2].text,
            "You dragged 2 items.\n\nPlease drag a single epub or a single folder with files inside it.");
}

}  // namespace
}  // namespace plimsy::ui
