#pragma once

// The texts that report a finished job: the success message of a zip or
// unzip job and the summary of an analysis, each with the statistics block
// and the elapsed time. The window and the command line show the same texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/filetime.h"
#include "engine/statistics.h"

namespace plimsy {

inline constexpr std::string_view kZipSuccessText = "You successfully zipped your files.";
inline constexpr std::string_view kUnzipSuccessText = "You successfully unzipped your file.";

// Whole milliseconds between two file times; 0 when the start time reads as
// 0 or the clock went backwards.
std::uint64_t elapsedMilliseconds(FileTime start, FileTime end);

// "Success! <success text>\n\n<statistics>\nTime elapsed: 1,234 milliseconds"
std::string jobSuccessMessage(std::string_view successText, const sStatistics& statistics, std::uint64_t milliseconds);

// "Your epub was successfully analyzed.\n\n" + `middle` + "<statistics>\nTime
// elapsed: 1,234 milliseconds". The window puts an invitation to open the
// log in the middle; the command line puts nothing there.
std::string analysisSuccessMessage(std::string_view middle, const sStatistics& statistics, std::uint64_t milliseconds);

// The warning after an unzip in which entries unpacked to the same file
// (the later one replaced the earlier: exact duplicates, or on Windows names
// that differ only in letter case):
//   "Some entries of the epub unpack to the same file; the later one replaced
//   the earlier one:\n  OEBPS/Chapter.xhtml replaced OEBPS/chapter.xhtml"
// one line per replaced entry (at most kMostReplacedLines, then "  and 1,234
// more"). Empty when nothing was replaced. The window and the command line
// show the same text.
std::string replacedEntriesWarning(const sStatistics& statistics);
inline constexpr std::size_t kMostReplacedLines = 20;

// The middle part the window shows.
inline constexpr std::string_view kAnalysisButtonHint = "Click the button to see the full analysis.\n\n";

}  // namespace plimsy
