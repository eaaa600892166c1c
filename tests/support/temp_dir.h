#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace plimsy::test {

// A fresh folder below the system's temporary folder, removed with everything
// in it when the object goes out of scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as a UTF-8 string with a trailing separator.
  std::string str() const;
  // `relative` below the folder, as a UTF-8 string with the system's own
  // separators ("a/b" is "a\\b" on Windows).
  std::string operator/(std::string_view relative) const;

 private:
  std::filesystem::path path_;
};

// The path as the standard library must be given it to reach deep trees: on
// Windows an absolute path gets the long-path prefix \\?\ (the library does
// not add it, and stops at 260 characters without it); elsewhere unchanged.
std::filesystem::path longPathSafe(const std::filesystem::path& path);

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);

}  // namespace plimsy::test
