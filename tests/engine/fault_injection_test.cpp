// Every write, close, rename, mkdir, copy and remove that a job makes is made
// to fail in turn (and the disk made full from each write on): whatever
// fails, the old epub, the old files folder and the settings file are either
// as they were or wholly replaced by the new ones, and a zip job leaves no
// work file behind.

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "engine/archive_view.h"
#include "engine/unzip_job.h"
#include "engine/zip_job.h"
#include "support/file_tree.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"
#include "support/work_orders.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using platform::FaultOperation;
using test::readFile;
using test::readTree;
using test::TempDir;
using test::writeFile;
using Tree = std::map<std::string, std::string>;

struct sFault {
  FaultOperation operation;
  bool sticky;
  const char* label;
};

const sFault kFaults[] = {
    {FaultOperation::Write, false, "write"},      {FaultOperation::Write, true, "full disk"},
    {FaultOperation::Close, false, "close"},      {FaultOperation::Rename, false, "rename"},
    {FaultOperation::MakeFolder, false, "mkdir"}, {FaultOperation::Copy, false, "copy"},
    {FaultOperation::Remove, false, "remove"},    {FaultOperation::SetTimes, false, "set times"},
};

// Runs `attempt` once to count the operations of each kind, then once with
// each of them failing; `check` looks at the outcome after every attempt.
void sweep(const std::function<void()>& prepare, const std::function<bool()>& attempt,
           const std::function<void(bool succeeded)>& check) {
  for (const sFault& fault : kFaults) {
    prepare();
    platform::disarmFaults();
    attempt();
    const std::uint64_t total = platform::faultOperationCount(fault.operation);
    for (std::uint64_t nth = 1; nth <= total; ++nth) {
      SCOPED_TRACE(std::string(fault.label) + " " + std::to_string(nth) + " of " + std::to_string(total));
      prepare();
      platform::armFault(fault.operation, nth, fault.sticky);
      const bool succeeded = attempt();
      platform::disarmFaults();
      check(succeeded);
    }
  }
}

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    book = {{"mimetype", "application/epub+zip"},
            {"META-INF/container.xml", "<container/>"},
            {"OEBPS/big.xhtml", test::prose(1'100'000, 1)},  // streamed, its header rewritten
            {"OEBPS/cover.jpg", test::noise(40'000, 2)},
            {"OEBPS/empty.css", ""}};
    for (const auto& [name, content] : book) writeFile(dir.path() / "book" / name, content);
  }
  void TearDown() override { platform::disarmFaults(); }

  TempDir dir;
  Tree book;
};

TEST_F(FaultInjection, ZipNeverLosesTheOldEpubNorLeavesAWorkFile) {
  EpubWorkOrder order = test::zipOrder(dir / "book", dir / "out/book.epub", 1);
  order.BackupDir = dir / "backups";
  sweep(
      [&] {
        fs::remove_all(dir.path() / "out");
        fs::remove_all(dir.path() / "backups");
        writeFile(order.ZipPath, "old epub");
      },
      [&] {
        std::string message;
        sStatistics statistics;
        return zipJob(order, &message, statistics);
      },
      [&](bool succeeded) {
        EXPECT_EQ(test::namesIn(dir.path() / "out"), std::set<std::string>{"book.epub"});
        const std::string epub = readFile(order.ZipPath);
        if (epub == "old epub") {
          EXPECT_FALSE(succeeded);
          return;
        }
        const test::ArchiveView view = test::viewArchive(epub);
        ASSERT_TRUE(view.ok) << view.error;
        EXPECT_EQ(view.entries.size(), book.size());
        EXPECT_EQ(readFile(dir.path() / "backups" / "back1.zip"), "old epub");
      });
}

TEST_F(FaultInjection, UnzipNeverLosesTheOldFolder) {
  std::string message;
  ASSERT_TRUE(test::zipFolder(dir.path() / "book", dir.path() / "book.epub", 9, message)) << message;
  const Tree old = {{"old.xhtml", "old text"}, {"sub/old.css", "old style"}};
  EpubWorkOrder order = test::unzipOrder(dir / "book.epub", dir / "files");
  order.BackupDir = dir / "backups";
  sweep(
      [&] {
        for (const char* folder : {"files", "backups", "temp1", "old1"}) fs::remove_all(dir.path() / folder);
        for (const auto& [name, content] : old) writeFile(dir.path() / "files" / name, content);
      },
      [&] {
        sStatistics statistics;
        return unzipJob(order, &message, statistics);
      },
      [&](bool succeeded) {
        const Tree files = readTree(dir.path() / "files");
        if (files == old) {
          EXPECT_FALSE(succeeded);
          return;
        }
        EXPECT_EQ(files, book);
        if (succeeded) {
          EXPECT_EQ(readTree(dir.path() / "backups" / "back1"), old);
        }
      });
}

TEST_F(FaultInjection, SettingsSaveLeavesTheOldFileOrTheNewOneWhole) {
  const std::string path = dir / "config/settings.xml";
  cSettings before;
  before.workOrder.ZipPath = "/books/old.epub";
  cSettings after;
  after.workOrder.ZipPath = "/books/new.epub";
  ASSERT_TRUE(writeSettingsFile(before, path));
  const std::string oldBytes = readFile(path);
  ASSERT_TRUE(writeSettingsFile(after, path));
  const std::string newBytes = readFile(path);
  sweep([&] { writeSettingsFile(before, path); }, [&] { return writeSettingsFile(after, path); },
        [&](bool succeeded) {
          const std::string bytes = readFile(path);
          EXPECT_TRUE(bytes == oldBytes || bytes == newBytes);
          EXPECT_EQ(bytes == newBytes, succeeded);
          EXPECT_EQ(test::namesIn(dir.path() / "config"), std::set<std::string>{"settings.xml"});
        });
}

}  // namespace
}  // namespace plimsy
