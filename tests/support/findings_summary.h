#pragma once

// Findings as tests compare them: "CODE severity entry", sorted, without
// their wording.

#include <algorithm>
#include <string>
#include <vector>

#include "engine/container_check.h"

namespace plimsy::test {

inline std::vector<std::string> summarize(const std::vector<sFinding>& findings) {
  std::vector<std::string> lines;
  for (const sFinding& f : findings)
    lines.push_back(f.code + " " + std::string(severityName(f.severity)) + " " + visibleName(f.entry));
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace plimsy::test
