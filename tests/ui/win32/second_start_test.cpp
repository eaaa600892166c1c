// A later start of the program (plimsy.exe, a process of its own) while this
// test process is the running instance: it holds the single-instance mutex,
// and its main dialog answers the instance query. Other windows that answer
// the query would take the path instead, so these tests run alone.

#include <gtest/gtest.h>

#include "ui/win32/win32_backend.h"
// windows.h first.

#include <filesystem>
#include <string>

#include "core/paths.h"
#include "gui_test_support.h"
#include "ui/control_ids.h"
#include "ui/ui_values.h"

namespace plimsy::ui {
namespace {

using namespace main_ids;

class SecondStart : public test::cMainDialogTest {
 protected:
  void SetUp() override {
    test::cMainDialogTest::SetUp();
    mutex_ = CreateMutexW(nullptr, FALSE, win32::widen(kInstanceGuid).c_str());
    ASSERT_TRUE(mutex_);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "Plimsy runs already";
  }
  void TearDown() override {
    if (mutex_) CloseHandle(mutex_);
    test::cMainDialogTest::TearDown();
  }

  // plimsy.exe started with `argument` (quoted) in `folder`; the GUI thread
  // runs meanwhile. Its exit code, or -1 when it did not end.
  static long runLaterStart(const std::wstring& argument, const std::filesystem::path& folder) {
    std::wstring command = L"\"" + win32::widen(PLIMSY_WINDOWS_GUI_EXECUTABLE) + L"\" \"" + argument + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.wstring().c_str(),
                        &startup, &process))
      return -1;
    CloseHandle(process.hThread);
    const bool ended =
        test::waitUntil([&process] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
    DWORD code = 0;
    if (!ended) TerminateProcess(process.hProcess, 1);
    const bool read = GetExitCodeProcess(process.hProcess, &code) != FALSE;
    CloseHandle(process.hProcess);
    return ended && read ? static_cast<long>(code) : -1;
  }

  HANDLE mutex_ = nullptr;
};

TEST_F(SecondStart, HandsItsPathToTheRunningWindowWhichFillsBothLines) {
  const std::filesystem::path shelf = folder_.path() / "shelf";
  const std::filesystem::path name = pathFromUtf8("Ærø 書.epub");
  test::writeFile(shelf / name, "an epub");
  line(kFilesLine).setText("C:\\previous\\book\\");
  line(kEpubLine).setText("C:\\previous\\book.epub");

  // Relative to the later start's own current folder.
  EXPECT_EQ(runLaterStart(name.wstring(), shelf), 0);
  EXPECT_EQ(line(kEpubLine).text(), folder_ / "shelf/Ærø 書.epub");
  EXPECT_EQ(line(kFilesLine).text(), folder_ / "shelf/Ærø 書");
  EXPECT_EQ(dialog_->focusedControl(), dialog_->control(kUnzip));

  // A folder, quoted with its trailing backslash as a console user types it.
  EXPECT_EQ(runLaterStart(shelf.wstring() + L"\\", folder_.path()), 0);
  EXPECT_EQ(line(kFilesLine).text(), folder_ / "shelf");
  EXPECT_EQ(line(kEpubLine).text(), folder_ / "shelf.epub");
  EXPECT_EQ(dialog_->focusedControl(), dialog_->control(kZip));
  EXPECT_TRUE(messages().empty());
}

}  // namespace
}  // namespace plimsy::ui
