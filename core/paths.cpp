#include "core/paths.h"

#include <exception>
#include <system_error>

#include "core/message.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

bool isWindowsSeparator(char c) { return c == '\\' || c == '/'; }
bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void dropTrailing(std::string& text, char c) {
  while (!text.empty() && text.back() == c) text.pop_back();
}

// True for "." and "..", "../..", "./" and the like: a relative path that
// climbs without naming a folder. The empty path (different roots) is not.
bool consistsOfDotsOnly(const fs::path& relative) {
  if (relative.empty()) return false;
  for (const fs::path& element : relative) {
    if (!element.empty() && element != "." && element != "..") return false;
  }
  return true;
}

// A path as names are compared on this system: Windows ignores the case of
// letters (ASCII letters here; the file system's own table covers more).
fs::path comparable(const fs::path& path) {
  if constexpr (!kWindowsNameRules) return path;
  std::string text = utf8FromPath(path);
  for (char& c : text) c = asciiLower(c);
  return pathFromUtf8(text);
}

bool isAbsoluteHere(const std::string& path) {
  bool absolute = false;
  return isAbsolutePath(nullptr, path, absolute) && absolute;
}

}  // namespace

// ---- Separators and names ----------------------------------------------------

bool endsWithSeparator(std::string_view path) { return !path.empty() && isSeparator(path.back()); }

std::string withTrailingSeparator(std::string_view path) {
  std::string result(path);
  if (!endsWithSeparator(result)) result += kPreferredSeparator;
  return result;
}

std::string joinPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string result = withTrailingSeparator(folder);
  result += name;
  return result;
}

std::string_view fileNamePart(std::string_view path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    const bool boundary = isSeparator(path[i]) || (kBackslashIsSeparator && path[i] == ':');
    if (boundary && !isSeparator(path[i + 1])) start = i + 1;
  }
  return path.substr(start);
}

std::string_view extensionPart(std::string_view path) {
  std::size_t dot = std::string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (isSeparator(path[i]) || path[i] == ' ') {
      dot = std::string_view::npos;
    } else if (path[i] == '.') {
      dot = i;
    }
  }
  return dot == std::string_view::npos ? std::string_view() : path.substr(dot);
}

namespace {

// "." and "..", and the names that Windows trims to them (". ", ".. .").
bool isDotsAndSpaces(std::string_view name) { return name.find_first_not_of(". ") == std::string_view::npos; }

}  // namespace

std::string folderNamedAfterFile(std::string_view file) {
  const std::string_view name = fileNamePart(file);
  const std::string_view extension = extensionPart(name);
  if (extension.empty() || endsWithSeparator(name)) return {};
  const std::string_view stem = name.substr(0, name.size() - extension.size());
  if (isDotsAndSpaces(stem)) return {};
  return std::string(file.substr(0, file.size() - extension.size()));
}

std::string epubNamedAfterFolder(std::string_view folder) {
  while (endsWithSeparator(folder)) folder.remove_suffix(1);
  const std::string_view name = fileNamePart(folder);
  if (isDotsAndSpaces(name) || (kBackslashIsSeparator && name.back() == ':')) return {};
  return std::string(folder) + ".epub";
}

fs::path pathFromUtf8(std::string_view text) {
  if constexpr (kBackslashIsSeparator) {
    // Windows paths are UTF-16: let the library decode the UTF-8.
    return fs::path(std::u8string(text.begin(), text.end()));
  } else {
    return fs::path(std::string(text));
  }
}

std::string utf8FromPath(const fs::path& path) {
  if constexpr (kBackslashIsSeparator) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  } else {
    return path.string();
  }
}

// ---- Absolute paths ------------------------------------------------------------

bool isAbsolutePath(std::string* message, const std::string& path, bool& absolute) {
  try {
    const fs::path object = pathFromUtf8(path);
    // The library's Windows rule misses network and device paths
    // ("\\server\share", "\\?\C:\x"): the table is applied instead.
    absolute = kBackslashIsSeparator ? isWindowsAbsolutePath(path) : object.is_absolute();
    return true;
  } catch (...) {
    return fail(message, withPathAndReason("Unable to determine whether path is absolute.", path, ""));
  }
}

bool isWindowsAbsolutePath(std::string_view p) {
  if (p.size() >= 2 && isAsciiLetter(p[0]) && p[1] == ':') return p.size() >= 3 && isWindowsSeparator(p[2]);
  if (p.size() < 2 || !isWindowsSeparator(p[0])) return false;
  // The device prefixes \\?\, \??\ and \\.\ (a further separator right after
  // the prefix makes them something else).
  const bool devicePrefix =
      p.size() >= 4 && isWindowsSeparator(p[3]) && (p.size() == 4 || !isWindowsSeparator(p[4])) &&
      ((isWindowsSeparator(p[1]) && (p[2] == '?' || p[2] == '.')) || (p[1] == '?' && p[2] == '?'));
  if (devicePrefix) return true;
  // A network path: two separators, then a server name.
  return p.size() >= 3 && isWindowsSeparator(p[1]) && !isWindowsSeparator(p[2]);
}

bool isNameWindowsCannotHold(std::string_view part) {
  if (part.empty() || part == "." || part == "..") return false;
  if (!isValidUtf8(part)) return true;  // Windows names are Unicode: these bytes would become another name
  if (part.back() == '.' || part.back() == ' ') return true;
  for (const char c : part) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
      return true;
  }
  // The device name is what comes before the first dot, trailing spaces dropped.
  std::string stem(part.substr(0, part.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = asciiUpper(c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9';
}

// ---- Folders and names -----------------------------------------------------------

bool parentFolder(std::string* message, const std::string& path, std::string& folder) {
  bool absolute = false;
  if (!isAbsolutePath(nullptr, path, absolute))
    return fail(message, withPathAndReason("Unable to get parent path.", path, ""));
  if (!absolute) return fail(message, formatText("Path is not absolute.\n%s", path));
  try {
    std::string copy = path;
    if constexpr (kBackslashIsSeparator) dropTrailing(copy, '\\');
    dropTrailing(copy, '/');
    if (copy.empty()) copy = path.substr(0, 1);                     // nothing but separators: the root
    if (kBackslashIsSeparator && copy.back() == ':') copy += '\\';  // a bare drive means its root
    folder = utf8FromPath(pathFromUtf8(copy).parent_path());
    return true;
  } catch (...) {
    return fail(message, withPathAndReason("Unable to get parent path.", path, ""));
  }
}

bool uniqueFileName(std::string* message, std::string_view folder, std::string_view base, std::string_view extension,
                    std::string& name, std::uint32_t lastNumber) {
  std::string prefix(folder);
  if (!prefix.empty() && !endsWithSeparator(prefix)) prefix += kPreferredSeparator;
  prefix += base;
  std::string suffix;
  if (!extension.empty()) {
    suffix = ".";
    suffix += extension;
  }
  for (std::uint32_t n = 1; n <= lastNumber; ++n) {
    std::string candidate = prefix + std::to_string(n) + suffix;
    // A dangling link takes its name too: writing there would follow it.
    if (!platform::entryExists(candidate)) {
      name = std::move(candidate);
      return true;
    }
  }
  // Every number up to the last is taken in the folder, which is named.
  return fail(message, withPathAndReason("Unable to generate unique filename.", folder, ""));
}

ClaimResult claimUniqueName(std::string* message, std::string_view folder, std::string_view base,
                            std::string_view extension, const std::function<ClaimResult(const std::string&)>& claim,
                            std::string& name, std::uint32_t lastNumber) {
  std::string candidate;
  // Each look finds the first free number; a name taken under our feet at
  // every look still ends the search.
  for (std::uint32_t attempt = 1; attempt <= lastNumber; ++attempt) {
    if (!uniqueFileName(nullptr, folder, base, extension, candidate, lastNumber)) break;
    switch (claim(candidate)) {
      case ClaimResult::Claimed: name = std::move(candidate); return ClaimResult::Claimed;
      case ClaimResult::Failed: return ClaimResult::Failed;
      case ClaimResult::Taken: break;  // by another job since it was found free: look again
    }
  }
  fail(message, withPathAndReason("Unable to generate unique filename.", folder, ""));
  return ClaimResult::Taken;
}

bool ensureParentFolder(const std::string& path) {
  const std::string_view name = fileNamePart(path);
  std::string folder = path.substr(0, path.size() - name.size());
  if (folder.empty()) return false;
  if (!endsWithSeparator(folder)) folder += kPreferredSeparator;
  const PathKind kind = pathKind(folder);
  if (kind != PathKind::Missing) return kind == PathKind::Folder;
  return platform::makeFolders(folder);
}

bool isInDirectoryTree(std::string* message, const std::string& path, const std::string& directory, bool& inTree) {
  if (!isAbsoluteHere(path)) return fail(message, "Path is not absolute.");
  if (!isAbsoluteHere(directory)) return fail(message, "Directory path is not absolute.");
  try {
    const fs::path item = pathFromUtf8(path);
    const fs::path tree = pathFromUtf8(directory);
    if (pathKind(path) != PathKind::Missing && pathKind(directory) != PathKind::Missing && fs::equivalent(item, tree)) {
      inTree = true;
      return true;
    }
    inTree = consistsOfDotsOnly(
        comparable(fs::weakly_canonical(tree)).lexically_relative(comparable(fs::weakly_canonical(item))));
    return true;
  } catch (const fs::filesystem_error& error) {
    return fail(message, formatText("Unable to determine if path is in directory tree. %S", std::string(error.what())));
  } catch (...) {
    return fail(message, "Unable to determine if path is in directory tree.");
  }
}

// ---- Times and places ----------------------------------------------------------------

bool setTimes(FileTime creation, FileTime access, FileTime write, const std::string& path) {
  return platform::setFileTimes(path, creation, access, write);
}

bool temporaryFolder(std::string& folder) {
  folder = platform::userTemporaryFolder();
  return !folder.empty();
}

}  // namespace plimsy
