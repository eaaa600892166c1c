// The pickers on Windows: the common item dialog set up as the pick
// describes it (title, file types, default extension, save style, the folder
// and name it starts from), looked at through the dialog's own interface,
// and the real dialog driven as the user would: a new name typed and Save
// pressed gives that name with the extension added.

#include <gtest/gtest.h>

#include "ui/win32/win32_backend.h"
// windows.h first.
#include <shobjidl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "ui/services.h"
#include "window_driver.h"

namespace plimsy::ui {
namespace {

using win32::narrow;

// What the dialog says about itself when it is about to be shown.
struct sSeen {
  bool shown = false;
  bool save = false;
  FILEOPENDIALOGOPTIONS options = 0;
  UINT typeIndex = 0;
  std::string fileName;
  std::string folder;
};

sSeen look(IFileDialog& dialog) {
  sSeen seen;
  seen.shown = true;
  IFileSaveDialog* save = nullptr;
  seen.save = SUCCEEDED(dialog.QueryInterface(IID_IFileSaveDialog, reinterpret_cast<void**>(&save)));
  if (save) save->Release();
  dialog.GetOptions(&seen.options);
  dialog.GetFileTypeIndex(&seen.typeIndex);
  wchar_t* text = nullptr;
  if (SUCCEEDED(dialog.GetFileName(&text)) && text) {
    seen.fileName = narrow(text);
    CoTaskMemFree(text);
  }
  IShellItem* folder = nullptr;
  if (SUCCEEDED(dialog.GetFolder(&folder)) && folder) {
    if (SUCCEEDED(folder->GetDisplayName(SIGDN_FILESYSPATH, &text)) && text) {
      seen.folder = narrow(text);
      CoTaskMemFree(text);
    }
    folder->Release();
  }
  return seen;
}

class Pickers : public ::testing::Test {
 protected:
  void TearDown() override { win32::setFileDialogShow(nullptr); }
  std::string windowsPath(const std::filesystem::path& path) const { return narrow(path.wstring()); }
  test::TempDir folder_;
};

TEST_F(Pickers, TheDialogIsSetUpAsThePickDescribesIt) {
  test::writeFile(folder_ / "old.epub", "x");
  std::filesystem::create_directories(folder_.path() / "book");
  const std::string base = windowsPath(folder_.path());
  struct Case {
    const char* name;
    sPathPick pick;
    bool folder;
    bool save;
    std::string startFolder;  // empty: the dialog's own choice
    std::string fileName;
  };
  const Case cases[] = {
      {"an existing epub", epubPick(base + "\\old.epub"), false, true, base, "old.epub"},
      {"a new epub, typed with /", epubPick(folder_ / "new.epub"), false, true, base, "new.epub"},
      {"a log in a folder that is missing", analysisLogPick(base + "\\missing\\log.txt"), false, true, "", "log.txt"},
      {"a files folder", filesFolderPick(base + "\\book\\"), true, false, base + "\\book", ""},
      {"a backup folder", backupFolderPick(base), true, false, base, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sSeen seen;
    win32::setFileDialogShow([&seen](IFileDialog& dialog, HWND) {
      seen = look(dialog);
      return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    });
    std::string path = "before";
    cPresenter& presenter = win32::desktopPresenter();
    EXPECT_FALSE(c.folder ? presenter.pickFolder(nullptr, c.pick, path) : presenter.pickFile(nullptr, c.pick, path));
    EXPECT_EQ(path, "") << "cancelled";
    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.save, c.save);
    EXPECT_EQ((seen.options & FOS_PICKFOLDERS) != 0, c.folder);
    EXPECT_EQ(seen.options & (FOS_OVERWRITEPROMPT | FOS_FILEMUSTEXIST), 0u) << "a new name is taken, no warning";
    EXPECT_NE(seen.options & FOS_FORCEFILESYSTEM, 0u);
    if (!c.folder) {
      EXPECT_EQ(seen.typeIndex, 1u);
    }
    EXPECT_EQ(seen.fileName, c.fileName);
    if (!c.startFolder.empty()) {
      EXPECT_EQ(seen.folder, c.startFolder);
    }
  }
}

// The real dialog: its title, its file types and its Save button; a new name
// typed without an extension comes back with ".epub".
struct sDialogFound {
  HWND dialog = nullptr;
  std::vector<std::string> comboItems;
  HWND nameEdit = nullptr;
  std::string okText;
};

BOOL CALLBACK lookAtChild(HWND child, LPARAM parameter) {
  auto* found = reinterpret_cast<sDialogFound*>(parameter);
  wchar_t className[32] = {};
  GetClassNameW(child, className, 32);
  const std::wstring kind = className;
  if (kind == L"ComboBox") {
    const LRESULT count = SendMessageW(child, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t item[256] = {};
      if (SendMessageW(child, CB_GETLBTEXTLEN, i, 0) < 255)
        SendMessageW(child, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
      found->comboItems.push_back(narrow(item));
    }
  }
  if (kind == L"Edit" && win32::windowText(child) == "new.epub") found->nameEdit = child;
  if (kind == L"Button" && GetDlgCtrlID(child) == IDOK) found->okText = win32::windowText(child);
  return TRUE;
}

TEST_F(Pickers, TheRealSaveDialogTakesANewNameAndAddsTheExtension) {
  sDialogFound found;
  test::runSoon([&found] {
    found.dialog = FindWindowW(nullptr, L"Choose the epub");
    if (!found.dialog) return;
    EnumChildWindows(found.dialog, lookAtChild, reinterpret_cast<LPARAM>(&found));
    if (found.nameEdit) SetWindowTextW(found.nameEdit, L"new-book");
    PostMessageW(found.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(found.dialog, IDOK)));
  });
  std::string path;
  const bool picked = win32::desktopPresenter().pickFile(nullptr, epubPick(folder_ / "new.epub"), path);
  ASSERT_NE(found.dialog, nullptr) << "no dialog titled \"Choose the epub\"";
  EXPECT_NE(std::find(found.comboItems.begin(), found.comboItems.end(), "EPUB (*.epub)"), found.comboItems.end());
  EXPECT_NE(std::find(found.comboItems.begin(), found.comboItems.end(), "All files (*.*)"), found.comboItems.end());
  EXPECT_NE(found.okText.find("Save"), std::string::npos) << found.okText;
  ASSERT_NE(found.nameEdit, nullptr) << "the name line does not start with the line's name";
  EXPECT_TRUE(picked);
  EXPECT_EQ(path, windowsPath(folder_.path() / "new-book.epub"));
}

}  // namespace
}  // namespace plimsy::ui
