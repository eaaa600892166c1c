#pragma once

#include <string>
#include <utility>

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
