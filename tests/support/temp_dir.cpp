#include "support/temp_dir.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "core/paths.h"

namespace fs = std::filesystem;

namespace plimsy::test {

TempDir::TempDir() {
  std::random_device rd;
  std::mt19937_64 gen(rd());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("plimsy-test-" + std::to_string(gen()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(longPathSafe(path_), ec);
}

fs::path longPathSafe(const fs::path& path) {
  if constexpr (!kWindowsNameRules) return path;
  const std::wstring text = fs::path(path).make_preferred().wstring();
  if (text.starts_with(L"\\\\?\\") || !path.is_absolute()) return path;
  if (text.starts_with(L"\\\\")) return fs::path(L"\\\\?\\UNC\\" + text.substr(2));
  return fs::path(L"\\\\?\\" + text);
}

std::string TempDir::str() const { return utf8FromPath(path_) + kPreferredSeparator; }

std::string TempDir::operator/(std::string_view relative) const {
  return utf8FromPath((path_ / pathFromUtf8(relative)).make_preferred());
}

void writeFile(const fs::path& path, std::string_view bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + utf8FromPath(path));
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + utf8FromPath(path));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace plimsy::test
