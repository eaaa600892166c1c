#include "engine/repair_rules.h"

#include <algorithm>
#include <string_view>

namespace plimsy {
namespace {

// Repack writes `mimetype` first, stored, without an extra field and holding
// exactly the media type (PKG-005, PKG-006, PKG-007); it writes no data
// descriptor (PLM-001); it builds the archive from the central directory, so
// bytes before the first local header are left behind (PKG-004).
constexpr std::string_view kMendedCodes[] = {"PKG-004", "PKG-005", "PKG-006", "PKG-007", kCodeDataDescriptor};

// PKG-007 also names mimetype data that runs past the end of the file: then
// the archive is cut short, and the repack has nothing whole to copy.
bool isCutShort(const sFinding& finding) {
  return finding.code == "PKG-007" && finding.message.find("runs past the end") != std::string::npos;
}

}  // namespace

bool repackMends(const sFinding& finding) {
  if (isCutShort(finding)) return false;
  return std::find(std::begin(kMendedCodes), std::end(kMendedCodes), finding.code) != std::end(kMendedCodes);
}

bool repairOffered(const std::vector<sFinding>& findings) {
  bool anyError = false;
  for (const sFinding& finding : findings) {
    if (finding.severity != eSeverity::Error) continue;
    if (!repackMends(finding)) return false;
    anyError = true;
  }
  return anyError;
}

}  // namespace plimsy
