#include "ui/ui_values.h"

#include <charconv>
#include <filesystem>
#include <vector>

#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/crc32.h"
#include "version.h"

namespace plimsy::ui {

sVersionRecord parseVersionRecord(std::string_view fileVersion) {
  std::uint32_t numbers[4] = {};
  const char* next = fileVersion.data();
  const char* end = fileVersion.data() + fileVersion.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (next == end || *next != '.') return {};
      ++next;
    }
    const auto [after, error] = std::from_chars(next, end, numbers[i]);
    if (error != std::errc()) return {};
    next = after;
  }
  if (next != end) return {};
  return {numbers[0] & 0xFF, numbers[1] & 0xFF, numbers[2] & 0xFF, numbers[3] & 0xFF};
}

std::string windowTitle(const sVersionRecord& version) {
  return formatText("%s for Epubs version %u.%u", std::string(kApplicationName), version.minor, version.build);
}

std::string windowTitle() { return windowTitle(uiValues().version); }

// On Windows the system registers the message (ui/win32).
#ifndef _WIN32
std::uint32_t instanceQueryMessage() { return 0xC000u + crc32Of(kInstanceGuid.data(), kInstanceGuid.size()) % 0x4000u; }
#endif

const sUiValues& uiValues() {
  static const sUiValues values = [] {
    sUiValues made;
    made.version = parseVersionRecord(kFileVersion);
    made.instanceQueryMessage = instanceQueryMessage();
    return made;
  }();
  return values;
}

std::string helpPagePath() {
  std::vector<std::string> candidates;
  const std::string program = platform::executablePath();
  if (!program.empty()) {
    const std::filesystem::path folder = pathFromUtf8(program).parent_path();
    for (const char* relative : {"help.html", "docs/help.html", "../share/plimsy/help.html"})
      candidates.push_back(utf8FromPath(folder / pathFromUtf8(relative)));
  }
#ifdef PLIMSY_SOURCE_DIR
  candidates.push_back(utf8FromPath(pathFromUtf8(PLIMSY_SOURCE_DIR) / "docs" / "help.html"));
#endif
  for (const std::string& candidate : candidates) {
    if (platform::pathKind(candidate) != platform::PathKind::File) continue;
    std::error_code error;
    const std::filesystem::path clean = std::filesystem::weakly_canonical(pathFromUtf8(candidate), error);
    return error ? candidate : utf8FromPath(clean.lexically_normal().make_preferred());
  }
  return {};
}

}  // namespace plimsy::ui
