// The archives of other projects' test suites (libzip's regression data,
// KArchive's autotest data): many deliberately inconsistent, encrypted or
// made with other methods. Each must be opened and described, or refused
// with one of our messages; unpacking must succeed or fail with one of our
// messages, write nothing outside the files folder and the work folder
// beside it, and leave an existing files folder untouched when it fails.
// What each archive comes to, exactly, is kept in tests/expected.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/analysis_log.h"
#include "engine/archive_messages.h"
#include "engine/unzip_job.h"
#include "engine/zip_reader.h"
#include "support/expected_outcomes.h"
#include "support/file_tree.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

using test::listTree;
using test::readTree;
using test::TempDir;

// The archives live outside the repository, in the shared folder beside the
// checkout; PLIMSY_TESTDATA_DIR names another place.
fs::path testDataFolder() {
  if (const char* dir = std::getenv("PLIMSY_TESTDATA_DIR")) return dir;
  return fs::path(PLIMSY_SOURCE_DIR) / ".." / "shared" / "testdata";
}

const fs::path kTestData = testDataFolder();

// A missing folder fails the test only when the data was promised.
bool testDataRequired() {
  const char* value = std::getenv("PLIMSY_REQUIRE_TESTDATA");
  return value != nullptr && std::string(value) == "1";
}

std::vector<fs::path> peerArchives() {
  std::vector<fs::path> archives;
  std::error_code error;
  for (const auto& item : fs::recursive_directory_iterator(kTestData, error)) {
    if (item.is_regular_file() && item.path().extension() == ".zip") archives.push_back(item.path());
  }
  std::sort(archives.begin(), archives.end());
  return archives;
}

// The archive's name in the manifests: relative to the data folder.
std::string nameOf(const fs::path& archive) { return archive.lexically_relative(kTestData).generic_string(); }

class PeerArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    archives = peerArchives();
    if (archives.empty()) {
      const fs::path folder = fs::absolute(kTestData).lexically_normal();
      if (testDataRequired())
        FAIL() << "no archives in " << folder << " (PLIMSY_TESTDATA_DIR names the folder of the peer archives)";
      GTEST_SKIP() << "no archives in " << folder;
    }
  }

  std::vector<fs::path> archives;
};

TEST_F(PeerArchives, AreOpenedAndDescribedOrRefusedWithOurMessages) {
  TempDir dir;
  test::Outcomes outcomes;
  for (const fs::path& archive : archives) {
    SCOPED_TRACE(archive.string());
    EpubWorkOrder order;
    order.ZipPath = archive.string();
    cZipReader reader;
    std::string message;
    const bool open = reader.openArchive(&message, order);
    const bool described = open && writeAnalysisLog(reader, &message, dir / "analysis.txt");
    if (!described) {
      EXPECT_TRUE(test::isArchiveMessage(message)) << message;
    }
    outcomes[nameOf(archive)] = test::readerOutcome(open, reader.cdrCount(), message);
  }
  test::expectOutcomes(test::expectedOutcomesFile("peer-archives-reader.txt"), "Peer archives, opened and analysed",
                       outcomes);
}

TEST_F(PeerArchives, UnpackOrFailWithOurMessagesAndStayInTheirFolder) {
  test::Outcomes outcomes;
  for (const fs::path& archive : archives) {
    SCOPED_TRACE(archive.string());
    for (const bool existing : {false, true}) {
      TempDir dir;
      EpubWorkOrder order;
      order.ZipPath = archive.string();
      order.FilesDir = dir / "files";
      order.BackupDir = dir / "backups";
      if (existing) test::writeFile(dir.path() / "files" / "old.txt", "old");
      std::string message;
      sStatistics statistics;
      const bool ok = unzipJob(order, &message, statistics);
      if (!existing) outcomes[nameOf(archive)] = test::unzipOutcome(ok, statistics.files, message);
      if (!ok) {
        EXPECT_TRUE(test::isArchiveMessage(message)) << message;
      }
      for (const std::string& item : listTree(dir.path())) {
        const bool inside = item.rfind("files/", 0) == 0 || item.rfind("temp1/", 0) == 0 ||
                            item.rfind("backups/back1/", 0) == 0 || item == "temp1/" || item == "backups/";
        EXPECT_TRUE(inside) << item;
      }
      if (existing) {
        // A success backs the old folder up; a failure leaves it as it was.
        const fs::path old = ok ? dir.path() / "backups" / "back1" : dir.path() / "files";
        EXPECT_EQ(readTree(old), (std::map<std::string, std::string>{{"old.txt", "old"}}));
      }
    }
  }
  test::expectOutcomes(test::expectedOutcomesFile("peer-archives-unzip.txt"), "Peer archives, unpacked", outcomes);
}

}  // namespace
}  // namespace plimsy
