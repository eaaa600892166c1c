#include "engine/job_report.h"

#include <algorithm>

#include "core/text.h"

namespace plimsy {
namespace {

std::string timeElapsedLine(std::uint64_t milliseconds) {
  return formatText("\nTime elapsed: %s milliseconds", groupThousands(milliseconds));
}

}  // namespace

std::uint64_t elapsedMilliseconds(FileTime start, FileTime end) {
  if (start == 0 || end < start) return 0;
  return (end - start) / 10'000;
}

std::string jobSuccessMessage(std::string_view successText, const sStatistics& statistics, std::uint64_t milliseconds) {
  std::string text = formatText("Success! %s\n\n", std::string(successText));
  statisticsText(statistics, text);
  return text + timeElapsedLine(milliseconds);
}

std::string replacedEntriesWarning(const sStatistics& statistics) {
  const std::vector<sReplacedEntry>& replaced = statistics.replacedEntries;
  if (replaced.empty()) return {};
  std::string text = "Some entries of the epub unpack to the same file; the later one replaced the earlier one:";
  const std::size_t shown = std::min(replaced.size(), kMostReplacedLines);
  for (std::size_t i = 0; i < shown; ++i)
    text += "\n  " + displayUtf8(replaced[i].by) + " replaced " + displayUtf8(replaced[i].replaced);
  if (replaced.size() > shown) text += "\n  and " + groupThousands(replaced.size() - shown) + " more";
  return text;
}

std::string analysisSuccessMessage(std::string_view middle, const sStatistics& statistics, std::uint64_t milliseconds) {
  std::string text = "Your epub was successfully analyzed.\n\n";
  text += middle;
  statisticsText(statistics, text);
  return text + timeElapsedLine(milliseconds);
}

}  // namespace plimsy
