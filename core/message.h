#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "core/platform.h"

namespace plimsy {

// Operations that can fail return bool and take an optional message: on
// failure they put exactly one complete sentence into it, and the caller
// passes it on unchanged. A false result with an empty message means that the
// user declined an offer and nothing is to be shown.
//
// fail() sets the message when the caller asked for one and returns false, so
// that failing paths read `return fail(message, "Missing zip file.");`.
inline bool fail(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

// A message about a file whose text names none: the text stays the first
// line, the path it concerns and the system's own reason follow on lines of
// their own (an empty path or reason adds no line).
inline std::string withPathAndReason(std::string_view text, std::string_view path, std::string_view reason) {
  std::string message(text);
  for (const std::string_view line : {path, reason}) {
    if (line.empty()) continue;
    message += '\n';
    message += line;
  }
  return message;
}

// The text, then the path and the reason of the platform operation that has
// just failed on this thread.
inline std::string withSystemError(std::string_view text) {
  const platform::sSystemError error = platform::lastSystemError();
  return withPathAndReason(text, error.path, error.reason);
}

// The text, then the path it concerns and the system's reason for the
// platform operation that has just failed on this thread, one that knows no
// path of its own (a write, a close, the setting of a file's times).
inline std::string withPathAndSystemReason(std::string_view text, std::string_view path) {
  return withPathAndReason(text, path, platform::lastSystemError().reason);
}

// Messages shared by several jobs and checks.

// A pipe, socket or device where a file is to be read or written (its path
// fills the placeholder): opening one could wait for ever.
inline constexpr const char* kNotRegularFileMessage = "Not a regular file (a pipe, socket or device):\n%s";
// A book file that another program (a reading program, an editor) holds open
// without sharing it: Windows refuses to open it (its path fills the placeholder).
inline constexpr const char* kFileInUseMessage = "File is open by another program.\n%s";
// A backup folder inside the folder a job packs or replaces: a zip would pack
// its own backups, an unzip would delete them with the old folder.
inline constexpr const char* kBackupInsideFilesMessage =
    "The backup folder is inside the files folder. Please choose a backup folder outside it.";

}  // namespace plimsy
