#pragma once

// Stand-ins for the user and the desktop in the window's tests: a presenter
// that records every box and answers from a script, an opener that records
// what would be opened, and helpers that let the GUI thread run while a test
// waits for a worker.

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "ui/dlg_main.h"
#include "ui/services.h"
#include "ui/win.h"

namespace plimsy::test {

struct sShownMessage {
  std::string text;
  ui::eIcon icon;
  bool owned;  // shown with an owner window
};

class cFakePresenter : public ui::cPresenter {
 public:
  void showMessage(ui::WindowRef owner, const std::string& text, ui::eIcon icon) override;
  ui::eAnswer ask(ui::WindowRef owner, const std::string& question) override;
  bool confirm(ui::WindowRef owner, const std::string& question) override;
  int showTaskDialog(ui::WindowRef owner, const ui::sTaskDialog& task) override;
  bool pickFile(ui::WindowRef owner, const ui::sPathPick& pick, std::string& path) override;
  bool pickFolder(ui::WindowRef owner, const ui::sPathPick& pick, std::string& path) override;

  // Answers, used in order; when a script runs out: Yes, Cancel, no pick.
  // Questions (ask) and confirmations (confirm) share `answers` and
  // `questions`.
  std::deque<ui::eAnswer> answers;
  std::deque<int> taskAnswers;
  std::deque<std::string> pickedFiles;
  std::deque<std::string> pickedFolders;
  // Run inside showMessage and ask (on the GUI thread), e.g. to look at the
  // window or click it while the box is up.
  std::function<void()> duringMessage;
  std::function<void()> duringQuestion;

  std::vector<sShownMessage> messages;
  std::vector<std::string> questions;
  std::vector<ui::sTaskDialog> tasks;
};

class cFakeOpener : public ui::cOpener {
 public:
  std::intptr_t open(const std::string& path) override;
  std::intptr_t result = 33;
  std::vector<std::string> opened;
};

// Services with the fakes, the real jobs and a quit that only counts.
struct sFakeDesktop {
  cFakePresenter presenter;
  cFakeOpener opener;
  int quits = 0;
  ui::sServices services();
};

// Lets the GUI thread run until `done` holds (at most about 30 seconds, so a
// broken test fails instead of hanging). True when it holds.
bool waitUntil(const std::function<bool()>& done);

// Runs `work` with the modal dialog the program shows next, as soon as it is
// up and `accept` takes it (when given), looked for on the GUI thread's event
// loop for about 30 seconds.
void whenModalShown(std::function<void(ui::WindowRef)> work, std::function<bool(ui::WindowRef)> accept = nullptr);

// Waits until every worker thread has finished.
bool waitForJobs();

// The path with every "/" written as this system's separator, as the
// dialogs store a typed path ("/a/b" stays "/a/b" on POSIX, is "\\a\\b" on
// Windows).
std::string native(std::string path);

// Resets the process-wide settings object to its defaults.
void resetSettings();

// The settings file of this test process.
std::string settingsFile();

// Ends a death test's child process with `code`. The child ends without
// unwinding, so the temporary settings and runtime folders that main made for
// it are removed here.
[[noreturn]] void endChildProcess(int code);

// A small sound book folder: mimetype, META-INF/container.xml, the package
// document and one chapter, which is its navigation document too.
void writeBook(const std::filesystem::path& folder);

// The book's package document and its chapter's text.
inline constexpr const char* kBookPackage =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"id\">"
    "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
    "<dc:identifier id=\"id\">urn:uuid:6c0d3b5e-3f4a-4d0e-9a53-6f2b1c7e8d90</dc:identifier>"
    "<dc:title>Book</dc:title><dc:language>en</dc:language>"
    "<meta property=\"dcterms:modified\">2024-05-01T00:00:00Z</meta></metadata>"
    "<manifest><item id=\"c1\" href=\"chapter1.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>"
    "</manifest><spine><itemref idref=\"c1\"/></spine></package>\n";
std::string bookChapter();

// A test of the window: it starts from the default settings without a
// settings file, and waits at its end for any job still running.
class cGuiTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::vector<sShownMessage>& messages() const { return desktop_.presenter.messages; }

  sFakeDesktop desktop_;
};

// The same, with a small book in <folder_>/book.
class cBookGuiTest : public cGuiTest {
 protected:
  void SetUp() override;

  TempDir folder_;
};

// The same, with notes.txt beside the book and the main dialog open.
class cMainDialogTest : public cBookGuiTest {
 protected:
  void SetUp() override;
  ui::cWin line(int id) const { return ui::cWin(dialog_->control(id)); }

  std::unique_ptr<ui::cDlgMain> dialog_;
};

}  // namespace plimsy::test
