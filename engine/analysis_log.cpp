#include "engine/analysis_log.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <fmt/compile.h>
#include <fmt/format.h>

#include "core/filetime.h"
#include "core/message.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/job_control.h"

namespace plimsy {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Text of the log being built: the program's own text is put as it is (its
// line ends are CR LF); bytes from the archive or the file system (names,
// comments, paths) are made valid UTF-8 for display, every "\n" as CR LF.
class cLogText {
 public:
  void put(std::string_view text) { buffer_.append(text.data(), text.data() + text.size()); }
  void putShown(std::string_view bytes);
  // Formats straight into the buffer ({fmt} patterns, CR LF line ends).
  template <typename Pattern, typename... Args>
  void format(const Pattern& pattern, const Args&... args) {
    fmt::format_to(fmt::appender(buffer_), pattern, args...);
  }
  void clear() { buffer_.clear(); }
  const fmt::memory_buffer& buffer() const { return buffer_; }

 private:
  fmt::memory_buffer buffer_;
};

bool isAsciiWithoutLineFeed(std::string_view bytes) {
  for (const char c : bytes) {
    if ((static_cast<unsigned char>(c) & 0x80) != 0 || c == '\n') return false;
  }
  return true;
}

void cLogText::putShown(std::string_view bytes) {
  if (isAsciiWithoutLineFeed(bytes)) {
    put(bytes);
    return;
  }
  for (const char c : displayUtf8(bytes)) {
    if (c == '\n') buffer_.push_back('\r');
    buffer_.push_back(c);
  }
}

// Where the finished text goes: a work file beside the log, renamed over it
// when the log is whole (a log is never half old, half new), or a string in
// memory.
class cLogSink {
 public:
  // Claims a work file tempN<.ext> beside the log (its extension), made new
  // for this log alone, and registers the claim (engine/job_control.h).
  bool open(const std::string& path);
  // Puts the whole log in the place of the old one, in one step.
  bool putInPlace(const std::string& path);
  // Removes the work file (after close) unless it was put in place.
  void removeWork();
  // Collects the log in `text` (emptied first), which must outlive the sink.
  void openText(std::string& text) {
    text_ = &text;
    text.clear();
  }
  void write(const fmt::memory_buffer& piece) {
    // A program that quits does not wait for a big log.
    if (text_ == nullptr && jobsAbandoned()) failed_ = true;
    if (failed_) return;
    if (text_ != nullptr)
      text_->append(piece.data(), piece.size());
    else if (piece.size() > 0 && !file_.write(piece.data(), piece.size()))
      failed_ = true;
  }
  // Closes the file; false when any write or the close failed (a full disk),
  // so that a cut log is never taken for a whole one.
  bool close() {
    if (text_ != nullptr) return true;
    return file_.close() && !failed_;
  }
  // Whether writing has stopped (a write failed, or the jobs were told to stop).
  bool stopped() const { return failed_; }

 private:
  platform::File file_;
  std::string workPath_;
  std::unique_ptr<cWorkClaim> claim_;
  std::string* text_ = nullptr;
  bool failed_ = false;
};

bool cLogSink::open(const std::string& path) {
  const std::string_view folder = std::string_view(path).substr(0, path.size() - fileNamePart(path).size());
  std::string_view extension = extensionPart(fileNamePart(path));
  if (!extension.empty()) extension.remove_prefix(1);
  const auto create = [this](const std::string& candidate) {
    if (file_.open(candidate, platform::File::Mode::CreateNew)) return ClaimResult::Claimed;
    return file_.openFailure() == platform::File::OpenFailure::Exists ? ClaimResult::Taken : ClaimResult::Failed;
  };
  if (claimUniqueName(nullptr, folder, "temp", extension, create, workPath_) != ClaimResult::Claimed) return false;
  claim_ = std::make_unique<cWorkClaim>(workPath_, cWorkClaim::eKind::File);
  return true;
}

bool cLogSink::putInPlace(const std::string& path) {
  if (!claim_ || !claim_->completeWith([&] { return platform::renameReplacing(workPath_, path); })) return false;
  claim_.reset();
  return true;
}

void cLogSink::removeWork() {
  if (!claim_) return;
  file_.close();
  platform::removeFile(workPath_);
  claim_.reset();
}

std::string_view yesNo(bool value) { return value ? "yes" : "no"; }

// "1,234 / 0x4d2"
void putNumber(cLogText& log, std::uint64_t value) {
  log.put(groupThousands(value));
  log.format(FMT_COMPILE(" / 0x{:x}"), value);
}

// "2022-Mar-04 10:20:30", as formatFileTime writes it, without allocating.
struct sTimeText {
  char chars[40];  // the longest is "(invalid time 0x" with 16 digits and ")"
  std::size_t size = 0;
  std::string_view view() const { return {chars, size}; }
};

sTimeText timeText(FileTime time) {
  sTimeText text;
  CalendarTime c;
  char* end = fileTimeToCalendar(time, c)
                  ? fmt::format_to(text.chars, FMT_COMPILE("{:4}-{}-{:02} {:02}:{:02}:{:02}"), c.year,
                                   monthAbbreviation(c.month), c.day, c.hour, c.minute, c.second)
                  : fmt::format_to(text.chars, FMT_COMPILE("(invalid time 0x{:x})"), time);
  text.size = static_cast<std::size_t>(end - text.chars);
  return text;
}

void putFileTime(cLogText& log, FileTime time) { log.put(timeText(time).view()); }

// DOS date and time as stored (no time-zone change); file time 0 when they
// are not a valid date and time (a file dated before 1980 has date 0).
// Entries mostly share their times (an entry's two records nearly always do):
// the text of the last one is kept.
void putDosDateTime(cLogText& log, std::uint16_t date, std::uint16_t time) {
  constexpr std::uint64_t kNone = UINT64_MAX;
  thread_local std::uint64_t lastKey = kNone;
  thread_local sTimeText lastText;
  const std::uint64_t key = std::uint64_t{date} << 16 | time;
  if (key != lastKey) {
    FileTime fileTime = 0;
    if (!dosDateTimeToFileTime(date, time, fileTime)) fileTime = 0;
    lastText = timeText(fileTime);
    lastKey = key;
  }
  log.put(lastText.view());
}

void putExtraFieldLines(cLogText& log, const sExtraFindings& findings) {
  using K = sExtraFinding::eKind;
  if (findings.complete && findings.items.empty()) log.put("\r\n   none");
  for (const sExtraFinding& f : findings.items) {
    switch (f.kind) {
      case K::Zip64UncompressedSize: log.format(FMT_COMPILE("\r\n   ZIP64 uncompressed size: 0x{:x}"), f.value); break;
      case K::Zip64CompressedSize: log.format(FMT_COMPILE("\r\n   ZIP64 compressed size: 0x{:x}"), f.value); break;
      case K::Zip64OffsetLfh: log.format(FMT_COMPILE("\r\n   ZIP64 offset_lfh: 0x{:x}"), f.value); break;
      case K::Zip64DiskStartNumber: log.format(FMT_COMPILE("\r\n   ZIP64 disk_start_number: 0x{:x}"), f.value); break;
      case K::NtfsTimes:
        log.put("\r\n   NTFS  mod:    ");
        putFileTime(log, f.modified);
        log.put("\r\n   NTFS  access: ");
        putFileTime(log, f.accessed);
        log.put("\r\n   NTFS  create: ");
        putFileTime(log, f.created);
        break;
      case K::Unhandled:
        log.format(FMT_COMPILE("\r\n   UNHANDLED: ID = {}, length = {}"), f.headerId, f.dataSize);
        break;
    }
  }
}

// ---- Blocks: one record each, raw fields exactly as stored ----------------------

void putEcd(cLogText& log, const Ecd& e) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nDisk number: {}\r\nDisk CD start: {}\r\nQty CD entries this disk: 0x{:x}"
                         "\r\nTotal qty CD entries: 0x{:x}\r\nCD size: 0x{:x}\r\nCD offset: 0x{:x}\r\n"
                         "Comment length: {}"),
             e.signature(), e.diskNumber(), e.diskCdStart(), e.qtyCdEntriesThisDisk(), e.totalQtyCdEntries(),
             e.cdSize(), e.cdOffset(), e.commentLength());
}

void putEcdl64(cLogText& log, const Ecdl64& e) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nDisk number: {}\r\nOffset of Ecd64: 0x{:x}\r\nNumber of disks: {}"),
             e.signature(), e.diskNumber(), e.offsetOfEcd64(), e.numberOfDisks());
}

// The extensible data that may follow the 56 bytes is not shown.
void putEcd64(cLogText& log, const Ecd64& e) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nSize: 0x{:x}\r\nVersion made by: {}\r\nVersion to extract: {}\r\n"
                         "Disk number: {}\r\nDisk CD start: {}\r\nQty CD entries this disk: 0x{:x}\r\n"
                         "Total qty CD entries: 0x{:x}\r\nCD size: 0x{:x}\r\nCD offset: 0x{:x}"),
             e.signature(), e.size(), e.versionMadeBy(), e.versionToExtract(), e.diskNumber(), e.diskCdStart(),
             e.qtyCdEntriesThisDisk(), e.totalQtyCdEntries(), e.cdSize(), e.cdOffset());
}

void putCdr(cLogText& log, const Cdr& c) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nVersion made by: {}\r\nVersion to extract: {}\r\nGeneral flags: 0x{:x}"
                         "\r\nCompression method: {}\r\nTime: {}\r\nDate: {}\r\n  [Date/Time = "),
             c.signature(), c.versionMadeBy(), c.versionToExtract(), c.generalFlags(), c.compressionMethod(), c.time(),
             c.date());
  putDosDateTime(log, c.date(), c.time());
  log.format(FMT_COMPILE("]\r\nCRC: 0x{:x}\r\nCompressed size: 0x{:x}\r\nUncompressed size: 0x{:x}\r\n"
                         "Filename length: {}\r\nExtra field length: {}\r\nComment length: {}\r\nDisk number: {}\r\n"
                         "Internal attr: 0x{:x}\r\nExternal attr: 0x{:x}\r\nOffset lfh: 0x{:x}"),
             c.crc(), c.compressedSize(), c.uncompressedSize(), c.filenameLength(), c.extraFieldLength(),
             c.commentLength(), c.diskNumber(), c.internalAttr(), c.externalAttr(), c.offsetLfh());
}

void putCdrEx(cLogText& log, const CdrEx& c) {
  log.format(FMT_COMPILE("Uncompressed size: 0x{:x}\r\nCompressed size: 0x{:x}\r\nOffset lfh: 0x{:x}\r\nFilename: "),
             c.effectiveUncompressedSize(), c.effectiveCompressedSize(), c.effectiveOffsetLfh());
  log.putShown(c.name);
  log.put("\r\nComment: ");
  log.putShown(c.comment);
  log.format(FMT_COMPILE("\r\nExtra field ZIP64: {}\r\nExtra field NTFS: {}\r\nExtra fields:"), yesNo(c.hasZip64Extra),
             yesNo(c.hasNtfsExtra));
  putExtraFieldLines(log, c.extraFindings);
}

void putLfh(cLogText& log, const Lfh& l) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nVersion to extract: {}\r\nGeneral flags: 0x{:x}\r\n"
                         "Compression method: {}\r\nTime: {}\r\nDate: {}\r\n  [Date/Time = "),
             l.signature(), l.versionToExtract(), l.generalFlags(), l.compressionMethod(), l.time(), l.date());
  putDosDateTime(log, l.date(), l.time());
  log.format(FMT_COMPILE("]\r\nCRC: 0x{:x}\r\nCompressed size: 0x{:x}\r\nUncompressed size: 0x{:x}\r\n"
                         "Filename length: {}\r\nExtra field length: {}"),
             l.crc(), l.compressedSize(), l.uncompressedSize(), l.filenameLength(), l.extraFieldLength());
}

void putLfhEx(cLogText& log, const LfhEx& l) {
  log.format(FMT_COMPILE("Uncompressed size: 0x{:x}\r\nCompressed size: 0x{:x}\r\nFilename: "),
             l.effectiveUncompressedSize(), l.effectiveCompressedSize());
  log.putShown(l.name);
  log.format(FMT_COMPILE("\r\nHas data descriptor: {}\r\nExtra field ZIP64: {}\r\nExtra field NTFS: {}\r\n"
                         "Extra fields:"),
             yesNo(l.hasDataDescriptor), yesNo(l.hasZip64Extra), yesNo(l.hasNtfsExtra));
  putExtraFieldLines(log, l.extraFindings);
}

// ---- The parts of the log ------------------------------------------------------

// The archive's creation, access and write times; all three empty when they
// cannot be read, the creation time alone when the file system keeps none.
struct TimeTexts {
  std::string creation;
  std::string access;
  std::string write;
};

TimeTexts archiveTimeTexts(const std::string& path) {
  TimeTexts texts;
  platform::FileTimes times;
  if (path.empty() || !platform::readFileTimes(path, times)) return texts;
  if (times.creation) texts.creation = formatFileTime(*times.creation);
  texts.access = formatFileTime(times.access);
  texts.write = formatFileTime(times.write);
  return texts;
}

constexpr std::string_view kAbbreviations =
    "Abbreviations used in this document:\r\n\r\n"
    "Ecd    = end of central directory record\r\n"
    "Ecdl64 = ZIP64 end of central directory locator\r\n"
    "Ecd64  = ZIP64 end of central directory record\r\n"
    "Cdr    = central directory record\r\n"
    "CdrEx  = Plimsy's data structure for accessing\r\n"
    "         Cdr and associated ZIP64 data.\r\n"
    "Lfh    = local file header\r\n"
    "LfhEx  = Plimsy's data structure for accessing\r\n"
    "         Lfh and associated ZIP64 data.\r\n\r\n";

void writeHeading(cLogText& log, const cZipReader& reader, std::string_view logPath, FileTime now,
                  const TimeTexts& times) {
  log.put(
      "=========================================\r\nZIP FILE ANALYSIS\r\n"
      "=========================================\r\n\r\nAnalysis of: ");
  log.putShown(reader.path());
  log.put("\r\n\r\n  Size: ");
  putNumber(log, reader.viewSize());
  log.format(FMT_COMPILE("\r\n  Create time: {} UTC\r\n  Access time: {} UTC\r\n  Write  time: {} UTC\r\n\r\n"),
             times.creation, times.access, times.write);
  log.put("This log: ");
  log.putShown(logPath);
  log.put("\r\n\r\nAnalyzed ");
  putFileTime(log, now);
  log.put(" UTC\r\n\r\n");
  log.put(kAbbreviations);
  log.format(FMT_COMPILE("Uses ZIP64: {}\r\n\r\n"), yesNo(reader.statistics().zip64));
}

void writeNotFound(cLogText& log) {
  log.put("Not found (this is not unusual; it's found\r\nonly in certain ZIP64 files).\r\n\r\n");
}

void writeEndRecords(cLogText& log, const cZipReader& reader) {
  log.put("-------------------------------------------------\r\nECD -- END OF CENTRAL DIRECTORY\r\nOffset: ");
  putNumber(log, reader.ecdOffset());
  log.put("\r\n\r\n");
  putEcd(log, *reader.ecd());
  log.put("\r\n\r\n");

  log.put("---------------------------------------------------\r\nECDL64 -- END OF CENTRAL DIRECTORY LOCATOR 64\r\n");
  if (const Ecdl64* ecdl64 = reader.ecdl64()) {
    log.put("Ecdl64's offset: ");
    putNumber(log, reader.ecdl64Offset());
    log.put("\r\n\r\n");
    putEcdl64(log, *ecdl64);
    log.put("\r\n\r\n");
  } else {
    writeNotFound(log);
  }

  log.put("---------------------------------------------------\r\nECD64 -- END OF CENTRAL DIRECTORY 64\r\n");
  if (const Ecd64* ecd64 = reader.ecd64()) {
    log.put("Ecd64's offset: ");
    putNumber(log, reader.ecd64Offset());
    log.put("\r\n\r\n");
    putEcd64(log, *ecd64);
    // The Size field counts the 44 fixed bytes after itself and any extensible data.
    log.format(FMT_COMPILE("\r\nSize of extra = {}\r\n\r\n"), ecd64->size() - kEcd64SizeFieldValue);
  } else {
    writeNotFound(log);
  }
}

void writeEntry(cLogText& log, std::uint32_t number, const sZipEntry& entry) {
  log.format(FMT_COMPILE("----------------------------------------------------\r\n"
                         "CDR NUMBER {} -- CENTRAL DIRECTORY RECORD NUMBER {}\r\n"),
             number, number);
  log.putShown(entry.cdr.name);
  log.put("\r\n\r\nCdr (exact file contents):\r\n\r\n");
  putCdr(log, entry.cdr.header);
  log.put("\r\n\r\nCdrEx (Plimsy's interpretation of Cdr):\r\n\r\n");
  putCdrEx(log, entry.cdr);
  log.put("\r\n\r\nLfh (exact file contents):\r\n\r\n");
  putLfh(log, entry.lfh.header);
  log.put("\r\n\r\nLfhEx (Plimsy's interpretation of Lfh):\r\n\r\n");
  putLfhEx(log, entry.lfh);
  log.put("\r\n\r\n");
}

// ---- Entries on several threads --------------------------------------------------

// A piece of the log: the blocks of this many entries (about 650 KiB of text).
constexpr std::size_t kEntriesPerPiece = 512;
constexpr unsigned kMostFormatThreads = 4;

void formatPiece(cLogText& log, const std::vector<sZipEntry>& entries, std::size_t piece) {
  const std::size_t first = piece * kEntriesPerPiece;
  const std::size_t end = std::min(entries.size(), first + kEntriesPerPiece);
  for (std::size_t index = first; index < end; ++index)
    writeEntry(log, static_cast<std::uint32_t>(index + 1), entries[index]);
}

// The pieces are formatted by worker threads, each into a slot of a ring,
// and written in their order by the calling thread; a worker waits while the
// ring is full. The log is the one a single thread writes.
class cPieceRing {
 public:
  cPieceRing(const std::vector<sZipEntry>& entries, std::size_t pieces, std::size_t slots)
      : entries_(entries), pieces_(pieces), slots_(slots) {}

  void formatInTurn() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
      changed_.wait(lock, [this] { return stopped_ || next_ >= pieces_ || next_ < written_ + slots_.size(); });
      if (stopped_ || next_ >= pieces_) return;
      const std::size_t piece = next_++;
      sSlot& slot = slots_[piece % slots_.size()];
      lock.unlock();
      slot.text.clear();
      formatPiece(slot.text, entries_, piece);
      lock.lock();
      slot.piece = piece;
      changed_.notify_all();
    }
  }

  void writeInOrder(cLogSink& sink) {
    for (std::size_t piece = 0; piece < pieces_; ++piece) {
      if (sink.stopped()) {
        stop();
        return;
      }
      sSlot& slot = slots_[piece % slots_.size()];
      {
        std::unique_lock<std::mutex> lock(lock_);
        changed_.wait(lock, [&] { return slot.piece == piece; });
      }
      sink.write(slot.text.buffer());
      {
        const std::lock_guard<std::mutex> lock(lock_);
        ++written_;
      }
      changed_.notify_all();
    }
  }

 private:
  // No more pieces are wanted: the workers end after the piece in hand.
  void stop() {
    const std::lock_guard<std::mutex> lock(lock_);
    stopped_ = true;
    changed_.notify_all();
  }

  struct sSlot {
    cLogText text;
    std::size_t piece = SIZE_MAX;  // the piece the text holds, once it is whole
  };

  const std::vector<sZipEntry>& entries_;
  const std::size_t pieces_;
  std::vector<sSlot> slots_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::size_t next_ = 0;     // the next piece to format
  std::size_t written_ = 0;  // the pieces written so far
  bool stopped_ = false;     // writing has stopped: format nothing more
};

void writeEntries(cLogSink& sink, const std::vector<sZipEntry>& entries) {
  const std::size_t pieces = (entries.size() + kEntriesPerPiece - 1) / kEntriesPerPiece;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const auto threads = static_cast<unsigned>(std::min<std::size_t>({cores, kMostFormatThreads, pieces}));
  cPieceRing ring(entries, pieces, std::size_t{2} * std::max(1u, threads));
  std::vector<std::thread> workers;
  for (unsigned t = 0; threads > 1 && t < threads; ++t) {
    try {
      workers.emplace_back(&cPieceRing::formatInTurn, &ring);
    } catch (const std::system_error&) {
      break;  // fewer threads, same log
    }
  }
  if (workers.empty()) {
    cLogText text;
    for (std::size_t piece = 0; piece < pieces && !sink.stopped(); ++piece) {
      text.clear();
      formatPiece(text, entries, piece);
      sink.write(text.buffer());
    }
    return;
  }
  ring.writeInOrder(sink);
  for (std::thread& worker : workers) worker.join();
}

void writeLog(cLogSink& sink, const cZipReader& reader, std::string_view logPath) {
  cLogText log;
  log.put(kUtf8ByteOrderMark);
  writeHeading(log, reader, logPath, platform::currentFileTime(), archiveTimeTexts(reader.path()));
  if (reader.ecd() != nullptr) writeEndRecords(log, reader);
  sink.write(log.buffer());
  writeEntries(sink, reader.entries());
}

// Creating the log over the archive would empty the file that is being read.
bool isTheArchive(const cZipReader& reader, const std::string& logPath) {
  platform::FileIdentity log;
  platform::FileIdentity archive;
  return !reader.path().empty() && platform::fileIdentity(logPath, log) &&
         platform::fileIdentity(reader.path(), archive) && log == archive;
}

// Writes the log into the sink's work file and puts it in place.
bool writeWork(cLogSink& log, const cZipReader& reader, std::string* message, const std::string& logPath) {
  writeLog(log, reader, logPath);
  const bool written = log.close();
  if (jobsAbandoned()) return fail(message, kJobAbandonedMessage);
  // A log of an archive that changed while it was read describes neither
  // the old archive nor the new one.
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  // A log cut short by a full disk must not pass for a whole one.
  if (!written) return fail(message, withPathAndSystemReason("Unable to write log file.", logPath));
  if (!log.putInPlace(logPath))
    return fail(message, jobsAbandoned() ? kJobAbandonedMessage
                                         : withPathAndReason("Unable to open log file.", logPath,
                                                             platform::lastSystemError().reason));
  return true;
}

}  // namespace

bool writeAnalysisLog(const cZipReader& reader, std::string* message, const std::string& logPath) {
  cLogSink log;
  if (platform::isSpecialFile(logPath)) return fail(message, formatText(kNotRegularFileMessage, logPath));
  // The path the user chose is named, whatever file was being opened for it.
  const bool overArchive = isTheArchive(reader, logPath);
  if (overArchive || !log.open(logPath))
    return fail(message, withPathAndReason("Unable to open log file.", logPath,
                                           overArchive ? "" : platform::lastSystemError().reason));
  // Whatever goes wrong from here, the old log stays as it was and no work file is left.
  const bool done = writeWork(log, reader, message, logPath);
  if (!done) log.removeWork();
  return done;
}

bool writeAnalysisText(const cZipReader& reader, std::string* message, std::string& text) {
  cLogSink log;
  log.openText(text);
  writeLog(log, reader, "");
  log.close();
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  return true;
}

std::string extraFieldLines(const sExtraFindings& findings) {
  cLogText log;
  putExtraFieldLines(log, findings);
  std::string lines;
  for (const char c : log.buffer()) {
    if (c != '\r') lines += c;
  }
  return lines;
}

}  // namespace plimsy
