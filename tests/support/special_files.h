#pragma once

// Things in the file system that are not files or folders, for tests that
// show they are refused. Windows has none of these in its folders: the
// makers return false there and the tests skip.

#include <filesystem>

namespace plimsy::test {

// A named pipe (FIFO) at `path`, its folder made first.
bool makePipe(const std::filesystem::path& path);
// A bound Unix-domain socket at `path`, its folder made first.
bool makeSocket(const std::filesystem::path& path);

}  // namespace plimsy::test
