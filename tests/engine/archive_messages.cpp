#include "engine/archive_messages.h"

#include <string_view>

#include "engine/unzip_job.h"

namespace plimsy::test {
namespace {

const char* const kWholeMessages[] = {
    // The reader.
    "Unable to open zip file.",
    "Not a valid zip file.",
    "Unable to find end of central directory.",
    "Invalid zip file.",
    "Invalid zip file (central directory record has wrong offset for local file header).",
    "File compressed with method other than deflate.",
    "Invalid zip file.  (Number of central directory entries doesn't match number in end of central directory "
    "record.",
    kArchiveChangedMessage,
    // The analysis log.
    "Unable to open log file.",
    "Unable to write log file.",
    // The unzip job.
    kOverlappingEntriesMessage,
    kInvalidFileMessage,
    kNoUnzipFolderMessage,
    kNoOutputFileMessage,
    kStoredWriteMessage,
    kDeflatedWriteMessage,
    kLengthMismatchMessage,
    kCrcMismatchMessage,
    kNoBackupFolderMessage,
    kRenameWorkFolderMessage,
};

// The fixed part before the placeholder.
const std::string_view kMessagePrefixes[] = {
    "Unsafe file name in zip file:\n",
    "Unable to copy directory tree; ",
    "Unable to unzip an encrypted file:\n",
    "Invalid zip file (an entry has two names):\n",
    "Unable to delete old directory tree so it can be replaced by new one; ",
};

}  // namespace

bool isArchiveMessage(const std::string& message) {
  // A whole message may go on with the path it is about and the system's reason.
  const std::string_view firstLine = std::string_view(message).substr(0, message.find('\n'));
  for (const char* whole : kWholeMessages) {
    if (firstLine == whole) return true;
  }
  for (const std::string_view prefix : kMessagePrefixes) {
    if (std::string_view(message).substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

}  // namespace plimsy::test
