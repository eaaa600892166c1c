#pragma once

// The analysis log: a plain-text report, headed "ZIP FILE ANALYSIS", of every
// structural record of an open archive: the end records, and for each entry
// its central directory record and its local header, each shown as stored
// and as the reader interprets it. UTF-8 with a byte-order mark, every line
// ending in CR LF on every platform.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/platform.h"
#include "core/text.h"
#include "engine/zip_reader.h"

namespace plimsy {

// An open log file. Every "\n" of the text is written as "\r\n"; each piece
// is written whole, however long it is, through a buffer of about 1 MiB.
class cLogOutput {
 public:
  // Creates or empties the file and writes the byte-order mark.
  bool open(const std::string& path);
  // Writes what is buffered and closes the file; false when any write or the
  // close failed (a full disk), so that a cut log is never taken for a whole one.
  bool close();

  // Formats one piece and writes it. Names, comments and other text built
  // beforehand are passed as arguments ("%s", "%S"), never as the pattern, so
  // "%" in them is written as it is. A piece whose formatting fails is left
  // out.
  template <typename... Args>
  void logPrintf(std::string_view pattern, const Args&... args) {
    writePiece(formatTextUnlimited(pattern, args...));
  }

 private:
  void writePiece(const std::string& piece);
  void flush();

  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;

  platform::File file_;
  std::string buffer_;  // text with CR LF line ends, not yet written
  bool failed_ = false;
};

// Writes the whole log of `reader` (after a successful openArchive; the
// reader stays open) to `logPath`. Fails with "Unable to open log file." when
// the log cannot be created, or when it names the archive itself (writing it
// would destroy the archive being read); with the message naming a pipe,
// socket or device when the log path is one; with "Unable to write log file."
// when the log could not be written whole (a full disk); with "Zip file
// changed while it was being read." when another program changed the archive
// meanwhile. Fails with readLocalHeader's message when a local header cannot
// be read again; the text written up to then stays.
bool writeAnalysisLog(const cZipReader& reader, std::string* message, const std::string& logPath);

}  // namespace plimsy
