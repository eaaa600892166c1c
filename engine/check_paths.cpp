#include "engine/check_paths.h"

#include "core/message.h"
#include "core/paths.h"

namespace plimsy {
namespace {

constexpr std::uint32_t kHighestLevel = 9;

// These checks are the job's own: the path they concern follows, with no
// reason from the system.
std::string named(std::string_view text, const std::string& path) { return withPathAndReason(text, path, ""); }

bool checkAbsolute(const EpubWorkOrder& order, std::string* message) {
  bool zipAbsolute = false;
  bool filesAbsolute = false;
  if (!isAbsolutePath(nullptr, order.ZipPath, zipAbsolute) || !isAbsolutePath(nullptr, order.FilesDir, filesAbsolute))
    return fail(message, "Unable to ascertain whether zip path and files directory path are absolute.");
  if (!zipAbsolute) return fail(message, named("Zip file path is not absolute.", order.ZipPath));
  if (!filesAbsolute) return fail(message, named("Files directory path is not absolute.", order.FilesDir));
  return true;
}

bool checkSourceKind(const EpubWorkOrder& order, std::string* message) {
  if (order.DoWhat == kDoWhatZip) {
    switch (pathKind(order.FilesDir)) {
      case PathKind::Missing: return fail(message, named("Files folder does not exist.", order.FilesDir));
      case PathKind::File: return fail(message, named("Files folder is not a directory.", order.FilesDir));
      case PathKind::Folder: break;
    }
  }
  if (order.DoWhat == kDoWhatUnzip) {
    switch (pathKind(order.ZipPath)) {
      case PathKind::Missing: return fail(message, named("Zip file does not exist.", order.ZipPath));
      case PathKind::Folder: return fail(message, named("Zip file is a directory.", order.ZipPath));
      case PathKind::File: break;
    }
  }
  return true;
}

}  // namespace

bool checkPaths(EpubWorkOrder& order, std::string* message) {
  // Taken as unsigned, so a level of -1 fails like 10.
  if (order.CompressionLevel > kHighestLevel)
    return fail(message, "Compression level must be between 0 and 9 inclusive.");
  if (order.ZipPath.empty()) return fail(message, "Missing zip file.");
  if (order.FilesDir.empty()) return fail(message, "Missing files folder.");
  if (!checkAbsolute(order, message) || !checkSourceKind(order, message)) return false;
  bool inTree = false;
  if (!isInDirectoryTree(message, order.ZipPath, order.FilesDir, inTree)) return false;
  if (inTree) return fail(message, named("Zip file is in files directory tree.", order.ZipPath));
  order.FilesDir = withTrailingSeparator(order.FilesDir);
  return true;
}

}  // namespace plimsy
