// Check and Repair in the window: the Check button's request, the result
// dialog (summary, findings, copy, Repair when a repack mends every error),
// the repair in place with the options' backup rules, and the line a zip's
// success message gets when the new epub has errors.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/settings.h"
#include "engine/book_check.h"
#include "engine/findings_text.h"
#include "engine/zip_job.h"
#include "gui_test_support.h"
#include "support/file_tree.h"
#include "support/sample_data.h"
#include "support/zip_builder.h"
#include "ui/check_job.h"
#include "ui/clipboard.h"
#include "ui/control_ids.h"
#include "ui/dlg_check.h"
#include "ui/dlg_main.h"
#include "ui/job_runner.h"
#include "window_driver.h"

namespace plimsy::ui {
namespace {

namespace fs = std::filesystem;

sFinding error(const char* code, const char* entry, const char* message) {
  return {code, eSeverity::Error, entry, message};
}
sFinding warning(const char* code, const char* entry, const char* message) {
  return {code, eSeverity::Warning, entry, message};
}

TEST(CheckView, SummaryFindingsCopyAndTheRepairOffer) {
  const struct {
    const char* label;
    std::vector<sFinding> findings;
    bool repaired;
    std::string summary;
    std::string findingsText;
    bool repairOffered;
  } cases[] = {
      {"nothing found", {}, false, "No problems found.", "", false},
      {"a warning alone",
       {warning("PKG-010", "a b.xhtml", "Spaces.")},
       false,
       "0 errors, 1 warning",
       "PKG-010 warning a b.xhtml: Spaces.\n",
       false},
      {"a fault repack mends",
       {error("PKG-007", "mimetype", "Compressed."), warning("PKG-010", "a b.xhtml", "Spaces.")},
       false,
       "1 error, 1 warning",
       "PKG-007 error mimetype: Compressed.\nPKG-010 warning a b.xhtml: Spaces.\n",
       true},
      {"one it does not mend beside it",
       {error("PKG-006", "mimetype", "None."), error("RSC-002", "META-INF/container.xml", "Missing."),
        error("OPF-030", "OEBPS/content.opf", "No identifier.")},
       false,
       "3 errors, 0 warnings",
       "PKG-006 error mimetype: None.\nRSC-002 error META-INF/container.xml: Missing.\n"
       "OPF-030 error OEBPS/content.opf: No identifier.\n",
       false},
      {"a message of two lines stays on its line",
       {error("RSC-016", "", "Line 1\nLine 2")},
       false,
       "1 error, 0 warnings",
       "RSC-016 error: Line 1\\x0ALine 2\n",
       false},
      {"after a repair", {}, true, std::string(kRepairedNote) + "\nNo problems found.", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const sCheckView view = checkView(test::native("/books/The Book.epub"), c.findings, c.repaired);
    EXPECT_EQ(view.title, "Check: The Book.epub");
    EXPECT_EQ(view.summary, c.summary);
    EXPECT_EQ(view.findings, c.findingsText);
    // What plimsy-cli check prints: the findings, then the count.
    EXPECT_EQ(view.copyText, c.findingsText + findingsSummary(c.findings) + "\n");
    EXPECT_EQ(view.repairOffered, c.repairOffered);
  }
}

TEST(CheckFoundLine, CountsErrorsInWords) {
  const std::pair<std::size_t, std::string> cases[] = {
      {0, ""},
      {1, "Check found 1 error in this book: click Check to see them."},
      {2, "Check found 2 errors in this book: click Check to see them."},
      {1234, "Check found 1234 errors in this book: click Check to see them."},
  };
  for (const auto& [errors, line] : cases) EXPECT_EQ(checkFoundLine(errors), line) << errors;
}

// The whole book folder as an archive plan, in name order, every file
// deflated; `mimetypeStored` false deflates mimetype too.
test::ArchivePlan planOfFolder(const fs::path& folder, bool mimetypeStored) {
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(folder))
    if (item.is_regular_file()) names.push_back(fs::relative(item.path(), folder).generic_string());
  std::sort(names.begin(), names.end());
  test::ArchivePlan plan;
  for (const std::string& name : names) {
    const std::string data = test::readFile(folder / pathFromUtf8(name));
    if (name == "mimetype" && mimetypeStored)
      plan.entries.insert(plan.entries.begin(), test::storedEntry(name, data));
    else if (name == "mimetype")
      plan.entries.insert(plan.entries.begin(), test::deflatedEntry(name, data));
    else
      plan.entries.push_back(test::deflatedEntry(name, data));
  }
  return plan;
}

// What the result dialog showed.
struct sShownResult {
  std::string title;
  std::string summary;
  std::string findings;
  bool repairShown = false;
  bool modal = false;
  bool closeHasFocus = false;
  std::string copied;
  std::string findingsName;
  std::string repairHint;
};

class Check : public test::cBookGuiTest {
 protected:
  void SetUp() override {
    cBookGuiTest::SetUp();
    epub_ = folder_ / "book.epub";
    updateSettings([](cSettings& s) { s.OpenFinishedWork = false; });
    dialog_ = std::make_unique<cDlgMain>(desktop_.services());
    ASSERT_TRUE(dialog_->create(nullptr));
  }

  cWin control(int id) const { return cWin(dialog_->control(id)); }
  bool jobButtonsEnabled() const {
    return control(main_ids::kZip).isEnabled() && control(main_ids::kUnzip).isEnabled() &&
           control(main_ids::kAnalyze).isEnabled() && control(main_ids::kCheck).isEnabled();
  }

  // When the next result dialog is up (one shown after a repair when
  // `repaired`): records it, copies its findings, then presses `button`
  // (kRepair, kClose) or Escape (0). With `then`, the result that follows
  // (after a repair) is looked for before the button is pressed, since it may
  // come up before the press returns.
  static void answerResult(sShownResult& shown, int button, bool repaired = false, sShownResult* then = nullptr) {
    using namespace check_ids;
    const auto isRepaired = [](WindowRef modal) {
      return cWin(test::dialogControl(modal, kSummary)).text().rfind(kRepairedNote, 0) == 0;
    };
    const auto accept = [repaired, isRepaired](WindowRef modal) { return isRepaired(modal) == repaired; };
    test::whenModalShown(
        [&shown, button, then](WindowRef modal) {
          const auto part = [modal](int id) { return cWin(test::dialogControl(modal, id)); };
          shown.title = cWin(modal).text();
          shown.summary = part(kSummary).text();
          shown.findings = part(kFindings).text();
          shown.repairShown = test::isShown(part(kRepair).window());
          shown.modal = test::isModal(modal);
          shown.findingsName = test::accessibleName(part(kFindings).window());
          shown.repairHint = test::toolTip(part(kRepair).window());
          copyToClipboard("before");
          test::clickControl(part(kCopy).window());
          shown.copied = test::clipboardText();
          if (then) answerResult(*then, kClose, true);
          if (button == 0)
            test::pressKey(modal, test::eKey::Escape);
          else
            test::clickControl(part(button).window());
        },
        accept);
  }

  void clickCheck() {
    control(main_ids::kEpubLine).setText(epub_);
    test::clickControl(dialog_->control(main_ids::kCheck));
  }

  std::string epub_;
  std::unique_ptr<cDlgMain> dialog_;
};

TEST_F(Check, AnEpubLineThatNamesNoEpubIsRefusedAsUnzipRefusesIt) {
  test::writeFile(folder_ / "notes.txt", "notes");
  const std::pair<std::string, std::string> cases[] = {
      {"", "Please specify the epub that you want to check."},
      {"book.epub",
       "You specified an epub path that isn't absolute. To avoid this problem, use the button with three dots."},
      {folder_ / "gone.epub", "You specified an epub file that doesn't exist."},
      {folder_ / "book", "You specified an epub file that isn't a file (it's a folder)."},
  };
  for (const auto& [line, refusal] : cases) {
    SCOPED_TRACE(line);
    desktop_.presenter.messages.clear();
    bool enabledAtMessage = false;
    desktop_.presenter.duringMessage = [&] { enabledAtMessage = jobButtonsEnabled(); };
    control(main_ids::kEpubLine).setText(line);
    test::clickControl(dialog_->control(main_ids::kCheck));
    ASSERT_TRUE(test::waitForJobs());
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, refusal);
    EXPECT_EQ(messages()[0].icon, eIcon::Warning);
    EXPECT_TRUE(enabledAtMessage);
  }
}

TEST_F(Check, ASoundEpubHasNoProblemsAndNoRepair) {
  EpubWorkOrder order;
  order.FilesDir = folder_ / "book/";
  order.ZipPath = epub_;
  std::string message;
  sStatistics statistics;
  ASSERT_TRUE(zipJob(order, &message, statistics)) << message;
  const std::string before = test::readFile(epub_);

  sShownResult shown;
  answerResult(shown, 0);
  clickCheck();
  ASSERT_TRUE(test::waitForJobs());
  EXPECT_EQ(shown.title, "Check: book.epub");
  EXPECT_EQ(shown.summary, "No problems found.");
  EXPECT_EQ(shown.findings, "");
  EXPECT_FALSE(shown.repairShown);
  EXPECT_TRUE(shown.modal);
  EXPECT_EQ(shown.copied, "0 errors, 0 warnings\n");
  EXPECT_EQ(shown.findingsName, "Findings");
  EXPECT_TRUE(messages().empty());
  EXPECT_EQ(test::readFile(epub_), before);
  EXPECT_TRUE(jobButtonsEnabled());
  EXPECT_TRUE(control(main_ids::kCheck).isVisible());
}

// A book whose mimetype was deflated: Repair repacks it in place, backed up
// as the options say, and the check that follows finds nothing.
TEST_F(Check, RepairRepacksInPlaceWithTheOptionsBackupsAndChecksAgain) {
  const fs::path backups = folder_ / "backups";
  const struct {
    const char* label;
    bool save;
    bool inFolder;
    fs::path backupFolder;  // where the old epub must be afterwards; empty: nowhere
  } cases[] = {
      {"no backups", false, false, {}},
      {"beside the epub", true, false, folder_.path()},
      {"in the folder I specify", true, true, backups},
  };
  const std::string broken = test::buildArchive(planOfFolder(folder_ / "book", false));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(backups);
    for (const auto& item : fs::directory_iterator(folder_.path()))
      if (item.is_regular_file()) fs::remove(item.path());
    test::writeFile(epub_, broken);
    updateSettings([&](cSettings& s) {
      s.SaveBackups = c.save;
      s.PutBackupsInOriginalLocation = !c.inFolder;
      s.UseSpecifiedBackupFolder = c.inFolder;
      s.workOrder.BackupDir = c.inFolder ? backups.string() : "";
    });
    sShownResult first;
    sShownResult second;
    answerResult(first, check_ids::kRepair, false, &second);
    clickCheck();
    ASSERT_TRUE(test::waitForJobs());

    EXPECT_EQ(first.summary, "1 error, 0 warnings");
    EXPECT_EQ(first.findings.rfind("PKG-007 error mimetype: mimetype is compressed", 0), 0u) << first.findings;
    EXPECT_TRUE(first.repairShown);
    EXPECT_EQ(first.repairHint, "Repack the epub in place, then check it again");
    EXPECT_EQ(second.summary, std::string(kRepairedNote) + "\nNo problems found.");
    EXPECT_FALSE(second.repairShown);
    EXPECT_TRUE(messages().empty()) << messages().front().text;
    EXPECT_TRUE(checkBook(epub_).empty());

    // The old epub, byte for byte, where the options put backups; nothing else left.
    std::vector<fs::path> copies;
    for (const fs::path& place : {folder_.path(), backups})
      if (fs::exists(place))
        for (const auto& item : fs::directory_iterator(place))
          if (item.is_regular_file() && item.path() != fs::path(epub_) && test::readFile(item.path()) == broken)
            copies.push_back(item.path());
    if (c.backupFolder.empty()) {
      EXPECT_TRUE(copies.empty());
    } else {
      ASSERT_EQ(copies.size(), 1u);
      EXPECT_EQ(copies[0].parent_path(), c.backupFolder);
    }
    EXPECT_TRUE(jobButtonsEnabled());
  }
}

TEST_F(Check, ARepairThatCannotBackUpSaysWhyAndLeavesTheEpub) {
  const std::string broken = test::buildArchive(planOfFolder(folder_ / "book", false));
  test::writeFile(epub_, broken);
  updateSettings([](cSettings& s) {
    s.SaveBackups = true;
    s.PutBackupsInOriginalLocation = false;
    s.UseSpecifiedBackupFolder = true;
    s.workOrder.BackupDir.clear();
  });
  sShownResult shown;
  answerResult(shown, check_ids::kRepair);
  clickCheck();
  ASSERT_TRUE(test::waitForJobs());
  EXPECT_TRUE(shown.repairShown);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text,
            "You instructed Plimsy to use your specified backup directory but you didn't specify one.");
  EXPECT_EQ(test::readFile(epub_), broken);
  EXPECT_TRUE(jobButtonsEnabled());
}

// A zip whose epub would fail its check says so in its success message.
TEST_F(Check, TheZipSuccessMessageSaysHowManyErrorsTheNewEpubHas) {
  const fs::path container = folder_.path() / "book" / "META-INF" / "container.xml";
  const struct {
    const char* label;
    std::function<void()> change;
    bool errors;
  } cases[] = {
      {"a sound book", [] {}, false},
      {"container.xml that is not well-formed", [&] { test::writeFile(container, "<container"); }, true},
      {"no container.xml", [&] { fs::remove(container); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    desktop_.presenter.messages.clear();
    fs::remove(epub_);
    c.change();
    control(main_ids::kFilesLine).setText(folder_ / "book/");
    control(main_ids::kEpubLine).setText(epub_);
    test::clickControl(dialog_->control(main_ids::kZip));
    ASSERT_TRUE(test::waitForJobs());
    ASSERT_EQ(messages().size(), 1u);
    const std::string& text = messages()[0].text;
    EXPECT_EQ(text.rfind("Success! You successfully zipped your files.\n\n", 0), 0u) << text;
    const std::size_t errors = countFindings(checkBook(epub_), eSeverity::Error);
    EXPECT_EQ(errors > 0, c.errors);
    if (c.errors) {
      const std::string line = "\n\n" + checkFoundLine(errors);
      ASSERT_GT(text.size(), line.size());
      EXPECT_EQ(text.substr(text.size() - line.size()), line) << text;
    } else {
      EXPECT_EQ(text.find("Check found"), std::string::npos) << text;
    }
  }
  // Without the success message there is nothing to add the line to.
  updateSettings([](cSettings& s) { s.ShowSuccessMessage = false; });
  desktop_.presenter.messages.clear();
  test::clickControl(dialog_->control(main_ids::kZip));
  ASSERT_TRUE(test::waitForJobs());
  EXPECT_TRUE(messages().empty());
}

// The result dialog on its own: Enter and Escape close it, Repair ends it
// only when it is offered.
TEST_F(Check, TheResultDialogEndsWithRepairOnlyWhenOffered) {
  const struct {
    bool offered;
    int pressed;  // a command sent to the dialog; 0: Escape
    std::optional<int> result;
  } cases[] = {
      {true, check_ids::kRepair, check_ids::kRepair},
      {false, check_ids::kRepair, std::nullopt},
      {true, 0, check_ids::kClose},
      {true, kIdOk, check_ids::kClose},
      {false, check_ids::kClose, check_ids::kClose},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pressed);
    sCheckView view;
    view.title = "Check: x.epub";
    view.repairOffered = c.offered;
    cDlgCheckResult result(view);
    ASSERT_TRUE(result.createModal(dialog_->dialogWindow()));
    EXPECT_EQ(cWin(result.control(check_ids::kRepair)).isVisible(), c.offered);
    EXPECT_TRUE(test::isDefaultButton(result.control(check_ids::kClose)));
    if (c.pressed == 0)
      test::pressKey(result.dialogWindow(), test::eKey::Escape);
    else
      result.sendCommand(c.pressed);
    EXPECT_EQ(result.result(), c.result);
    if (!result.result()) result.endDialog(check_ids::kClose);
  }
}

}  // namespace
}  // namespace plimsy::ui
