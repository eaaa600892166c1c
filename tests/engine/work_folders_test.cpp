#include "engine/work_folders.h"

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace plimsy {
namespace {

namespace fs = std::filesystem;

TEST(WorkFolders, TwoClaimsOfOneNameGiveItToTheFirstAlone) {
  test::TempDir dir;
  const std::string folder = dir / "work";
  EXPECT_EQ(claimFolder(folder), ClaimResult::Claimed);
  EXPECT_EQ(claimFolder(folder), ClaimResult::Taken);
  test::writeFile(dir.path() / "file", "x");
  EXPECT_EQ(claimFolder(dir / "file"), ClaimResult::Taken);
  EXPECT_EQ(claimFolder(dir / "file/below"), ClaimResult::Failed);
}

TEST(WorkFolders, TempFoldersAreNumberedPastTheTakenOnes) {
  test::TempDir dir;
  fs::create_directory(dir.path() / "temp1");
  test::writeFile(dir.path() / "temp2", "x");
  std::string folder;
  ASSERT_EQ(claimTempFolder(nullptr, dir.str(), folder), ClaimResult::Claimed);
  EXPECT_EQ(fs::path(folder), fs::path(dir / "temp3"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "temp3"));
}

TEST(WorkFolders, MadeFoldersGoAgainInnermostFirstWhileEmpty) {
  test::TempDir dir;
  const std::string deepest = dir / "a/b/c";
  const std::vector<std::string> made = missingFolders(deepest + "/");
  const std::vector<std::string> expected{deepest, dir / "a/b", dir / "a"};
  ASSERT_EQ(made.size(), expected.size());
  for (std::size_t i = 0; i < made.size(); ++i) EXPECT_EQ(fs::path(made[i]), fs::path(expected[i])) << i;
  EXPECT_TRUE(missingFolders(dir.str()).empty());

  fs::create_directories(deepest);
  test::writeFile(dir.path() / "a" / "kept", "x");
  removeMadeFolders(made);
  EXPECT_FALSE(fs::exists(dir.path() / "a" / "b"));
  EXPECT_TRUE(fs::exists(dir.path() / "a" / "kept"));
}

}  // namespace
}  // namespace plimsy
