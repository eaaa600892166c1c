#include "core/settings_file.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "core/message.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/settings.h"
#include "core/text.h"

namespace fs = std::filesystem;

namespace plimsy {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineSeparator = "\xE2\x80\xA8";       // U+2028
constexpr std::string_view kParagraphSeparator = "\xE2\x80\xA9";  // U+2029

// ---- Paths ---------------------------------------------------------------------

bool isAbsoluteFolder(const std::string& folder) {
  bool absolute = false;
  return isAbsolutePath(nullptr, folder, absolute) && absolute;
}

fs::path settingsFolderBelow(const std::string& baseFolder) { return pathFromUtf8(baseFolder) / "Tarnwick" / "Plimsy"; }

// Errors are not reported here: writing the file then fails.
void makeFolders(const fs::path& folder) {
  if (!folder.empty()) platform::makeFolders(utf8FromPath(folder));
}

// A name beside `path` that no other save (of this or another process) uses
// at the same time, so that two saves never write into one temporary file.
std::string temporaryPathBeside(const std::string& path) {
  static std::atomic<std::uint64_t> counter{0};
  const auto ticks = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto thread = static_cast<std::uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
  const std::uint64_t unique = (ticks ^ thread) & 0xFFFFFFFFFFFFull;
  return path + ".tmp-" + std::to_string(unique) + "-" + std::to_string(counter.fetch_add(1));
}

bool writeWholeFile(const std::string& path, std::string_view bytes) {
  platform::File file;
  if (!file.open(path, platform::File::Mode::CreateNew)) return false;
  const bool written = file.write(bytes.data(), bytes.size());
  return file.close() && written;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
  platform::File file;
  if (!file.open(path, platform::File::Mode::Read)) return false;
  std::array<char, 65536> buffer;
  while (const std::size_t count = file.read(buffer.data(), buffer.size())) bytes.append(buffer.data(), count);
  return !file.failed();
}

// ---- Reader --------------------------------------------------------------------

bool isOneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

// "<?xml ...?>" and "<!-- ... -->".
bool isDeclarationOrComment(std::string_view text, const XmlElement& tag) {
  return isOneOf(text[tag.tagStart + 1], "?!");
}

bool isEndTag(std::string_view text, const XmlElement& tag) { return text[tag.tagStart + 1] == '/'; }

// The character before the ">" is "/". A tag is at least "<>", so the index
// never goes before the "<".
bool isSelfClosing(std::string_view text, const XmlElement& tag) { return text[tag.tagEnd - 2] == '/'; }

std::size_t nameEndAt(std::string_view text, std::size_t nameStart, std::size_t greaterThan) {
  std::size_t i = nameStart;
  while (i < greaterThan) {
    const char c = text[i];
    if (isTrimmedWhiteSpace(c) || c == '=') break;
    if (i + 1 == greaterThan && isOneOf(c, "!/?")) break;
    ++i;
  }
  return i;
}

// ---- Numbers -------------------------------------------------------------------

int digitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

std::uint64_t parseUnsigned(std::string_view text, std::uint64_t maximum) {
  std::size_t i = 0;
  while (i < text.size() && isTrimmedWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i < text.size() && text[i] == '0') {
    base = 8;
    // "0x" without a hexadecimal digit after it reads as 0 either way.
    if (i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
      base = 16;
      i += 2;
    }
  }
  std::uint64_t value = 0;
  bool tooLarge = false;
  for (; i < text.size(); ++i) {
    const auto digit = static_cast<unsigned>(digitValue(text[i]));
    if (digit >= base) break;
    if (value > (maximum - digit) / base)
      tooLarge = true;
    else
      value = value * base + digit;
  }
  if (tooLarge) return maximum;
  return negative ? (0 - value) & maximum : value;
}

}  // namespace

// ---- Location ------------------------------------------------------------------

std::string settingsBaseFolder() {
  std::string folder = platform::userSettingsBaseFolder();
  return isAbsoluteFolder(folder) ? folder : std::string();
}

std::string settingsFilePathBelow(const std::string& baseFolder) {
  if (baseFolder.empty()) return {};
  const fs::path folder = settingsFolderBelow(baseFolder);
  makeFolders(folder);
  return utf8FromPath(folder / "settings.xml");
}

std::string settingsFilePath() {
  static const std::string path = [] {
    const std::string base = settingsBaseFolder();
    return base.empty() ? std::string() : utf8FromPath(settingsFolderBelow(base) / "settings.xml");
  }();
  if (!path.empty()) makeFolders(pathFromUtf8(path).parent_path());
  return path;
}

// ---- Encoding ------------------------------------------------------------------

std::string settingsFileBytes(std::string_view text) {
  std::string bytes(kByteOrderMark);
  bytes.reserve(bytes.size() + text.size() + text.size() / 16);
  for (const char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

std::string settingsFileText(std::string_view bytes, std::size_t& characterCount) {
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  const std::string decoded = displayUtf8(bytes);
  characterCount = utf8Length(decoded);
  std::string text;
  text.reserve(decoded.size());
  const std::string_view view(decoded);
  for (std::size_t i = 0; i < view.size(); ++i) {
    if (view[i] == '\n' || view[i] == '\r') continue;
    const std::string_view rest = view.substr(i);
    if (rest.starts_with(kLineSeparator) || rest.starts_with(kParagraphSeparator)) {
      i += 2;
      continue;
    }
    text += view[i];
  }
  return text;
}

// ---- Numbers -------------------------------------------------------------------

std::uint32_t parseUnsigned32(std::string_view text) {
  return static_cast<std::uint32_t>(parseUnsigned(text, 0xFFFFFFFFu));
}

std::uint64_t parseUnsigned64(std::string_view text) { return parseUnsigned(text, 0xFFFFFFFFFFFFFFFFull); }

// ---- Reader --------------------------------------------------------------------

bool nextTag(std::string_view text, XmlRange range, std::size_t& position, XmlElement& tag) {
  const std::size_t end = std::min(range.end, text.size());
  std::size_t lessThan = std::max(position, range.start);
  while (lessThan < end && text[lessThan] != '<' && text[lessThan] != '\0') ++lessThan;
  if (lessThan >= end || text[lessThan] != '<') {
    position = end;
    return false;
  }
  std::size_t greaterThan = lessThan + 1;
  while (greaterThan < end && text[greaterThan] != '>') ++greaterThan;
  if (greaterThan >= end) {
    position = end;
    return false;
  }
  tag.tagStart = lessThan;
  tag.tagEnd = greaterThan + 1;
  tag.nameStart = lessThan + 1;
  if (isOneOf(text[tag.nameStart], "!/?")) ++tag.nameStart;
  tag.nameEnd = nameEndAt(text, tag.nameStart, greaterThan);
  tag.contentStart = tag.contentEnd = tag.elementEnd = tag.tagEnd;
  position = tag.tagEnd;
  return true;
}

bool rootElement(std::string_view text, XmlElement& root) {
  const XmlRange whole{0, text.size()};
  std::size_t position = 0;
  XmlElement tag;
  do {
    if (!nextTag(text, whole, position, tag)) return false;
  } while (isDeclarationOrComment(text, tag));
  root = tag;
  if (isSelfClosing(text, root)) return true;
  // The first end tag of the same name closes the root; nesting is not counted.
  while (nextTag(text, whole, position, tag)) {
    if (isEndTag(text, tag) && tag.name(text) == root.name(text)) {
      root.contentEnd = tag.tagStart;
      root.elementEnd = tag.tagEnd;
      return true;
    }
  }
  root.contentEnd = root.elementEnd = text.size();
  return true;
}

bool findElement(std::string_view text, XmlRange range, std::string_view name, XmlElement& element) {
  std::size_t position = range.start;
  XmlElement tag;
  while (nextTag(text, range, position, tag)) {
    if (tag.name(text) != name) continue;
    element = tag;
    if (isSelfClosing(text, tag)) return true;
    std::size_t depth = 1;
    while (nextTag(text, range, position, tag)) {
      if (tag.name(text) != name || isSelfClosing(text, tag)) continue;
      if (!isEndTag(text, tag)) {
        ++depth;
      } else if (--depth == 0) {
        element.contentEnd = tag.tagStart;
        element.elementEnd = tag.tagEnd;
        return true;
      }
    }
    return false;
  }
  return false;
}

// ---- The process-wide settings object and its file ---------------------------------

bool writeSettingsFile(const cSettings& settings, const std::string& path, std::string* message) {
  if (path.empty()) return fail(message, "There is no folder for the settings file.");
  std::string text;
  settings.writeXml(text);
  makeFolders(pathFromUtf8(path).parent_path());
  const std::string temporary = temporaryPathBeside(path);
  if (writeWholeFile(temporary, settingsFileBytes(text)) && platform::renameReplacing(temporary, path)) return true;
  platform::removeFile(temporary);
  return fail(message, formatText("Unable to write the settings file\n%s", path));
}

bool saveSettings() {
  // Two saves (the user interface's and a worker's) run one after the other,
  // and the later one writes the later state.
  static std::mutex saveMutex;
  std::lock_guard lock(saveMutex);
  const cSettings snapshot = settingsSnapshot();
  return writeSettingsFile(snapshot, snapshot.settingsFilePath());
}

bool loadSettings(const std::string& text) {
  updateSettings([&text](cSettings& settings) { settings.readXml(text); });
  return true;
}

bool loadSettingsFile(const std::string& path) {
  std::string bytes;
  if (path.empty() || !readWholeFile(path, bytes)) return false;
  std::size_t characterCount = 0;
  const std::string text = settingsFileText(bytes, characterCount);
  if (characterCount == 0) return false;
  return loadSettings(text);
}

bool loadSettingsFile() { return loadSettingsFile(settingsFilePath()); }

}  // namespace plimsy
