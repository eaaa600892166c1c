// POSIX implementation of the platform layer.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "core/mapping_guards.h"
#include "core/platform.h"
#include "core/platform_internal.h"

namespace plimsy::platform {
namespace {

// What a copy takes over of a file's or folder's mode: read, write and
// execute for owner, group and others, and the set-id and sticky bits.
constexpr mode_t kPermissionBits = 07777;

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

int fdOf(NativeHandle handle) { return static_cast<int>(handle); }

bool isSpecialMode(mode_t mode) { return !S_ISDIR(mode) && !S_ISREG(mode); }

FolderItem itemFromStat(std::string name, const struct stat& st, bool isSymlink) {
  FolderItem item;
  item.name = std::move(name);
  item.isSymlink = isSymlink;
  item.isFolder = S_ISDIR(st.st_mode);
  item.isSpecial = isSpecialMode(st.st_mode);
  item.size = item.isFolder ? 0 : static_cast<std::uint64_t>(st.st_size);
  item.lastWrite = toFileTime(st.st_mtim);
  item.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return item;
}

// Records `error` as the reason the operation on `path` failed; false.
bool failedAt(const std::string& path, int error) {
  detail::recordFailure(static_cast<std::uint32_t>(error), path);
  return false;
}

// Counts one operation; true (with errno set) when it is to fail.
bool injectedFailure(FaultOperation operation) {
  switch (detail::injectedFault(operation)) {
    case detail::InjectedFault::None: return false;
    case detail::InjectedFault::Failure: errno = EIO; return true;
    case detail::InjectedFault::DiskFull: errno = ENOSPC; return true;
  }
  return false;
}

// ---- Mappings whose lost pages read as zeros -------------------------------------

// A file that is shortened while it is mapped makes every read of a page past
// its new end raise SIGBUS, which would end the process. The handler looks the
// faulting address up among the guarded mappings and puts a page of zeros in
// place of the lost one; the mapping is marked damaged and its reader fails
// with a clear message once it asks. Faults elsewhere go to whoever handled
// SIGBUS before (or end the process as they always did).
std::uintptr_t pageSize = 4096;
struct sigaction previousBusAction {};
std::atomic<bool> zeroPagesFail{false};  // a test's stand-in for a system with no room for one more mapping

// Puts zeros where the lost page was: the page alone, or, when the system
// cannot split the file's mapping for it (each piece is one more mapping, and
// their number is limited), the whole range, which takes no new one. The
// reader fails either way; false only when neither can be placed.
bool placeZeros(detail::sGuardSlot& slot, std::uintptr_t address) {
  constexpr int kFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED;
  void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
  if (!zeroPagesFail.load() && ::mmap(page, pageSize, PROT_READ, kFlags, -1, 0) != MAP_FAILED) return true;
  const std::uintptr_t start = slot.start.load();
  const std::uintptr_t end = slot.end.load();
  if (start == 0 || end <= start) return false;
  const std::uintptr_t length = (end - start + pageSize - 1) & ~(pageSize - 1);
  if (::mmap(reinterpret_cast<void*>(start), length, PROT_READ, kFlags, -1, 0) == MAP_FAILED) return false;
  slot.replaced = true;
  return true;
}

void onBusError(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (detail::sGuardSlot* slot = detail::guardedRanges().find(address)) {
    slot->damaged = true;
    if (placeZeros(*slot, address)) {
      errno = savedErrno;
      return;  // the read is repeated and finds zeros
    }
  }
  if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction != nullptr) {
    previousBusAction.sa_sigaction(signal, info, context);
    return;
  }
  if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN &&
      previousBusAction.sa_handler != nullptr) {
    previousBusAction.sa_handler(signal);
    return;
  }
  // Not ours: the default action, when the read is repeated.
  ::signal(SIGBUS, SIG_DFL);
}

void installBusHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBusAction);
  });
}

// ---- Requests to stop --------------------------------------------------------------

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};
std::atomic<int> stopSignal{0};
int stopPipe[2] = {-1, -1};

// Only what a signal handler may do: note the signal, give the stop signals
// back their default action (a second one ends the program at once), and wake
// the watcher through the pipe.
void onStopSignal(int signal) {
  const int savedErrno = errno;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  int none = 0;
  if (!stopSignal.compare_exchange_strong(none, signal)) {
    // A second one on another thread, before the first was through: ends the
    // program when this handler returns.
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
    errno = savedErrno;
    return;
  }
  for (const int each : kStopSignals) {
    struct sigaction now {};
    if (::sigaction(each, nullptr, &now) == 0 && now.sa_handler == onStopSignal) ::sigaction(each, &fallback, nullptr);
  }
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &byte, 1);
  errno = savedErrno;
}

// Opens without waiting: a pipe would otherwise block the open until a writer
// (or reader) comes. Once open, anything but a regular file is refused. The
// flag stays: it means nothing for regular files.
int openRegular(const std::string& path, int flags, File::OpenFailure& failure) {
  failure = File::OpenFailure::None;
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // ENXIO: a pipe that nobody reads, opened for writing.
    failure = errno == EEXIST  ? File::OpenFailure::Exists
              : errno == ENXIO ? File::OpenFailure::NotRegular
                               : File::OpenFailure::Other;
    failedAt(path, errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = st.st_mode == 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    failure = isSpecialMode(st.st_mode) ? File::OpenFailure::NotRegular : File::OpenFailure::Other;
    // A folder opens for reading: the system would refuse it only when it is read.
    failedAt(path, error);
    ::close(fd);
    return -1;
  }
  return fd;
}

// A new regular file made by this call: nothing else can be behind the
// descriptor, so it needs no fstat. Exists when the name is taken (by
// anything, a link included: O_EXCL never follows one).
int createFresh(const std::string& path, File::OpenFailure& failure) {
  failure = File::OpenFailure::None;
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    failure = errno == EEXIST ? File::OpenFailure::Exists : File::OpenFailure::Other;
    failedAt(path, errno);
  }
  return fd;
}

std::string systemText(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace

std::string systemErrorText(std::uint32_t code) { return systemText(static_cast<int>(code)); }

PathKind pathKind(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
}

bool entryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

bool isSpecialFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && isSpecialMode(st.st_mode);
}

bool fileIdentity(const std::string& path, FileIdentity& identity) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

namespace {

// Hands `take` every item of a folder but "." and ".." (the folder's
// descriptor and its entry); `take` returns false when the item cannot be
// examined. False when the folder cannot be read whole.
template <typename Take>
bool readFolder(const std::string& folder, Take take) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool complete = true;
  for (;;) {
    errno = 0;  // readdir reports the end and an error both as nullptr
    const struct dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!take(::dirfd(dir), *entry)) {
      complete = false;
      break;
    }
  }
  ::closedir(dir);
  return complete;
}

// An item's own kind (links not followed); false when it cannot be read,
// with `gone` set when it was removed since it was listed.
bool statItem(int dirFd, const char* name, struct stat& st, bool& gone) {
  gone = false;
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
  gone = errno == ENOENT;
  return false;
}

}  // namespace

bool detail::listFolderItems(const std::string& folder, std::vector<FolderItem>& items) {
  items.clear();
  const bool complete = readFolder(folder, [&](int dirFd, const struct dirent& entry) {
    struct stat st {};
    bool gone = false;
    // A folder that can be read but not searched cannot be examined.
    if (!statItem(dirFd, entry.d_name, st, gone)) return gone;
    if (!S_ISLNK(st.st_mode)) {
      items.push_back(itemFromStat(entry.d_name, st, false));
      return true;
    }
    struct stat target {};
    if (::fstatat(dirFd, entry.d_name, &target, 0) == 0) {
      items.push_back(itemFromStat(entry.d_name, target, true));
      return true;
    }
    FolderItem broken = itemFromStat(entry.d_name, st, true);
    broken.size = 0;
    broken.isSpecial = false;  // a file of nothing, not a device: opening it finds nothing
    items.push_back(std::move(broken));
    return true;
  });
  if (!complete) items.clear();
  return complete;
}

// The kind comes with the name on most file systems; the others say
// DT_UNKNOWN and are asked.
bool detail::listSubfolderNames(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  const bool complete = readFolder(folder, [&](int dirFd, const struct dirent& entry) {
    if (entry.d_type != DT_DIR && entry.d_type != DT_UNKNOWN) return true;
    if (entry.d_type == DT_UNKNOWN) {
      struct stat st {};
      bool gone = false;
      if (!statItem(dirFd, entry.d_name, st, gone)) return gone;
      if (!S_ISDIR(st.st_mode)) return true;
    }
    names.emplace_back(entry.d_name);
    return true;
  });
  if (!complete) names.clear();
  return complete;
}

// ---- File ----------------------------------------------------------------------

bool File::open(const std::string& path, Mode mode) {
  close();
  failed_ = false;
  writable_ = mode != Mode::Read;
  if (mode == Mode::WriteFresh) {
    handle_ = createFresh(path, openFailure_);
    if (handle_ != kNoHandle || openFailure_ != OpenFailure::Exists) return handle_ != kNoHandle;
  }
  int flags = O_RDONLY;
  if (mode == Mode::WriteTruncate) flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (mode == Mode::WriteOver) flags = O_WRONLY | O_CREAT;
  if (mode == Mode::WriteFresh) flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;
  if (mode == Mode::CreateNew) flags = O_WRONLY | O_CREAT | O_EXCL;
  handle_ = openRegular(path, flags, openFailure_);
  return handle_ != kNoHandle;
}

std::size_t File::read(void* buffer, std::size_t count) {
  if (handle_ == kNoHandle) {
    failed_ = true;
    return 0;
  }
  auto* out = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < count) {
    const ssize_t n = ::read(fdOf(handle_), out + total, count - total);
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

// A failed write, close or setting of times records the system's reason with
// no path (the file does not know its own): the caller names the file.
bool File::write(const void* data, std::size_t count) {
  if (handle_ == kNoHandle) return failedAt("", EBADF);
  if (injectedFailure(FaultOperation::Write)) return failedAt("", errno);
  const auto* in = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::write(fdOf(handle_), in, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failedAt("", errno);
    }
    if (n == 0) return failedAt("", ENOSPC);
    in += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool File::seek(std::uint64_t position) {
  if (handle_ == kNoHandle || position > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::lseek(fdOf(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool File::endHere() {
  if (handle_ == kNoHandle) return false;
  const off_t position = ::lseek(fdOf(handle_), 0, SEEK_CUR);
  return position >= 0 && ::ftruncate(fdOf(handle_), position) == 0;
}

std::optional<std::uint64_t> File::tell() const {
  if (handle_ == kNoHandle) return std::nullopt;
  const off_t position = ::lseek(fdOf(handle_), 0, SEEK_CUR);
  if (position < 0) return std::nullopt;
  return static_cast<std::uint64_t>(position);
}

std::optional<std::uint64_t> File::size() const {
  struct stat st {};
  if (handle_ == kNoHandle || ::fstat(fdOf(handle_), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

bool File::setTimes(FileTime /*creation*/, FileTime access, FileTime write) {
  if (handle_ == kNoHandle || !writable_) return failedAt("", EBADF);
  if (injectedFailure(FaultOperation::SetTimes)) return failedAt("", errno);
  const struct timespec times[2] = {toTimespec(access), toTimespec(write)};
  return ::futimens(fdOf(handle_), times) == 0 || failedAt("", errno);
}

bool File::copyPermissionsFrom(const std::string& path) {
  struct stat st {};
  if (handle_ == kNoHandle || ::stat(path.c_str(), &st) != 0) return false;
  return ::fchmod(fdOf(handle_), st.st_mode & kPermissionBits) == 0;
}

bool File::close() {
  if (handle_ == kNoHandle) return true;
  const bool injected = writable_ && injectedFailure(FaultOperation::Close);
  const int error = errno;
  const int result = ::close(fdOf(handle_));
  handle_ = kNoHandle;
  if (injected) return failedAt("", error);
  return result == 0 || failedAt("", errno);
}

// ---- MappedFile ------------------------------------------------------------------

bool MappedFile::open(const std::string& path) {
  close();
  File::OpenFailure failure = File::OpenFailure::None;
  const int fd = openRegular(path, O_RDONLY, failure);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
    // An empty file cannot be mapped; the system's reason (a length of 0 is
    // an invalid argument) would only mislead: none is given.
    failedAt(path, st.st_size <= 0 ? 0 : errno);
    ::close(fd);
    return false;
  }
  void* view = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    failedAt(path, errno);
    ::close(fd);
    return false;
  }
  const auto start = reinterpret_cast<std::uintptr_t>(view);
  auto* guard = detail::guardedRanges().add(start, start + static_cast<std::uintptr_t>(st.st_size));
  if (guard == nullptr) {
    // Read unguarded, a shortened file would end the process: refused instead.
    ::munmap(view, static_cast<std::size_t>(st.st_size));
    failedAt(path, ENOMEM);
    ::close(fd);
    return false;
  }
  installBusHandler();  // after the table is made: the handler may look in it at once
  handle_ = fd;
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = static_cast<std::uint64_t>(st.st_size);
  modified_ = toFileTime(st.st_mtim);
  guard_ = guard;
  return true;
}

void MappedFile::close() {
  // The guard goes first: once the range is unmapped, a mapping opened on
  // another thread may be given the same addresses.
  detail::cGuardedRanges::remove(static_cast<detail::sGuardSlot*>(guard_));
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), static_cast<std::size_t>(size_));
  if (handle_ != kNoHandle) ::close(fdOf(handle_));
  handle_ = kNoHandle;
  mapping_ = kNoHandle;  // a POSIX mapping has no object of its own
  data_ = nullptr;
  size_ = 0;
  guard_ = nullptr;
}

bool MappedFile::unchanged() const {
  if (data_ == nullptr) return true;
  if (guard_ != nullptr && static_cast<const detail::sGuardSlot*>(guard_)->damaged.load()) return false;
  struct stat st {};
  return ::fstat(fdOf(handle_), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == size_ &&
         toFileTime(st.st_mtim) == modified_;
}

void MappedFile::adviseWholeRead() const {
  if (data_ != nullptr) ::madvise(const_cast<std::uint8_t*>(data_), static_cast<std::size_t>(size_), MADV_WILLNEED);
}

// The mapping is private and never written: a page dropped from it holds no
// change of ours and is read from the file again at the next touch.
void MappedFile::release(std::uint64_t offset, std::uint64_t length) const {
  if (data_ == nullptr || offset >= size_) return;
  length = std::min(length, size_ - offset);
  const auto page = static_cast<std::uint64_t>(pageSize);
  const std::uint64_t start = offset / page * page;  // the mapping itself starts on a page
  const std::uint64_t end = std::min(size_, offset + length);
  if (end > start)
    ::madvise(const_cast<std::uint8_t*>(data_) + start, static_cast<std::size_t>(end - start), MADV_DONTNEED);
}

bool MappedFile::copyTo(File& out, std::uint64_t offset, std::uint64_t length) const {
  // A failure records the reason, if the system gave one, with no path.
  if (data_ == nullptr || out.handle_ == kNoHandle || offset > size_ || length > size_ - offset) return failedAt("", 0);
  // Copying from file to file inside the kernel is several times faster than
  // writing from the mapping, which faults every page in first.
  auto from = static_cast<loff_t>(offset);
  if (length > 0 && injectedFailure(FaultOperation::Write)) return failedAt("", errno);
  while (length > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length, std::uint64_t{1} << 30));
    const ssize_t copied = ::copy_file_range(fdOf(handle_), &from, fdOf(out.handle_), nullptr, chunk, 0);
    if (copied > 0) {
      length -= static_cast<std::uint64_t>(copied);
      continue;
    }
    if (copied < 0 && errno == EINTR) continue;
    if (copied == 0) return failedAt("", 0);
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return failedAt("", errno);
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
  File source;
  File target;
  if (injectedFailure(FaultOperation::Copy)) return failedAt(to, errno);
  if (!source.open(from, File::Mode::Read)) return false;
  const std::optional<std::uint64_t> size = source.size();
  if (!size) return failedAt(from, errno);
  if (!target.open(to, File::Mode::CreateNew)) return false;
  // Before the first byte: a private file's copy is never readable by others.
  // (A file system without permission bits keeps its own.)
  target.copyPermissionsFrom(from);
  // The target was made here: a copy that fails half way (a full disk) is
  // taken away again rather than left looking like a backup.
  bool copied = true;
  if (*size > 0) {
    MappedFile view;
    copied = view.open(from);
    // A source that changes while it is copied would give a backup of neither version.
    if (copied && view.size() != *size) copied = failedAt(from, EAGAIN);
    if (copied && !view.copyTo(target, 0, *size)) copied = failedAt(to, errno);
    if (copied && !view.unchanged()) copied = failedAt(from, EAGAIN);
  }
  const bool closed = target.close();
  if (!closed && copied) failedAt(to, errno);
  if (!closed || !copied) {
    const int error = errno;
    ::unlink(to.c_str());
    errno = error;
    return false;
  }
  return true;
}

namespace {

bool failWithReason(std::string* reason, int error, const std::string& path) {
  if (reason) *reason = systemText(error) + ": " + path;
  return false;
}

bool copyItem(const std::string& from, const std::string& to, std::string* reason);

// Copies what the folder `from` holds into the existing folder `to`.
bool copyContents(const std::string& from, const std::string& to, std::string* reason) {
  std::vector<FolderItem> items;
  if (!listFolder(from, items)) return failWithReason(reason, errno ? errno : EIO, from);
  for (const FolderItem& item : items) {
    if (!copyItem(from + "/" + item.name, to + "/" + item.name, reason)) return false;
  }
  return true;
}

// Fills the folder `to` with what `from` (of mode `mode`) holds and gives it
// `from`'s permission bits: while it is filled it is no more open than those
// allow, but open to its owner; its own bits come last (a read-only folder
// could not be filled). A file system without permission bits keeps its own.
bool copyContentsKeepingMode(const std::string& from, mode_t mode, const std::string& to, std::string* reason) {
  const mode_t bits = mode & kPermissionBits;
  ::chmod(to.c_str(), bits | S_IRWXU);
  if (!copyContents(from, to, reason)) return false;
  ::chmod(to.c_str(), bits);
  return true;
}

// A file as a file, a folder as a folder, a link as a link (never followed).
bool copyItem(const std::string& from, const std::string& to, std::string* reason) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return failWithReason(reason, errno, from);
  if (S_ISLNK(st.st_mode)) {
    std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
    const ssize_t length = ::readlink(from.c_str(), target.data(), target.size());
    if (length < 0) return failWithReason(reason, errno, from);
    target.resize(static_cast<std::size_t>(length));
    if (injectedFailure(FaultOperation::Copy) || ::symlink(target.c_str(), to.c_str()) != 0)
      return failWithReason(reason, errno, to);
    return true;
  }
  if (S_ISREG(st.st_mode))
    return copyFileNoOverwrite(from, to) ? true : failWithReason(reason, errno ? errno : EIO, to);
  if (!S_ISDIR(st.st_mode)) return failWithReason(reason, ENOTSUP, from);
  if (makeFolder(to) != MakeFolderResult::Made) return failWithReason(reason, errno ? errno : EEXIST, to);
  return copyContentsKeepingMode(from, st.st_mode, to, reason);
}

}  // namespace

bool copyTree(const std::string& from, const std::string& to, std::string* reason) {
  // The top folder itself is followed when it is a link: its contents are copied.
  std::string top = from;
  while (top.size() > 1 && top.back() == '/') top.pop_back();
  if (pathKind(to) != PathKind::Folder) return failWithReason(reason, ENOTDIR, to);
  struct stat st {};
  if (::stat(top.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return failWithReason(reason, ENOTDIR, from);
  return copyContentsKeepingMode(top, st.st_mode, to, reason);
}

MakeFolderResult makeFolder(const std::string& path) {
  if (injectedFailure(FaultOperation::MakeFolder)) {
    failedAt(path, errno);
    return MakeFolderResult::Failed;
  }
  if (::mkdir(path.c_str(), 0777) == 0) return MakeFolderResult::Made;
  const int error = errno;
  failedAt(path, error);
  errno = error;
  return error == EEXIST ? MakeFolderResult::Exists : MakeFolderResult::Failed;
}

bool makeFolders(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) return failedAt(path, ENOENT);
  if (pathKind(folder) == PathKind::Folder) return true;
  if (makeFolder(folder) == MakeFolderResult::Failed && errno == ENOENT) {
    const std::size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos || slash == 0 || !makeFolders(folder.substr(0, slash))) return false;
    makeFolder(folder);
  }
  // Whatever the calls said: another thread or program may have made it meanwhile.
  return pathKind(folder) == PathKind::Folder;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
  if (injectedFailure(FaultOperation::Rename)) return failedAt(to, errno);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return failedAt(to, errno);
  // The file system cannot rename without replacing: check first.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return failedAt(to, EEXIST);
  return ::rename(from.c_str(), to.c_str()) == 0 ? true : failedAt(to, errno);
}

bool renameReplacing(const std::string& from, const std::string& to) {
  if (injectedFailure(FaultOperation::Rename)) return failedAt(to, errno);
  return ::rename(from.c_str(), to.c_str()) == 0 ? true : failedAt(to, errno);
}

bool removeFile(const std::string& path) {
  if (injectedFailure(FaultOperation::Remove)) return failedAt(path, errno);
  return ::unlink(path.c_str()) == 0 ? true : failedAt(path, errno);
}

bool removeEmptyFolder(const std::string& path) {
  if (injectedFailure(FaultOperation::Remove)) return failedAt(path, errno);
  return ::rmdir(path.c_str()) == 0 ? true : failedAt(path, errno);
}

// The reason names the tree: the library does not tell which item in it failed.
bool removeTree(const std::string& path, std::string* reason) {
  if (injectedFailure(FaultOperation::Remove)) return failWithReason(reason, errno, path);
  // Without trailing separators: "link/" would name the folder a link leads to.
  std::string target = path;
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  try {
    std::error_code error;
    std::filesystem::remove_all(target, error);
    if (!error) return true;
    if (reason) *reason = error.message() + ": " + path;
    return false;
  } catch (const std::exception& error) {
    if (reason) *reason = std::string(error.what()) + ": " + path;
    return false;
  }
}

void failGuardZeroPages(bool fail) { zeroPagesFail = fail; }

// ---- Requests to stop ----------------------------------------------------------------

bool watchStopRequests(std::function<void()> onStop) {
  if (stopPipe[0] >= 0 || ::pipe2(stopPipe, O_CLOEXEC) != 0) return false;
  try {
    // It waits for the signal for the rest of the program's life; the
    // program's end ends it.
    std::thread([onStop = std::move(onStop)] {
      unsigned char byte = 0;
      ssize_t got = 0;
      do {
        got = ::read(stopPipe[0], &byte, 1);
      } while (got < 0 && errno == EINTR);
      if (got == 1) onStop();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  action.sa_flags = SA_RESTART;  // the job's own system calls go on where they were
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  bool installed = true;
  for (const int signal : kStopSignals) {
    // A signal that the program was started ignoring (nohup, a shell's
    // background job) stays ignored, as the convention is.
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    installed = ::sigaction(signal, &action, nullptr) == 0 && installed;
  }
  return installed;
}

int stopRequestSignal() { return stopSignal.load(); }

// ---- The command line ---------------------------------------------------------------

std::vector<std::string> commandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

void useUtf8StandardStreams() {}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::size_t terminalColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

// ---- Places -------------------------------------------------------------------------

std::optional<std::string> environmentVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool setEnvironmentVariable(const char* name, const std::optional<std::string>& value) {
  return (value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name)) == 0;
}

std::string userSettingsBaseFolder() {
  const auto configHome = environmentVariable("XDG_CONFIG_HOME");
  if (configHome && configHome->starts_with('/')) return *configHome;
  const auto home = environmentVariable("HOME");
  if (!home || !home->starts_with('/')) return {};
  return home->ends_with('/') ? *home + ".config" : *home + "/.config";
}

namespace {

// The variable's value when it holds an absolute path.
std::optional<std::string> absoluteVariable(const char* name) {
  auto value = environmentVariable(name);
  if (!value || !value->starts_with('/')) return std::nullopt;
  return value;
}

}  // namespace

std::string userTemporaryFolder() {
  // The first two are the user's own by convention ($XDG_RUNTIME_DIR by the
  // login manager, mode 0700); /tmp is everybody's, and a second user could
  // not replace the first one's log there.
  for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
    if (auto folder = absoluteVariable(name)) return *folder;
  }
  std::string cache;
  if (auto folder = absoluteVariable("XDG_CACHE_HOME")) {
    cache = *folder;
  } else if (auto home = absoluteVariable("HOME")) {
    cache = home->ends_with('/') ? *home + ".cache" : *home + "/.cache";
  } else {
    return {};
  }
  makeFolders(cache);  // a new account may not have one yet; writing the log says so if it fails
  return cache;
}

std::string fileNameKey(std::string_view name) { return std::string(name); }

std::string executablePath() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

}  // namespace plimsy::platform
