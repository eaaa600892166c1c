#pragma once

// The process-wide values of the user interface and the operations both
// dialogs share: the version record, the instance-query message, the window
// title and the user guide.

#include <cstdint>
#include <string>
#include <string_view>

namespace plimsy::ui {

// The name of the single-instance objects (the lock file and the local
// server, each with the user id appended) and of the instance query.
inline constexpr std::string_view kInstanceGuid = "{D6AB89FD-7D83-4A77-AC09-BD93BA12A102}";

// The address the bug report names and copies.
inline constexpr std::string_view kBugReportAddress = "bugs@plimsy.example";

struct sVersionRecord {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t revision = 0;
  bool operator==(const sVersionRecord&) const = default;
};

// The four numbers of a file version "a.b.c.d", each taken as its low byte.
// Any other text gives 0.0.0.0.
sVersionRecord parseVersionRecord(std::string_view fileVersion);

// "Plimsy for Epubs version <minor>.<build>": the second and third numbers of
// the file version (0.0.1.0 gives "version 0.1").
std::string windowTitle(const sVersionRecord& version);
std::string windowTitle();

// The id of the instance query: a number in 0xC000..0xFFFF (where registered
// window messages live), the same in every process: on Windows the id the
// system registers for kInstanceGuid, elsewhere one derived from it.
std::uint32_t instanceQueryMessage();

struct sUiValues {
  sVersionRecord version;
  std::uint32_t instanceQueryMessage = 0;
};

// Made on first use and kept for the life of the process.
const sUiValues& uiValues();

// The user guide that ships with the program: help.html or docs/help.html
// beside the executable, else share/plimsy/help.html of the installation the
// executable sits in, else docs/help.html of the source tree it was built
// from. Empty when none exists.
std::string helpPagePath();

}  // namespace plimsy::ui
