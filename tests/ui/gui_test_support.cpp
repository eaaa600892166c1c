#include "gui_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "core/paths.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "ui/control_ids.h"
#include "ui/gui_thread.h"
#include "ui/job_runner.h"
#include "window_driver.h"

namespace plimsy::test {

void cFakePresenter::showMessage(ui::WindowRef owner, const std::string& text, ui::eIcon icon) {
  messages.push_back({text, icon, owner != nullptr});
  if (duringMessage) duringMessage();
}

ui::eAnswer cFakePresenter::ask(ui::WindowRef, const std::string& question) {
  questions.push_back(question);
  if (duringQuestion) duringQuestion();
  if (answers.empty()) return ui::eAnswer::Yes;
  const ui::eAnswer answer = answers.front();
  answers.pop_front();
  return answer;
}

bool cFakePresenter::confirm(ui::WindowRef owner, const std::string& question) {
  return ask(owner, question) == ui::eAnswer::Yes;
}

int cFakePresenter::showTaskDialog(ui::WindowRef, const ui::sTaskDialog& task) {
  tasks.push_back(task);
  if (taskAnswers.empty()) return ui::kIdCancel;
  const int answer = taskAnswers.front();
  taskAnswers.pop_front();
  return answer;
}

namespace {
bool pickFrom(std::deque<std::string>& script, std::string& path) {
  path.clear();
  if (script.empty()) return false;
  path = script.front();
  script.pop_front();
  return !path.empty();
}
}  // namespace

bool cFakePresenter::pickFile(ui::WindowRef, const ui::sPathPick&, std::string& path) {
  return pickFrom(pickedFiles, path);
}
bool cFakePresenter::pickFolder(ui::WindowRef, const ui::sPathPick&, std::string& path) {
  return pickFrom(pickedFolders, path);
}

std::intptr_t cFakeOpener::open(const std::string& path) {
  opened.push_back(path);
  return result;
}

ui::sServices sFakeDesktop::services() {
  return ui::jobServices(presenter, opener, [this] { ++quits; });
}

bool waitUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ui::processPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

namespace {

struct sModalWatch {
  std::function<void(ui::WindowRef)> work;
  std::function<bool(ui::WindowRef)> accept;
  std::chrono::steady_clock::time_point deadline;
};

void lookForModal(std::shared_ptr<sModalWatch> watch) {
  const ui::WindowRef modal = activeModalDialog();
  if (modal && (!watch->accept || watch->accept(modal))) {
    watch->work(modal);
    return;
  }
  if (std::chrono::steady_clock::now() > watch->deadline) return;
  runSoon([watch] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    lookForModal(watch);
  });
}

}  // namespace

void whenModalShown(std::function<void(ui::WindowRef)> work, std::function<bool(ui::WindowRef)> accept) {
  auto watch = std::make_shared<sModalWatch>(
      sModalWatch{std::move(work), std::move(accept), std::chrono::steady_clock::now() + std::chrono::seconds(30)});
  runSoon([watch] { lookForModal(watch); });
}

bool waitForJobs() {
  return waitUntil([] { return ui::runningJobs() == 0; });
}

std::string native(std::string path) {
  std::replace(path.begin(), path.end(), '/', kPreferredSeparator);
  return path;
}

void resetSettings() {
  updateSettings([](cSettings& settings) { settings = cSettings(); });
}

std::string settingsFile() { return settingsFilePath(); }

void endChildProcess(int code) {
  for (const char* variable : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"})
    if (const char* folder = std::getenv(variable)) std::filesystem::remove_all(folder);
  std::_Exit(code);
}

void writeBook(const std::filesystem::path& folder) {
  writeFile(folder / "mimetype", "application/epub+zip");
  writeFile(folder / "META-INF" / "container.xml",
            "<?xml version=\"1.0\"?>\n<container version=\"1.0\" "
            "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
            "full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>\n");
  writeFile(folder / "OEBPS" / "content.opf", kBookPackage);
  writeFile(folder / "OEBPS" / "chapter1.xhtml", bookChapter());
}

std::string bookChapter() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">"
         "<head><title>Chapter 1</title></head><body><nav epub:type=\"toc\" id=\"toc\"><ol><li>"
         "<a href=\"chapter1.xhtml#toc\">Chapter 1</a></li></ol></nav><p>" +
         std::string(5000, 'c') + "</p></body></html>\n";
}

void cGuiTest::SetUp() {
  resetSettings();
  std::filesystem::remove(settingsFile());
}

void cGuiTest::TearDown() { EXPECT_TRUE(waitForJobs()); }

void cBookGuiTest::SetUp() {
  cGuiTest::SetUp();
  writeBook(folder_.path() / "book");
}

void cMainDialogTest::SetUp() {
  cBookGuiTest::SetUp();
  writeFile(folder_.path() / "notes.txt", "not an epub");
  dialog_ = std::make_unique<ui::cDlgMain>(desktop_.services());
  ASSERT_TRUE(dialog_->create(nullptr));
}

}  // namespace plimsy::test
