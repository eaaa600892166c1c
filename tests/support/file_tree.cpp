#include "support/file_tree.h"

#include <cstdio>

#include "engine/crc32.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy::test {
namespace {

// A path below `root` as UTF-8 with "/" between its parts, on every system.
// (The items of a walk start with the root's own spelling, long-path prefix
// and all, which lexically_relative does not always take apart.)
std::string relativeName(const fs::path& path, const fs::path& root) {
  auto rest = path.native();
  if (rest.starts_with(root.native())) rest.erase(0, root.native().size());
  while (!rest.empty() && (rest.front() == '/' || rest.front() == fs::path::preferred_separator)) rest.erase(0, 1);
  const std::u8string name = fs::path(rest).generic_u8string();
  return std::string(name.begin(), name.end());
}

}  // namespace

std::map<std::string, std::string> readTree(const fs::path& folder) {
  const fs::path root = longPathSafe(folder);
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
    if (item.is_symlink() || !item.is_regular_file()) continue;
    files[relativeName(item.path(), root)] = readFile(item.path());
  }
  return files;
}

std::map<std::string, std::string> fingerprintTree(const fs::path& root) {
  std::map<std::string, std::string> files = readTree(root);
  for (auto& [name, content] : files) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", crc32Of(content.data(), content.size()));
    content = std::to_string(content.size()) + " bytes, CRC-32 " + crc;
  }
  return files;
}

std::set<std::string> listTree(const fs::path& folder) {
  const fs::path root = longPathSafe(folder);
  std::set<std::string> items;
  std::error_code error;
  if (!fs::exists(fs::symlink_status(root, error))) return items;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
    std::string name = relativeName(item.path(), root);
    if (item.is_symlink())
      name += "@";
    else if (item.is_directory())
      name += "/";
    items.insert(std::move(name));
  }
  return items;
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& item : fs::directory_iterator(folder))
    names.insert(relativeName(item.path(), folder));
  return names;
}

}  // namespace plimsy::test
