#include "engine/findings_text.h"

#include <fmt/format.h>

namespace plimsy {
namespace {

std::string counted(std::size_t n, std::string_view one, std::string_view many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

}  // namespace

std::string findingsAsText(const std::vector<sFinding>& findings) {
  std::string out;
  for (const sFinding& f : findings) {
    std::string line = fmt::format("{} {}", f.code, severityName(f.severity));
    if (!f.entry.empty()) {
      line += ' ';
      line += visibleName(f.entry);
    }
    line += ": ";
    line += f.message;
    // One line per finding, whatever a name holds (the other controls are
    // escaped when printed).
    for (const char c : line) {
      if (c == '\n' || c == '\t')
        out += fmt::format("\\x{:02X}", static_cast<unsigned>(c));
      else
        out += c;
    }
    out += '\n';
  }
  return out;
}

std::string findingsSummary(const std::vector<sFinding>& findings) {
  return counted(countFindings(findings, eSeverity::Error), "error", "errors") + ", " +
         counted(countFindings(findings, eSeverity::Warning), "warning", "warnings");
}

std::string checkSummary(const std::vector<sFinding>& findings) {
  return findings.empty() ? std::string("No problems found.") : findingsSummary(findings);
}

}  // namespace plimsy
