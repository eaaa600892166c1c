#pragma once

// The analysis log: a plain-text report, headed "ZIP FILE ANALYSIS", of every
// structural record of an open archive: the end records, and for each entry
// its central directory record and its local header, each shown as stored
// and as the reader interprets it. UTF-8 with a byte-order mark, every line
// ending in CR LF on every platform.
//
// The text is built from the reader's entry list (nothing is read from the
// archive again) straight into one buffer, with its CR LF line ends, and
// written out in large pieces.

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "core/platform.h"
#include "engine/zip_reader.h"

namespace plimsy {

// Where the log goes: a file, or a string in memory. Text is collected in a
// buffer and written out once it holds kFlushSize bytes, and at close(). A
// file is written by a thread of its own while the next buffer fills.
class cLogOutput {
 public:
  cLogOutput();
  ~cLogOutput();
  cLogOutput(const cLogOutput&) = delete;
  cLogOutput& operator=(const cLogOutput&) = delete;

  // Creates or empties the file and writes the byte-order mark.
  bool open(const std::string& path);
  // Collects the log in `text` (emptied first, then the byte-order mark),
  // which must outlive the output.
  void openText(std::string& text);
  // Writes what is buffered and closes the file; false when any write or the
  // close failed (a full disk), so that a cut log is never taken for a whole one.
  bool close();

  // Text of the program's own, written as it is: its line ends are CR LF.
  void put(std::string_view text) { buffer_->append(text.data(), text.data() + text.size()); }
  // Bytes from the archive or the file system (names, comments, paths), made
  // valid UTF-8 for display (displayUtf8), every "\n" written as CR LF.
  void putShown(std::string_view bytes);
  // Formats straight into the buffer ({fmt} patterns, CR LF line ends).
  template <typename Pattern, typename... Args>
  void format(const Pattern& pattern, const Args&... args) {
    fmt::format_to(fmt::appender(*buffer_), pattern, args...);
  }
  // Writes the buffer out once it holds kFlushSize bytes.
  void flushIfFull() {
    if (buffer_->size() >= kFlushSize) flush();
  }

 private:
  void flush();
  void write(const fmt::memory_buffer& piece);
  void writeInTurn();
  void stopWriter();

  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;

  platform::File file_;
  std::string* text_ = nullptr;                 // the memory target, when there is one
  std::unique_ptr<fmt::memory_buffer> buffer_;  // text being collected
  bool failed_ = false;                         // a write failed (the writer's, once it has stopped)
  // The writer thread and the full buffer it is given (when it runs).
  std::thread writer_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::unique_ptr<fmt::memory_buffer> full_;
  bool fullWaiting_ = false;
  bool stopping_ = false;
};

// Writes the whole log of `reader` (after a successful open; the reader stays
// open) to `logPath`. Fails with "Unable to open log file." when the log
// cannot be created, or when it names the archive itself (writing it would
// destroy the archive being read); with the message naming a pipe, socket or
// device when the log path is one; with "Unable to write log file." when the
// log could not be written whole (a full disk); with "Zip file changed while
// it was being read." when another program changed the archive meanwhile.
bool writeAnalysisLog(const cZipReader& reader, std::string* message, const std::string& logPath);

// The same log in `text` (for an archive held in memory, whose heading names
// no file and no times; "This log:" names nothing). Fails only when the
// archive changed meanwhile.
bool writeAnalysisText(const cZipReader& reader, std::string* message, std::string& text);

// The log's lines about an extra field, each line's "\n" in front of it (as
// "\r\n" in the log): what parseExtraField found, or "\n   none" when it
// reached the end of the field and found nothing to show.
std::string extraFieldLines(const sExtraFindings& findings);

}  // namespace plimsy
