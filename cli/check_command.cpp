#include "cli/check_command.h"

#include <cstdio>

#include <fmt/format.h>

#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "engine/book_check.h"

namespace plimsy::cli {
namespace {

std::string counted(std::size_t n, std::string_view one, std::string_view many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

}  // namespace

std::string jsonString(std::string_view text) {
  const std::string valid = visibleName(text);
  std::string out = "\"";
  for (const char c : valid) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      out += fmt::format("\\u{:04x}", b);
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string findingsAsJson(std::string_view file, const std::vector<sFinding>& findings) {
  std::string out = fmt::format("{{\"file\": {}, \"findings\": [", jsonString(file));
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const sFinding& f = findings[i];
    out += fmt::format("{}\n  {{\"code\": {}, \"severity\": {}, \"entry\": {}, \"message\": {}}}", i == 0 ? "" : ",",
                       jsonString(f.code), jsonString(severityName(f.severity)), jsonString(f.entry),
                       jsonString(f.message));
  }
  out += fmt::format("{}], \"summary\": {{\"errors\": {}, \"warnings\": {}}}}}\n", findings.empty() ? "" : "\n",
                     countFindings(findings, eSeverity::Error), countFindings(findings, eSeverity::Warning));
  return out;
}

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

void printBookFolderWarnings(const std::string& folder) {
  const std::vector<sFinding> findings = checkBookFolder(absoluteFromCommandLine(folder));
  if (!findings.empty()) printEscaped(stderr, findingsAsText(findings));
}

int runCheck(const CheckOptions& options) {
  sContainerCheckOptions check;
  check.deep = options.deep;
  const std::vector<sFinding> findings = checkBook(absoluteFromCommandLine(options.epub), check);
  if (options.format == "json") {
    printEscaped(stdout, findingsAsJson(options.epub, findings));
  } else {
    std::string text = findingsAsText(findings);
    if (!options.quiet) text += findingsSummary(findings) + "\n";
    printEscaped(stdout, text);
  }
  return countFindings(findings, eSeverity::Error) == 0 ? 0 : 1;
}

}  // namespace plimsy::cli
