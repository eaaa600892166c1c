#pragma once

// Things in the file system that only some systems have, for tests that show
// how a job meets them: pipes and sockets (POSIX), files held open without
// sharing (Windows). Where a system has no such thing the maker fails and the
// test skips.

#include <filesystem>
#include <memory>

namespace plimsy::test {

// A named pipe (FIFO) at `path`, its folder made first.
bool makePipe(const std::filesystem::path& path);
// A bound Unix-domain socket at `path`, its folder made first.
bool makeSocket(const std::filesystem::path& path);

// A symbolic link at `link` to `target` (a folder link when `toFolder`).
// False where links cannot be made: Wine has none, and Windows gives them
// only to administrators and developers.
inline bool makeLink(const std::filesystem::path& target, const std::filesystem::path& link, bool toFolder = false) {
  std::error_code error;
  if (toFolder)
    std::filesystem::create_directory_symlink(target, link, error);
  else
    std::filesystem::create_symlink(target, link, error);
  return !error;
}
inline constexpr const char* kNoLinks = "symbolic links cannot be made here";

// A file held open by someone else who shares it with nobody, as a reading
// program may hold an epub on Windows; released when the object goes.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
};
// nullptr when the file cannot be held so (on POSIX: files have no sharing modes).
std::unique_ptr<HeldFile> holdWithoutSharing(const std::filesystem::path& path);

}  // namespace plimsy::test
