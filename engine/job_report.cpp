#include "engine/job_report.h"

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

std::string analysisSuccessMessage(std::string_view middle, const sStatistics& statistics, std::uint64_t milliseconds) {
  std::string text = "Your epub was successfully analyzed.\n\n";
  text += middle;
  statisticsText(statistics, text);
  return text + timeElapsedLine(milliseconds);
}

}  // namespace plimsy
