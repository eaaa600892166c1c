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

// A file held open by someone else who shares it with nobody, as a reading
// program may hold an epub on Windows; released when the object goes.
class HeldFile {
 public:
  virtual ~HeldFile() = default;
};
// nullptr when the file cannot be held so (on POSIX: files have no sharing modes).
std::unique_ptr<HeldFile> holdWithoutSharing(const std::filesystem::path& path);

}  // namespace plimsy::test
