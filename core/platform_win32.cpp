// Windows implementation of the platform layer. Everything goes through the
// wide (UTF-16) calls: UTF-8 is converted here, at the boundary, and every
// path handed to the system passes through systemPath(), which makes it
// absolute and gives it the \\?\ prefix when it is long.

#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0A00
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00  // Windows 10: GetSystemTimePreciseAsFileTime
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the headers below need its types.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "core/mapping_guards.h"
#include "core/platform.h"
#include "core/platform_internal.h"
#include "core/platform_utf16.h"

namespace plimsy::platform {

// ---- Text ---------------------------------------------------------------------------

std::wstring widen(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), needed);
  return wide;
}

std::string narrow(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, utf8.data(), needed, nullptr, nullptr);
  return utf8;
}

namespace {

// The system's sentence for an error code, as FormatMessageW gives it
// (without the line break it ends with).
std::string systemSentence(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text = length > 0 ? narrow(std::wstring_view(buffer, length)) : std::string();
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "Error " + std::to_string(error) + "." : text;
}

// The system's explanation of an error code, without the closing full stop
// (a path follows it).
std::string systemText(DWORD error) {
  std::string text = systemSentence(error);
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// ---- Paths --------------------------------------------------------------------------

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
bool isLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// From this length on a path gets the \\?\ prefix: CreateDirectoryW's limit
// (MAX_PATH less room for an 8.3 name) is the lowest of the calls used here.
constexpr std::size_t kLongPathFrom = MAX_PATH - 12;

// \\?\, \\.\ or \??\ (either slash): the system's own name spaces.
bool hasNamespacePrefix(std::wstring_view p) {
  return p.size() >= 4 && isSeparator(p[0]) && isSeparator(p[3]) &&
         ((isSeparator(p[1]) && (p[2] == L'?' || p[2] == L'.')) || (p[1] == L'?' && p[2] == L'?'));
}

// The path in the \\?\ form, which no length limit applies to.
std::wstring withLongPrefix(std::wstring full) {
  if (hasNamespacePrefix(full)) return full;
  if (full.size() >= 2 && isSeparator(full[0]) && isSeparator(full[1])) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The path as the system takes it: absolute ("/" and "\" both separators, "."
// and ".." resolved, as GetFullPathNameW does for every call) and, when long,
// with the \\?\ prefix that lifts MAX_PATH. A path that already has one of the
// system's prefixes is used as given, with "\" for every "/".
std::wstring systemPath(const std::string& path) {
  std::wstring wide = widen(path);
  if (wide.empty()) return wide;
  if (hasNamespacePrefix(wide)) {
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    return wide;
  }
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;  // the call that uses it fails and says why
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  return full.size() < kLongPathFrom ? full : withLongPrefix(std::move(full));
}

// A path for messages: what the user typed, without a prefix added here.
std::string displayPath(const std::wstring& path) {
  std::wstring_view view(path);
  if (view.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + narrow(view.substr(8));
  if (view.starts_with(L"\\\\?\\")) return narrow(view.substr(4));
  return narrow(view);
}

// A device rather than a file on a disk: \\.\pipe\x, \\.\COM1, and the names
// CON, NUL, AUX... that GetFullPathNameW turns into \\.\ paths. Such a name
// is never opened to find out what it is: opening a pipe connects to its
// server. (\\.\C:\x is an ordinary file path.)
bool isDeviceName(const std::wstring& systemForm) {
  if (!systemForm.starts_with(L"\\\\.\\")) return false;
  const std::wstring_view rest = std::wstring_view(systemForm).substr(4);
  return !(rest.size() >= 3 && isLetter(rest[0]) && rest[1] == L':' && rest[2] == L'\\');
}

// ---- Handles and file information -----------------------------------------------------

HANDLE asHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
NativeHandle asNative(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

// Closes a handle on every path, keeping the last error of what went before.
class cHandle {
 public:
  explicit cHandle(HANDLE handle) : handle_(handle) {}
  ~cHandle() {
    if (valid()) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(handle_);
      ::SetLastError(error);
    }
  }
  cHandle(const cHandle&) = delete;
  cHandle& operator=(const cHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }
  HANDLE release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a file or folder to read its metadata only: attribute access takes
// part in no sharing rule, so a file that another program holds open without
// sharing can still be examined. `follow`: a link leads to its target.
HANDLE openForQuery(const std::wstring& path, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool queryInformation(const std::wstring& path, bool follow, BY_HANDLE_FILE_INFORMATION& info) {
  const cHandle handle(openForQuery(path, follow));
  return handle.valid() && ::GetFileInformationByHandle(handle.get(), &info);
}

FileTime fromFiletime(const FILETIME& time) {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME toFiletime(FileTime time) {
  FILETIME result;
  result.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
  result.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return result;
}

FileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::uint64_t sizeOf(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

// Reparse points that are links: followed when read, kept as links when
// copied or removed. Others (cloud placeholders, deduplicated files) are the
// files and folders they look like.
bool isLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

// Reparse points that stand for a socket, a pipe or a device (made by the
// Linux subsystem): never disk files.
bool isSpecialTag(DWORD tag) {
  constexpr DWORD kAfUnix = 0x80000023;
  constexpr DWORD kLxFifo = 0x80000024;
  constexpr DWORD kLxChr = 0x80000025;
  constexpr DWORD kLxBlk = 0x80000026;
  return tag == kAfUnix || tag == kLxFifo || tag == kLxChr || tag == kLxBlk;
}

// The reparse tag of an item whose attributes say it has one; 0 when it
// cannot be read.
DWORD reparseTagOf(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return 0;
  ::FindClose(find);
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? data.dwReserved0 : 0;
}

// The folder with one separator at its end, ready for a name or "*".
std::wstring folderPrefix(std::wstring folder) {
  if (folder.empty() || !isSeparator(folder.back())) folder += L'\\';
  return folder;
}

// Calls `visit` with the find data of every item of a folder but "." and
// "..", until it returns false. False when the folder cannot be listed to its
// end (the last error says why) or a visit failed.
template <typename Visit>
bool forEachItem(const std::wstring& folder, Visit&& visit) {
  const std::wstring pattern = folderPrefix(folder) + L"*";
  WIN32_FIND_DATAW data;
  const HANDLE find = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    // A drive's root has no "." and "..": empty, it finds nothing at all.
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  bool complete = true;
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (!visit(data)) {
      complete = false;
      break;
    }
  } while (::FindNextFileW(find, &data));
  if (complete && ::GetLastError() != ERROR_NO_MORE_FILES) complete = false;
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  ::SetLastError(error);
  return complete;
}

// Records `error` as the reason the operation on `path` failed, and leaves it
// as the last error; false.
bool failedAt(const std::string& path, DWORD error) {
  detail::recordFailure(error, path);
  ::SetLastError(error);
  return false;
}

// Counts one operation; true (with the last error set) when it is to fail.
bool injectedFailure(FaultOperation operation) {
  switch (detail::injectedFault(operation)) {
    case detail::InjectedFault::None: return false;
    case detail::InjectedFault::Failure: ::SetLastError(ERROR_WRITE_FAULT); return true;
    case detail::InjectedFault::DiskFull: ::SetLastError(ERROR_DISK_FULL); return true;
  }
  return false;
}

// Opens a file on a disk; pipes, consoles and other devices are refused
// (NotRegular) without waiting for them. A folder cannot be opened without
// FILE_FLAG_BACKUP_SEMANTICS, so it fails as Other.
HANDLE openRegular(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                   File::OpenFailure& failure) {
  failure = File::OpenFailure::None;
  const std::wstring name = systemPath(path);
  if (name.empty()) {
    failure = File::OpenFailure::Other;
    failedAt(path, ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (isDeviceName(name)) {
    failure = File::OpenFailure::NotRegular;
    failedAt(path, ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle =
      ::CreateFileW(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    switch (::GetLastError()) {
      case ERROR_FILE_EXISTS:
      case ERROR_ALREADY_EXISTS: failure = File::OpenFailure::Exists; break;
      case ERROR_SHARING_VIOLATION: failure = File::OpenFailure::SharingViolation; break;
      case ERROR_PIPE_BUSY: failure = File::OpenFailure::NotRegular; break;  // a pipe behind a network path
      default: failure = File::OpenFailure::Other; break;
    }
    failedAt(path, ::GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    failure = File::OpenFailure::NotRegular;
    failedAt(path, ERROR_BAD_FILE_TYPE);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

bool writeAll(HANDLE handle, const void* data, std::size_t count) {
  const auto* in = static_cast<const char*>(data);
  while (count > 0) {
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(count, std::size_t{1} << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, in, piece, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    in += written;
    count -= written;
  }
  return true;
}

// Takes the read-only attribute off a file so that it can be deleted or
// replaced; the attributes it had, or INVALID_FILE_ATTRIBUTES when there was
// nothing to do.
DWORD dropReadOnly(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0)
    return INVALID_FILE_ATTRIBUTES;
  const DWORD without = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return ::SetFileAttributesW(path.c_str(), without != 0 ? without : FILE_ATTRIBUTE_NORMAL) ? attributes
                                                                                            : INVALID_FILE_ATTRIBUTES;
}

void restoreAttributes(const std::wstring& path, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const DWORD error = ::GetLastError();
  ::SetFileAttributesW(path.c_str(), attributes);
  ::SetLastError(error);
}

// Deletes a file (or a link to a file), read-only or not.
bool deleteFile(const std::wstring& path) {
  const DWORD attributes = dropReadOnly(path);
  if (::DeleteFileW(path.c_str())) return true;
  restoreAttributes(path, attributes);
  return false;
}

}  // namespace

std::string systemErrorText(std::uint32_t code) { return systemSentence(code); }

// ---- Path kind ------------------------------------------------------------------------

PathKind pathKind(const std::string& path) {
  const std::wstring name = systemPath(path);
  if (name.empty()) return PathKind::Missing;
  if (isDeviceName(name)) return PathKind::File;
  DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // The attributes are the link's own: ask its target.
    BY_HANDLE_FILE_INFORMATION info;
    if (!queryInformation(name, true, info)) return PathKind::Missing;
    attributes = info.dwFileAttributes;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::File;
}

bool entryExists(const std::string& path) {
  const std::wstring name = systemPath(path);
  if (name.empty()) return false;
  if (isDeviceName(name)) return true;
  if (::GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  // A file being deleted, or one held by the system, still takes its name.
  const DWORD error = ::GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool isSpecialFile(const std::string& path) {
  const std::wstring name = systemPath(path);
  if (name.empty()) return false;
  if (isDeviceName(name)) return true;
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  const DWORD tag = reparseTagOf(name);
  if (isSpecialTag(tag)) return true;
  if (!isLinkTag(tag)) return false;
  const cHandle target(openForQuery(name, true));
  return target.valid() && ::GetFileType(target.get()) != FILE_TYPE_DISK;
}

// ---- File identity ----------------------------------------------------------------------

bool fileIdentity(const std::string& path, FileIdentity& identity) {
  const std::wstring name = systemPath(path);
  BY_HANDLE_FILE_INFORMATION info;
  if (name.empty() || isDeviceName(name) || !queryInformation(name, true, info)) return false;
  identity = identityOf(info);
  return true;
}

// ---- Folder listing -----------------------------------------------------------------------

// The folder is read through its handle, whose listing carries each item's
// file ID: opening every file for its identity made a folder of 70,000 files
// take seconds instead of a fraction of one. Links are still opened, to read
// their targets.
bool detail::listFolderItems(const std::string& folder, std::vector<FolderItem>& items) {
  items.clear();
  const std::wstring name = systemPath(folder);
  if (name.empty() || isDeviceName(name)) return false;
  // Item paths are the folder's and a name: long ones must have the prefix too.
  const std::wstring prefix = folderPrefix(withLongPrefix(name));
  const cHandle handle(::CreateFileW(prefix.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION folderInfo;
  if (!handle.valid() || !::GetFileInformationByHandle(handle.get(), &folderInfo) ||
      (folderInfo.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    return false;
  // DWORD-aligned, as the entries in it are.
  std::vector<DWORD> buffer(64 * 1024 / sizeof(DWORD));
  const DWORD bufferBytes = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!::GetFileInformationByHandleEx(handle.get(), request, buffer.data(), bufferBytes)) {
      if (::GetLastError() == ERROR_NO_MORE_FILES) return true;
      items.clear();
      return false;
    }
    request = FileIdBothDirectoryInfo;
    const auto* bytes = reinterpret_cast<const char*>(buffer.data());
    for (std::size_t at = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + at);
      const std::wstring_view entryName(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (entryName != L"." && entryName != L"..") {
        FolderItem item;
        item.name = narrow(entryName);
        const std::wstring itemPath = prefix + std::wstring(entryName);
        const bool reparse = (entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const DWORD tag = reparse ? entry->EaSize : 0;  // the field holds the tag of a reparse point
        // A reparse point of no stated kind (Wine gives no tags) is taken for a link.
        item.isSymlink = reparse && (isLinkTag(tag) || tag == 0);
        item.isSpecial = isSpecialTag(tag);
        item.lastWrite = static_cast<FileTime>(entry->LastWriteTime.QuadPart);
        const auto fileId = static_cast<std::uint64_t>(entry->FileId.QuadPart);
        BY_HANDLE_FILE_INFORMATION info;
        if (item.isSymlink) {
          if (queryInformation(itemPath, true, info)) {
            item.isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            item.size = item.isFolder ? 0 : sizeOf(info.nFileSizeHigh, info.nFileSizeLow);
            item.lastWrite = fromFiletime(info.ftLastWriteTime);
            item.identity = identityOf(info);
            const cHandle target(openForQuery(itemPath, true));
            item.isSpecial = target.valid() && ::GetFileType(target.get()) != FILE_TYPE_DISK;
          } else {
            item.identity = {folderInfo.dwVolumeSerialNumber, fileId};  // dangling: a file of size 0
          }
        } else {
          item.isFolder = (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
          item.size = item.isFolder || item.isSpecial ? 0 : static_cast<std::uint64_t>(entry->EndOfFile.QuadPart);
          // The identity lets the folder walk find loops and the epub being
          // written. A file system without 64-bit IDs in its listing (ReFS)
          // gives 0 or -1: ask the item itself, as fileIdentity does.
          if (fileId != 0 && fileId != ~std::uint64_t{0}) {
            item.identity = {folderInfo.dwVolumeSerialNumber, fileId};
          } else if (queryInformation(itemPath, true, info)) {
            item.identity = identityOf(info);
          } else {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
              items.clear();
              return false;
            }
            item.name.clear();  // removed since it was listed
          }
        }
        if (!item.name.empty()) items.push_back(std::move(item));
      }
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
}

// The listing already tells folders from files without a call per item.
bool detail::listSubfolderNames(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  std::vector<FolderItem> items;
  if (!listFolderItems(folder, items)) return false;
  for (FolderItem& item : items) {
    if (item.isFolder && !item.isSymlink) names.push_back(std::move(item.name));
  }
  return true;
}

// ---- File ------------------------------------------------------------------------------

namespace {

// A name not yet taken is created with one call (a dangling link takes its
// name too); a taken one is emptied, unless it is a link, which is never
// followed.
HANDLE openFresh(const std::string& path, File::OpenFailure& failure) {
  const HANDLE handle = openRegular(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, failure);
  if (handle != INVALID_HANDLE_VALUE || failure != File::OpenFailure::Exists) return handle;
  // Something that cannot be examined (a dangling link, to Wine) is taken for a link too.
  const std::wstring name = systemPath(path);
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  const bool reparse = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  const DWORD tag = reparse ? reparseTagOf(name) : 0;
  if (attributes == INVALID_FILE_ATTRIBUTES || (reparse && (isLinkTag(tag) || tag == 0))) {
    failure = File::OpenFailure::Other;
    failedAt(path, ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return openRegular(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0, failure);
}

}  // namespace

// A file being read may be read by others too; one being written is written
// by this handle alone.
bool File::open(const std::string& path, Mode mode) {
  close();
  failed_ = false;
  HANDLE handle = INVALID_HANDLE_VALUE;
  switch (mode) {
    case Mode::Read:
      handle = openRegular(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, openFailure_);
      break;
    case Mode::WriteTruncate: handle = openRegular(path, GENERIC_WRITE, 0, CREATE_ALWAYS, 0, openFailure_); break;
    case Mode::WriteOver: handle = openRegular(path, GENERIC_WRITE, 0, OPEN_ALWAYS, 0, openFailure_); break;
    case Mode::WriteFresh: handle = openFresh(path, openFailure_); break;
    case Mode::CreateNew:
      // Not through a link: a dangling one takes its name like anything else.
      handle = openRegular(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, openFailure_);
      // A folder of that name refuses with "access denied": the name is taken all the same.
      if (openFailure_ == OpenFailure::Other && ::GetLastError() == ERROR_ACCESS_DENIED && entryExists(path)) {
        openFailure_ = OpenFailure::Exists;
        failedAt(path, ERROR_FILE_EXISTS);
      }
      break;
  }
  handle_ = asNative(handle);
  writable_ = mode != Mode::Read;
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
    const auto piece = static_cast<DWORD>(std::min<std::size_t>(count - total, std::size_t{1} << 30));
    DWORD got = 0;
    if (!::ReadFile(asHandle(handle_), out + total, piece, &got, nullptr)) {
      failed_ = true;
      return 0;
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

// A failed write, close or setting of times records the system's reason with
// no path (the file does not know its own): the caller names the file.
bool File::write(const void* data, std::size_t count) {
  if (handle_ == kNoHandle) return failedAt("", ERROR_INVALID_HANDLE);
  if (injectedFailure(FaultOperation::Write) || !writeAll(asHandle(handle_), data, count))
    return failedAt("", ::GetLastError());
  return true;
}

bool File::seek(std::uint64_t position) {
  if (handle_ == kNoHandle || position > static_cast<std::uint64_t>(LLONG_MAX)) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(position);
  return ::SetFilePointerEx(asHandle(handle_), to, nullptr, FILE_BEGIN) != 0;
}

bool File::endHere() { return handle_ != kNoHandle && ::SetEndOfFile(asHandle(handle_)) != 0; }

std::optional<std::uint64_t> File::tell() const {
  if (handle_ == kNoHandle) return std::nullopt;
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  LARGE_INTEGER position;
  if (!::SetFilePointerEx(asHandle(handle_), zero, &position, FILE_CURRENT)) return std::nullopt;
  return static_cast<std::uint64_t>(position.QuadPart);
}

std::optional<std::uint64_t> File::size() const {
  LARGE_INTEGER size;
  if (handle_ == kNoHandle || !::GetFileSizeEx(asHandle(handle_), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

// Times set through a handle stay: the system does not change them again
// when the handle is closed.
bool File::setTimes(FileTime creation, FileTime access, FileTime write) {
  if (handle_ == kNoHandle || !writable_) return failedAt("", ERROR_INVALID_HANDLE);
  if (injectedFailure(FaultOperation::SetTimes)) return failedAt("", ::GetLastError());
  const FILETIME c = toFiletime(creation);
  const FILETIME a = toFiletime(access);
  const FILETIME w = toFiletime(write);
  return ::SetFileTime(asHandle(handle_), &c, &a, &w) != 0 || failedAt("", ::GetLastError());
}

// A new file takes its folder's access rules, as the file it copies or
// replaces did; CopyFileW keeps the attributes. Nothing more is copied.
bool File::copyPermissionsFrom(const std::string& /*path*/) { return handle_ != kNoHandle; }

// No FlushFileBuffers: a closed file is as safe as the system's cache, as on
// POSIX, and flushing every book file would make jobs several times slower.
bool File::close() {
  if (handle_ == kNoHandle) return true;
  const bool injected = writable_ && injectedFailure(FaultOperation::Close);
  const bool closed = ::CloseHandle(asHandle(handle_)) != 0;
  handle_ = kNoHandle;
  if (injected) return failedAt("", ERROR_WRITE_FAULT);
  return closed || failedAt("", ::GetLastError());
}

// ---- MappedFile -------------------------------------------------------------------------

// Other programs may read the file while it is mapped, but not write it:
// Windows itself refuses to shorten a mapped file. A page of the view can
// still become unreadable: the file's device is gone (a USB stick pulled out,
// a network share lost), and the read raises EXCEPTION_IN_PAGE_ERROR, which
// would end the process (under Wine a page lost to a file shortened from
// outside raises a read access violation). The handler below looks the
// address up among the guarded views and puts zeros in the view's place (a
// view cannot be replaced in part: the whole view goes, and its addresses are
// reserved at once; each page is committed, as zeros, when it is read); the
// view counts as damaged, and its reader fails with a message once it asks.
// Faults elsewhere go on to the next handler.

namespace {

std::mutex zeroViewLock;  // one thread replaces a view; the others wait for it

// Makes the page that holds `address` readable as zeros.
bool commitZeroPage(std::uintptr_t address) {
  return ::VirtualAlloc(reinterpret_cast<void*>(address), 1, MEM_COMMIT, PAGE_READONLY) != nullptr;
}

LONG CALLBACK onPageError(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const DWORD code = record->ExceptionCode;
  if ((code != EXCEPTION_IN_PAGE_ERROR && code != EXCEPTION_ACCESS_VIOLATION) || record->NumberParameters < 2)
    return EXCEPTION_CONTINUE_SEARCH;
  const auto address = static_cast<std::uintptr_t>(record->ExceptionInformation[1]);
  detail::sGuardSlot* slot = detail::guardedRanges().find(address);
  if (slot == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  // A view is only read: a write into it is a fault of the program's own, never ours.
  if (code == EXCEPTION_ACCESS_VIOLATION && record->ExceptionInformation[0] != 0) return EXCEPTION_CONTINUE_SEARCH;
  const std::lock_guard<std::mutex> guard(zeroViewLock);
  if (!slot->replaced.load()) {
    // Windows says EXCEPTION_IN_PAGE_ERROR; Wine, where a file is shortened
    // from outside under the view, an access violation on reading.
    slot->damaged = true;
    const std::uintptr_t start = slot->start.load();
    void* view = reinterpret_cast<void*>(start);
    if (!::UnmapViewOfFile(view)) return EXCEPTION_CONTINUE_SEARCH;
    if (::VirtualAlloc(view, slot->end.load() - start, MEM_RESERVE, PAGE_NOACCESS) != view)
      return EXCEPTION_CONTINUE_SEARCH;  // another thread took the addresses meanwhile: nothing to put back
    slot->replaced = true;
  }
  return commitZeroPage(address) ? EXCEPTION_CONTINUE_EXECUTION : EXCEPTION_CONTINUE_SEARCH;
}

void installPageErrorHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] { ::AddVectoredExceptionHandler(1, onPageError); });
}

}  // namespace

bool MappedFile::open(const std::string& path) {
  close();
  File::OpenFailure failure = File::OpenFailure::None;
  cHandle file(openRegular(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0, failure));
  if (!file.valid()) return false;
  LARGE_INTEGER size;
  FILETIME written;
  if (!::GetFileSizeEx(file.get(), &size) || !::GetFileTime(file.get(), nullptr, nullptr, &written))
    return failedAt(path, ::GetLastError());
  // An empty file cannot be mapped; the system's reason (the file is "no
  // longer valid") would only mislead: none is given.
  if (size.QuadPart <= 0) return failedAt(path, ERROR_SUCCESS);
  if (static_cast<std::uint64_t>(size.QuadPart) > SIZE_MAX) return failedAt(path, ERROR_NOT_ENOUGH_MEMORY);
  // The view keeps the mapping object alive; its handle is not needed.
  const cHandle mapping(::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.valid()) return failedAt(path, ::GetLastError());
  const void* view = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return failedAt(path, ::GetLastError());
  const auto start = reinterpret_cast<std::uintptr_t>(view);
  auto* guard = detail::guardedRanges().add(start, start + static_cast<std::uintptr_t>(size.QuadPart));
  if (guard == nullptr) {
    // Read unguarded, a lost device would end the process: refused instead.
    ::UnmapViewOfFile(view);
    return failedAt(path, ERROR_NOT_ENOUGH_MEMORY);
  }
  installPageErrorHandler();  // after the table is made: the handler may look in it at once
  handle_ = asNative(file.release());
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = static_cast<std::uint64_t>(size.QuadPart);
  modified_ = fromFiletime(written);
  guard_ = guard;
  return true;
}

void MappedFile::close() {
  // The guard goes first: once the view is gone, a view opened on another
  // thread may be given the same addresses.
  auto* guard = static_cast<detail::sGuardSlot*>(guard_);
  const bool replaced = guard != nullptr && guard->replaced.load();
  detail::cGuardedRanges::remove(guard);
  if (data_ != nullptr && replaced) ::VirtualFree(const_cast<std::uint8_t*>(data_), 0, MEM_RELEASE);
  if (data_ != nullptr && !replaced) ::UnmapViewOfFile(data_);
  if (mapping_ != kNoHandle) ::CloseHandle(asHandle(mapping_));
  if (handle_ != kNoHandle) ::CloseHandle(asHandle(handle_));
  handle_ = kNoHandle;
  mapping_ = kNoHandle;
  data_ = nullptr;
  size_ = 0;
  guard_ = nullptr;
}

bool MappedFile::unchanged() const {
  if (data_ == nullptr) return true;
  if (guard_ != nullptr && static_cast<const detail::sGuardSlot*>(guard_)->damaged.load()) return false;
  LARGE_INTEGER size;
  FILETIME written;
  return ::GetFileSizeEx(asHandle(handle_), &size) && static_cast<std::uint64_t>(size.QuadPart) == size_ &&
         ::GetFileTime(asHandle(handle_), nullptr, nullptr, &written) && fromFiletime(written) == modified_;
}

void MappedFile::adviseWholeRead() const {
  if (data_ == nullptr) return;
  // Looked up rather than imported, so that a system without it still starts.
  using Prefetch = BOOL(WINAPI*)(HANDLE, ULONG_PTR, PWIN32_MEMORY_RANGE_ENTRY, ULONG);
  static const auto prefetch = [] {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr
               ? reinterpret_cast<Prefetch>(reinterpret_cast<void*>(::GetProcAddress(kernel, "PrefetchVirtualMemory")))
               : nullptr;
  }();
  if (prefetch == nullptr) return;
  WIN32_MEMORY_RANGE_ENTRY range;
  range.VirtualAddress = const_cast<std::uint8_t*>(data_);
  range.NumberOfBytes = static_cast<SIZE_T>(size_);
  prefetch(::GetCurrentProcess(), 1, &range, 0);
}

// Unlocking pages that are not locked takes them out of the process's working
// set (VirtualUnlock then reports ERROR_NOT_LOCKED, which is expected); the
// system keeps them as standby pages of the file and maps them again at the
// next touch.
void MappedFile::release(std::uint64_t offset, std::uint64_t length) const {
  if (data_ == nullptr || offset >= size_) return;
  length = std::min(length, size_ - offset);
  ::VirtualUnlock(const_cast<std::uint8_t*>(data_) + offset, static_cast<SIZE_T>(length));
}

// Written from the view in pieces: one WriteFile of a large view would lock
// all its pages in memory at once. Counted as one write, like the copy inside
// the system that POSIX makes.
bool MappedFile::copyTo(File& out, std::uint64_t offset, std::uint64_t length) const {
  // A failure records the reason, if the system gave one, with no path.
  if (data_ == nullptr || out.handle_ == kNoHandle || offset > size_ || length > size_ - offset) return failedAt("", 0);
  if (length > 0 && injectedFailure(FaultOperation::Write)) return failedAt("", ::GetLastError());
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 20;
  for (std::uint64_t at = offset; at < offset + length; at += kPiece) {
    const auto piece = static_cast<std::size_t>(std::min(kPiece, offset + length - at));
    if (!writeAll(asHandle(out.handle_), data_ + at, piece)) return failedAt("", ::GetLastError());
  }
  return true;
}

// ---- Times -------------------------------------------------------------------------------

FileTime currentFileTime() {
  FILETIME now;
  ::GetSystemTimePreciseAsFileTime(&now);
  return fromFiletime(now);
}

bool setFileTimes(const std::string& path, FileTime creation, FileTime access, FileTime write) {
  const std::wstring name = systemPath(path);
  if (name.empty() || isDeviceName(name)) return false;
  const cHandle handle(::CreateFileW(name.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return false;
  const FILETIME c = toFiletime(creation);
  const FILETIME a = toFiletime(access);
  const FILETIME w = toFiletime(write);
  return ::SetFileTime(handle.get(), &c, &a, &w) != 0;
}

bool readFileTimes(const std::string& path, FileTimes& times) {
  const std::wstring name = systemPath(path);
  if (name.empty() || isDeviceName(name)) return false;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return false;
  FILETIME creation = data.ftCreationTime;
  FILETIME access = data.ftLastAccessTime;
  FILETIME written = data.ftLastWriteTime;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // The times above are the link's own: read its target's.
    const cHandle target(openForQuery(name, true));
    if (!target.valid() || !::GetFileTime(target.get(), &creation, &access, &written)) return false;
  }
  times.creation = fromFiletime(creation);
  times.access = fromFiletime(access);
  times.write = fromFiletime(written);
  return true;
}

bool localFileTimeToUtc(FileTime local, FileTime& utc) {
  const FileTime fraction = local % kFileTimeTicksPerSecond;
  const FILETIME whole = toFiletime(local - fraction);
  SYSTEMTIME localTime;
  if (!::FileTimeToSystemTime(&whole, &localTime)) return false;
  // The zone's rules for the date's own year (its daylight saving dates and
  // offsets as they were then), where the system knows them; else this
  // year's rules.
  DYNAMIC_TIME_ZONE_INFORMATION dynamicZone;
  TIME_ZONE_INFORMATION zone;
  const bool ofThatYear = ::GetDynamicTimeZoneInformation(&dynamicZone) != TIME_ZONE_ID_INVALID &&
                          ::GetTimeZoneInformationForYear(localTime.wYear, &dynamicZone, &zone);
  SYSTEMTIME universalTime;
  FILETIME converted;
  if (!::TzSpecificLocalTimeToSystemTime(ofThatYear ? &zone : nullptr, &localTime, &universalTime) ||
      !::SystemTimeToFileTime(&universalTime, &converted))
    return false;
  utc = fromFiletime(converted) + fraction;
  return true;
}

// ---- File-system changes ------------------------------------------------------------------

bool copyFileNoOverwrite(const std::string& from, const std::string& to) {
  // The source stays open (reading shared) while it is copied: nobody writes it meanwhile.
  File source;
  if (injectedFailure(FaultOperation::Copy)) return failedAt(to, ::GetLastError());
  if (!source.open(from, File::Mode::Read)) return false;
  const std::optional<std::uint64_t> size = source.size();
  if (!size) return failedAt(from, ::GetLastError());
  // Never through a link of that name, dangling or not.
  if (entryExists(to)) return failedAt(to, ERROR_FILE_EXISTS);
  // The copy inside the system counts as the write and the close POSIX makes.
  if (*size > 0 && injectedFailure(FaultOperation::Write)) return failedAt(to, ::GetLastError());
  const std::wstring target = systemPath(to);
  if (!::CopyFileW(systemPath(from).c_str(), target.c_str(), TRUE)) {
    // A copy that fails half way (a full disk) is taken away again rather
    // than left looking like a backup; a target that was there stays.
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) deleteFile(target);
    return failedAt(to, error);
  }
  if (injectedFailure(FaultOperation::Close)) {
    deleteFile(target);
    return failedAt(to, ERROR_WRITE_FAULT);
  }
  return true;
}

namespace {

bool failWithReason(std::string* reason, DWORD error, const std::string& path) {
  if (reason) *reason = systemText(error) + ": " + path;
  return false;
}

DWORD lastErrorOr(DWORD fallback) {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : fallback;
}

// A link made anew at `to` with the reparse data of the one at `from`: a
// junction or a symbolic link to the same target, never followed.
bool copyLink(const std::wstring& from, const std::wstring& to, bool folder) {
  std::vector<char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD length = 0;
  {
    const cHandle source(::CreateFileW(from.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!source.valid() || !::DeviceIoControl(source.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                                              static_cast<DWORD>(data.size()), &length, nullptr))
      return false;
  }
  if (injectedFailure(FaultOperation::Copy)) return false;
  if (folder) {
    if (!::CreateDirectoryW(to.c_str(), nullptr)) return false;
  } else {
    const cHandle made(::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!made.valid()) return false;
  }
  bool linked = false;
  {
    const cHandle target(::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD unused = 0;
    linked = target.valid() && ::DeviceIoControl(target.get(), FSCTL_SET_REPARSE_POINT, data.data(), length, nullptr, 0,
                                                 &unused, nullptr);
  }
  if (!linked) {
    const DWORD error = ::GetLastError();
    if (folder) {
      ::RemoveDirectoryW(to.c_str());
    } else {
      ::DeleteFileW(to.c_str());
    }
    ::SetLastError(error);
  }
  return linked;
}

bool copyItem(const std::string& from, const std::string& to, std::string* reason);

// Copies what the folder `from` holds into the existing folder `to`.
bool copyContents(const std::string& from, const std::string& to, std::string* reason) {
  bool itemFailed = false;
  const bool listed = forEachItem(withLongPrefix(systemPath(from)), [&](const WIN32_FIND_DATAW& data) {
    const std::string name = narrow(data.cFileName);
    if (copyItem(from + "\\" + name, to + "\\" + name, reason)) return true;
    itemFailed = true;
    return false;
  });
  if (listed) return true;
  return itemFailed ? false : failWithReason(reason, lastErrorOr(ERROR_READ_FAULT), from);
}

// A file as a file, a folder as a folder, a link as a link (never followed).
bool copyItem(const std::string& from, const std::string& to, std::string* reason) {
  const std::wstring source = systemPath(from);
  const DWORD attributes = ::GetFileAttributesW(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return failWithReason(reason, ::GetLastError(), from);
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const DWORD tag = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? reparseTagOf(source) : 0;
  if (isSpecialTag(tag)) return failWithReason(reason, ERROR_NOT_SUPPORTED, from);
  if (isLinkTag(tag)) {
    return copyLink(source, systemPath(to), folder) ? true : failWithReason(reason, lastErrorOr(ERROR_WRITE_FAULT), to);
  }
  if (!folder) {
    return copyFileNoOverwrite(from, to) ? true : failWithReason(reason, lastErrorOr(ERROR_WRITE_FAULT), to);
  }
  if (makeFolder(to) != MakeFolderResult::Made) return failWithReason(reason, lastErrorOr(ERROR_ALREADY_EXISTS), to);
  return copyContents(from, to, reason);
}

}  // namespace

bool copyTree(const std::string& from, const std::string& to, std::string* reason) {
  // The top folder itself is followed when it is a link: its contents are copied.
  std::string top = from;
  while (top.size() > 1 && (top.back() == '/' || top.back() == '\\') && top[top.size() - 2] != ':') top.pop_back();
  if (pathKind(to) != PathKind::Folder) return failWithReason(reason, ERROR_DIRECTORY, to);
  if (pathKind(top) != PathKind::Folder) return failWithReason(reason, ERROR_DIRECTORY, from);
  return copyContents(top, to, reason);
}

MakeFolderResult makeFolder(const std::string& path) {
  if (injectedFailure(FaultOperation::MakeFolder)) {
    failedAt(path, ::GetLastError());
    return MakeFolderResult::Failed;
  }
  const std::wstring name = systemPath(path);
  if (name.empty()) {
    failedAt(path, ERROR_PATH_NOT_FOUND);
    return MakeFolderResult::Failed;
  }
  if (::CreateDirectoryW(name.c_str(), nullptr)) return MakeFolderResult::Made;
  const DWORD error = ::GetLastError();
  failedAt(path, error);
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MakeFolderResult::Exists
                                                                     : MakeFolderResult::Failed;
}

bool makeFolders(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  if (folder.empty()) return failedAt(path, ERROR_PATH_NOT_FOUND);
  if (pathKind(folder) == PathKind::Folder) return true;
  if (makeFolder(folder) == MakeFolderResult::Failed && ::GetLastError() == ERROR_PATH_NOT_FOUND) {
    const std::size_t slash = folder.find_last_of("/\\");
    if (slash == std::string::npos || slash == 0 || !makeFolders(folder.substr(0, slash))) return false;
    makeFolder(folder);
  }
  // Whatever the calls said: another thread or program may have made it meanwhile.
  return pathKind(folder) == PathKind::Folder;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
  if (injectedFailure(FaultOperation::Rename)) return failedAt(to, ::GetLastError());
  return ::MoveFileExW(systemPath(from).c_str(), systemPath(to).c_str(), 0) != 0 ? true
                                                                                 : failedAt(to, ::GetLastError());
}

// A read-only target is replaced as on POSIX (where only the folder's
// permissions count): the job was asked to write that path. When the rename
// fails the target keeps its attribute.
bool renameReplacing(const std::string& from, const std::string& to) {
  if (injectedFailure(FaultOperation::Rename)) return failedAt(to, ::GetLastError());
  const std::wstring target = systemPath(to);
  const DWORD attributes = dropReadOnly(target);
  if (::MoveFileExW(systemPath(from).c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  restoreAttributes(target, attributes);
  return failedAt(to, ::GetLastError());
}

bool removeFile(const std::string& path) {
  if (injectedFailure(FaultOperation::Remove)) return failedAt(path, ::GetLastError());
  const std::wstring name = systemPath(path);
  if (name.empty()) return failedAt(path, ERROR_PATH_NOT_FOUND);
  return deleteFile(name) ? true : failedAt(path, ::GetLastError());
}

namespace {

// A folder that was just emptied can still hold names for a moment: a file
// that another program (a virus scanner, the search indexer) has open is
// deleted only when it closes it.
bool removeEmptyFolder(const std::wstring& path) {
  for (int attempt = 0;; ++attempt) {
    if (::RemoveDirectoryW(path.c_str())) return true;
    if (::GetLastError() != ERROR_DIR_NOT_EMPTY || attempt == 20) return false;
    ::Sleep(10);
  }
}

// Removes one item found in a folder (or the top of the tree): a link as a
// link, a folder with everything in it.
bool removeItem(const std::wstring& path, DWORD attributes, std::string* reason) {
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!folder) return deleteFile(path) ? true : failWithReason(reason, ::GetLastError(), displayPath(path));
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
    ::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  // Never into a reparse point: a link or junction goes, what it leads to stays.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    bool itemFailed = false;
    const std::wstring prefix = folderPrefix(path);
    const bool emptied = forEachItem(path, [&](const WIN32_FIND_DATAW& data) {
      if (removeItem(prefix + data.cFileName, data.dwFileAttributes, reason)) return true;
      itemFailed = true;
      return false;
    });
    if (!emptied) return itemFailed ? false : failWithReason(reason, lastErrorOr(ERROR_READ_FAULT), displayPath(path));
  }
  return removeEmptyFolder(path) ? true : failWithReason(reason, ::GetLastError(), displayPath(path));
}

}  // namespace

bool removeEmptyFolder(const std::string& path) {
  if (injectedFailure(FaultOperation::Remove)) return false;
  std::wstring folder = systemPath(path);
  while (folder.size() > 1 && isSeparator(folder.back()) && folder[folder.size() - 2] != L':') folder.pop_back();
  if (folder.empty() || isDeviceName(folder)) return false;
  return ::RemoveDirectoryW(folder.c_str()) != 0;
}

bool removeTree(const std::string& path, std::string* reason) {
  if (injectedFailure(FaultOperation::Remove)) return failWithReason(reason, ERROR_WRITE_FAULT, path);
  // Without trailing separators: "link\" would name the folder a link leads to.
  std::wstring top = systemPath(path);
  while (top.size() > 1 && isSeparator(top.back()) && top[top.size() - 2] != L':') top.pop_back();
  if (top.empty() || isDeviceName(top)) return failWithReason(reason, ERROR_INVALID_NAME, path);
  const DWORD attributes = ::GetFileAttributesW(top.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? true : failWithReason(reason, error, path);
  }
  return removeItem(withLongPrefix(top), attributes, reason);
}

void failGuardZeroPages(bool) {}

// ---- Requests to stop -------------------------------------------------------------------

namespace {

// The signal numbers that POSIX gives the same requests (MinGW's headers
// lack SIGHUP).
constexpr int kSignalHangUp = 1;
constexpr int kSignalInterrupt = 2;
constexpr int kSignalTerminate = 15;

std::atomic<int> stopSignal{0};
std::function<void()>* stopCallback = nullptr;

// The system calls it on a thread of its own: the stop is made right here.
BOOL WINAPI onConsoleEvent(DWORD event) {
  const int signal = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? kSignalInterrupt
                     : event == CTRL_CLOSE_EVENT                        ? kSignalHangUp
                                                                        : kSignalTerminate;
  int none = 0;
  // A second request: the next handler, the system's own, ends the program.
  if (!stopSignal.compare_exchange_strong(none, signal)) return FALSE;
  (*stopCallback)();
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The system ends the program once this returns: wait for it to end by
  // itself (its main thread removes the job's work first).
  ::Sleep(INFINITE);
  return TRUE;
}

}  // namespace

bool watchStopRequests(std::function<void()> onStop) {
  if (stopCallback != nullptr) return false;
  stopCallback = new std::function<void()>(std::move(onStop));  // for the program's life
  return ::SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

int stopRequestSignal() { return stopSignal.load(); }

// ---- The command line -------------------------------------------------------------------

std::vector<std::string> commandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(narrow(words[i]));
  ::LocalFree(words);
  return arguments;
}

void useUtf8StandardStreams() {
  ::SetConsoleOutputCP(CP_UTF8);
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool standardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// The visible window, not the screen buffer: a buffer wider than the window
// scrolls sideways, and a line that fits the window fits the buffer.
std::size_t terminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<std::size_t>(columns) : 0;
}

// ---- Places -----------------------------------------------------------------------------

std::optional<std::string> environmentVariable(const char* name) {
  const std::wstring wideName = widen(name);
  if (wideName.empty()) return std::nullopt;
  std::wstring value(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();  // set, but empty
    }
    if (length < value.size()) {
      value.resize(length);
      return narrow(value);
    }
    value.resize(length);  // too small: the length asked for includes the terminator
  }
}

bool setEnvironmentVariable(const char* name, const std::optional<std::string>& value) {
  const std::wstring wideName = widen(name);
  if (wideName.empty()) return false;
  if (!value) return ::SetEnvironmentVariableW(wideName.c_str(), nullptr) != 0;
  const std::wstring wideValue = widen(*value);
  return ::SetEnvironmentVariableW(wideName.c_str(), wideValue.c_str()) != 0;
}

std::string userSettingsBaseFolder() {
  // The variable first: the shell's folder ignores it, and a changed
  // LOCALAPPDATA (a portable setup, a test) must be obeyed.
  const auto fromEnvironment = environmentVariable("LOCALAPPDATA");
  if (fromEnvironment) {
    const std::string& v = *fromEnvironment;
    const bool drive =
        v.size() >= 3 && isLetter(static_cast<wchar_t>(v[0])) && v[1] == ':' && isSeparator(static_cast<wchar_t>(v[2]));
    const bool network = v.size() >= 3 && isSeparator(static_cast<wchar_t>(v[0])) &&
                         isSeparator(static_cast<wchar_t>(v[1])) && !isSeparator(static_cast<wchar_t>(v[2]));
    if (drive || network) return v;
  }
  wchar_t folder[MAX_PATH];
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
  return narrow(folder);
}

std::string userTemporaryFolder() {
  // GetTempPathW reads %TMP%, %TEMP%, %USERPROFILE%, in that order: the
  // user's own folder.
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return {};
  std::wstring_view view(folder, length);
  if (view.size() > 3 && isSeparator(view.back())) view.remove_suffix(1);  // "C:\" keeps its separator
  return narrow(view);
}

// ---- File names -------------------------------------------------------------------------

// NTFS compares names by its upper-case table, one UTF-16 unit at a time;
// the system's own upper-case mapping (file-system casing, not a
// language's) gives the same. A surrogate is no letter: it stays.
std::string fileNameKey(std::string_view name) {
  std::wstring wide = widen(name);
  const auto isSurrogate = [](wchar_t c) { return c >= 0xD800 && c <= 0xDFFF; };
  std::size_t start = 0;
  while (start < wide.size()) {
    if (isSurrogate(wide[start])) {
      ++start;
      continue;
    }
    std::size_t end = start;
    while (end < wide.size() && !isSurrogate(wide[end])) ++end;
    const int length = static_cast<int>(std::min<std::size_t>(end - start, INT_MAX));
    std::wstring upper(static_cast<std::size_t>(length), L'\0');
    // The same length: simple case mapping is one unit for one unit.
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data() + start, length, upper.data(), length,
                        nullptr, nullptr, 0) == length)
      std::copy(upper.begin(), upper.end(), wide.begin() + static_cast<std::ptrdiff_t>(start));
    start += static_cast<std::size_t>(length);
  }
  return narrow(wide);
}

std::string executablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return narrow(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace plimsy::platform
