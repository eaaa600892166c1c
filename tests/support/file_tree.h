#pragma once

// Snapshots of folder trees for tests that unpack archives: what is there,
// and what the files hold, so that two trees (or one tree before and after a
// job) can be compared in one assertion.

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace plimsy::test {

// Every regular file below `root`, by its path relative to `root` ("/"
// separated), with its bytes. Links are not followed.
std::map<std::string, std::string> readTree(const std::filesystem::path& root);

// As readTree, with each file's bytes replaced by "<size> bytes, CRC-32
// <hex>": big trees compare as briefly, and print far shorter when they differ.
std::map<std::string, std::string> fingerprintTree(const std::filesystem::path& root);

// Every item below `root`, relative and "/" separated; folders end in "/",
// symbolic links in "@". Empty when `root` does not exist.
std::set<std::string> listTree(const std::filesystem::path& root);

// The names of the items directly in `folder`.
std::set<std::string> namesIn(const std::filesystem::path& folder);

}  // namespace plimsy::test
