#pragma once

// What the window says when the desktop cannot open something: a sentence
// naming what could not be opened, then ("%s") the shell's explanation of the
// failed result.

#include <cstdint>
#include <string>

#include "core/message.h"
#include "core/text.h"

namespace plimsy::ui {

inline constexpr const char* kOpenEpubFailure = "Unable to open epub. %s";
// Windows users know the program that shows folders by its name; other
// desktops call theirs the file manager.
#ifdef _WIN32
inline constexpr const char* kOpenEpubFolderFailure = "Unable to open epub folder in Windows File Explorer. %s";
inline constexpr const char* kOpenFilesFolderFailure = "Unable to open files folder in Windows File Explorer. %s";
#else
inline constexpr const char* kOpenEpubFolderFailure = "Unable to open epub folder in the file manager. %s";
inline constexpr const char* kOpenFilesFolderFailure = "Unable to open files folder in the file manager. %s";
#endif
inline constexpr const char* kOpenUserGuideFailure = "Unable to open the user guide. %s";
inline constexpr const char* kOpenAnalysisLogFailure = "Unable to open the analysis log. %s";

// The message for an open that failed (a shell result of 32 or less); empty
// for one that succeeded.
inline std::string openFailureMessage(const char* format, std::intptr_t result) {
  return result > 32 ? std::string() : formatText(format, shellExecuteErrorText(result));
}

// The same, naming on the line after it the file that was to be opened.
inline std::string openFailureMessage(const char* format, std::intptr_t result, const std::string& path) {
  const std::string failure = openFailureMessage(format, result);
  return failure.empty() ? failure : withPathAndReason(failure, path, "");
}

}  // namespace plimsy::ui
