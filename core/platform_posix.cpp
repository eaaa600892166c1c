// POSIX implementation of the platform layer.

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "core/platform.h"

namespace plimsy::platform {
namespace {

FileTime toFileTime(const struct timespec& ts) {
  return fileTimeFromUnix(static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec));
}

struct timespec toTimespec(FileTime time) {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
  fileTimeToUnix(time, seconds, nanoseconds);
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(nanoseconds);
  return ts;
}

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Case-insensitive order, ties by raw bytes.
bool nameLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(asciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(asciiUpper(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

FolderItem itemFromStat(std::string name, const struct stat& st, bool isSymlink) {
  FolderItem item;
  item.name = std::move(name);
  item.isSymlink = isSymlink;
  item.isFolder = S_ISDIR(st.st_mode);
  item.size = item.isFolder ? 0 : static_cast<std::uint64_t>(st.st_size);
  item.lastWrite = toFileTime(st.st_mtim);
  item.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return item;
}

}  // namespace

PathKind pathKind(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool entryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool fileIdentity(const std::string& path, FileIdentity& identity) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

bool listFolder(const std::string& folder, std::vector<FolderItem>& items) {
  items.clear();
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  const int dirFd = ::dirfd(dir);
  bool complete = true;
  for (;;) {
    errno = 0;  // readdir reports the end and an error both as nullptr
    const struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed since it was listed
      complete = false;               // e.g. a folder that can be read but not searched
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      struct stat target {};
      if (::fstatat(dirFd, entry->d_name, &target, 0) != 0) {
        FolderItem broken = itemFromStat(name, st, true);
        broken.size = 0;
        items.push_back(std::move(broken));
        continue;
      }
      items.push_back(itemFromStat(name, target, true));
    } else {
      items.push_back(itemFromStat(name, st, false));
    }
  }
  ::closedir(dir);
  if (!complete) {
    items.clear();
    return false;
  }
  std::sort(items.begin(), items.end(),
            [](const FolderItem& a, const FolderItem& b) { return nameLess(a.name, b.name); });
  return true;
}

// ---- File ----------------------------------------------------------------------

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(other.fd_), failed_(other.failed_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    failed_ = other.failed_;
    other.fd_ = -1;
  }
  return *this;
}

bool File::open(const std::string& path, Mode mode) {
  close();
  failed_ = false;
  const int flags = mode == Mode::Read ? O_RDONLY : (O_WRONLY | O_CREAT | O_TRUNC);
  do {
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0;
}

std::size_t File::read(void* buffer, std::size_t count) {
  if (fd_ < 0) {
    failed_ = true;
    return 0;
  }
  auto* out = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t n = ::read(fd_, out + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return 0;
    }
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

bool File::write(const void* data, std::size_t count) {
  if (fd_ < 0) return false;
  const auto* in = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fd_, in, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    in += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool File::seek(std::uint64_t position) {
  if (fd_ < 0 || position > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
}

std::optional<std::uint64_t> File::tell() const {
  if (fd_ < 0) return std::nullopt;
  const off_t position = ::lseek(fd_, 0, SEEK_CUR);
  if (position < 0) return std::nullopt;
  return static_cast<std::uint64_t>(position);
}

std::optional<std::uint64_t> File::size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool File::close() {
  if (fd_ < 0) return true;
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0;
}

// ---- MappedFile ------------------------------------------------------------------

MappedFile::~MappedFile() { close(); }

bool MappedFile::open(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    ::close(fd);
    return false;
  }
  void* view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = static_cast<std::uint64_t>(st.st_size);
  return true;
}

void MappedFile::close() {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), static_cast<std::size_t>(size_));
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  data_ = nullptr;
  size_ = 0;
}

void MappedFile::adviseWholeRead() const {
  if (data_ != nullptr) ::madvise(const_cast<std::uint8_t*>(data_), static_cast<std::size_t>(size_), MADV_WILLNEED);
}

bool MappedFile::copyTo(File& out, std::uint64_t offset, std::uint64_t length) const {
  if (data_ == nullptr || out.fd_ < 0 || offset > size_ || length > size_ - offset) return false;
  // Copying from file to file inside the kernel is several times faster than
  // writing from the mapping, which faults every page in first.
  auto from = static_cast<loff_t>(offset);
  while (length > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, std::uint64_t{1} << 30));
    const ssize_t copied = ::copy_file_range(fd_, &from, out.fd_, nullptr, chunk, 0);
    if (copied > 0) {
      length -= static_cast<std::uint64_t>(copied);
      continue;
    }
    if (copied < 0 && errno == EINTR) continue;
    if (copied == 0 || (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)) return false;
    // This pair of files cannot be copied inside the kernel: write from the mapping.
    return out.write(data_ + from, static_cast<std::size_t>(length));
  }
  return true;
}

// ---- Times ------------------------------------------------------------------------

FileTime currentFileTime() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return toFileTime(ts);
}

bool setFileTimes(const std::string& path, FileTime /*creation*/, FileTime access, FileTime write) {
  if (pathKind(path) == PathKind::Missing) return false;
  const struct timespec times[2] = {toTimespec(access), toTimespec(write)};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool readFileTimes(const std::string& path, FileTimes& times) {
  struct statx stx {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_ATIME | STATX_MTIME | STATX_BTIME, &stx) != 0) return false;
  auto convert = [](const struct statx_timestamp& t) {
    return fileTimeFromUnix(static_cast<std::int64_t>(t.tv_sec), t.tv_nsec);
  };
  times.access = convert(stx.stx_atime);
  times.write = convert(stx.stx_mtime);
  times.creation.reset();
  if ((stx.stx_mask & STATX_BTIME) != 0) times.creation = convert(stx.stx_btime);
  return true;
}

bool localFileTimeToUtc(FileTime local, FileTime& utc) {
  CalendarTime c;
  if (!fileTimeToCalendar(local, c)) return false;
  struct tm tm {};
  tm.tm_year = c.year - 1900;
  tm.tm_mon = c.month - 1;
  tm.tm_mday = c.day;
  tm.tm_hour = c.hour;
  tm.tm_min = c.minute;
  tm.tm_sec = c.second;
  tm.tm_isdst = -1;  // let the zone rules of that date decide
  errno = 0;
  const time_t seconds = ::mktime(&tm);
  if (seconds == static_cast<time_t>(-1) && errno != 0) return false;
  const FileTime converted = fileTimeFromUnix(static_cast<std::int64_t>(seconds), 0);
  if (converted == 0 && seconds != -kUnixEpochInFileTimeSeconds) return false;
  utc = converted + local % kFileTimeTicksPerSecond;
  return true;
}

// ---- File-system changes -----------------------------------------------------------

bool copyFileNoOverwrite(const std::string& from, const std::string& to) {
  std::error_code ec;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::none, ec) && !ec;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot rename without replacing: check first.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool renameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool removeTree(const std::string& path, std::string* reason) {
  try {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (!error) return true;
    if (reason) *reason = error.message();
    return false;
  } catch (const std::exception& error) {
    if (reason) *reason = error.what();
    return false;
  }
}

// ---- Places -------------------------------------------------------------------------

std::optional<std::string> environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace plimsy::platform
