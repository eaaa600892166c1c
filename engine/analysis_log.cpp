#include "engine/analysis_log.h"

#include <system_error>

#include "core/filetime.h"
#include "core/message.h"
#include "core/text.h"

namespace plimsy {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view yesNo(bool value) { return value ? "yes" : "no"; }

// "1,234 / 0x4d2"
void putNumber(cLogOutput& log, std::uint64_t value) {
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

void putFileTime(cLogOutput& log, FileTime time) { log.put(timeText(time).view()); }

// DOS date and time as stored (no time-zone change); file time 0 when they
// are not a valid date and time (a file dated before 1980 has date 0).
// Entries mostly share their times (an entry's two records nearly always do):
// the text of the last one is kept.
void putDosDateTime(cLogOutput& log, std::uint16_t date, std::uint16_t time) {
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

void putExtraFieldLines(cLogOutput& log, const sExtraFindings& findings) {
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

void putEcd(cLogOutput& log, const Ecd& e) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nDisk number: {}\r\nDisk CD start: {}\r\nQty CD entries this disk: 0x{:x}"
                         "\r\nTotal qty CD entries: 0x{:x}\r\nCD size: 0x{:x}\r\nCD offset: 0x{:x}\r\n"
                         "Comment length: {}"),
             e.signature(), e.diskNumber(), e.diskCdStart(), e.qtyCdEntriesThisDisk(), e.totalQtyCdEntries(),
             e.cdSize(), e.cdOffset(), e.commentLength());
}

void putEcdl64(cLogOutput& log, const Ecdl64& e) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nDisk number: {}\r\nOffset of Ecd64: 0x{:x}\r\nNumber of disks: {}"),
             e.signature(), e.diskNumber(), e.offsetOfEcd64(), e.numberOfDisks());
}

// The extensible data that may follow the 56 bytes is not shown.
void putEcd64(cLogOutput& log, const Ecd64& e) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nSize: 0x{:x}\r\nVersion made by: {}\r\nVersion to extract: {}\r\n"
                         "Disk number: {}\r\nDisk CD start: {}\r\nQty CD entries this disk: 0x{:x}\r\n"
                         "Total qty CD entries: 0x{:x}\r\nCD size: 0x{:x}\r\nCD offset: 0x{:x}"),
             e.signature(), e.size(), e.versionMadeBy(), e.versionToExtract(), e.diskNumber(), e.diskCdStart(),
             e.qtyCdEntriesThisDisk(), e.totalQtyCdEntries(), e.cdSize(), e.cdOffset());
}

void putCdr(cLogOutput& log, const Cdr& c) {
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

void putCdrEx(cLogOutput& log, const CdrEx& c) {
  log.format(FMT_COMPILE("Uncompressed size: 0x{:x}\r\nCompressed size: 0x{:x}\r\nOffset lfh: 0x{:x}\r\nFilename: "),
             c.effectiveUncompressedSize(), c.effectiveCompressedSize(), c.effectiveOffsetLfh());
  log.putShown(c.name);
  log.put("\r\nComment: ");
  log.putShown(c.comment);
  log.format(FMT_COMPILE("\r\nExtra field ZIP64: {}\r\nExtra field NTFS: {}\r\nExtra fields:"), yesNo(c.hasZip64Extra),
             yesNo(c.hasNtfsExtra));
  putExtraFieldLines(log, c.extraFindings);
}

void putLfh(cLogOutput& log, const Lfh& l) {
  log.format(FMT_COMPILE("Signature: 0x{:x}\r\nVersion to extract: {}\r\nGeneral flags: 0x{:x}\r\n"
                         "Compression method: {}\r\nTime: {}\r\nDate: {}\r\n  [Date/Time = "),
             l.signature(), l.versionToExtract(), l.generalFlags(), l.compressionMethod(), l.time(), l.date());
  putDosDateTime(log, l.date(), l.time());
  log.format(FMT_COMPILE("]\r\nCRC: 0x{:x}\r\nCompressed size: 0x{:x}\r\nUncompressed size: 0x{:x}\r\n"
                         "Filename length: {}\r\nExtra field length: {}"),
             l.crc(), l.compressedSize(), l.uncompressedSize(), l.filenameLength(), l.extraFieldLength());
}

void putLfhEx(cLogOutput& log, const LfhEx& l) {
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

void writeHeading(cLogOutput& log, const cZipReader& reader, std::string_view logPath, FileTime now,
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

void writeNotFound(cLogOutput& log) {
  log.put("Not found (this is not unusual; it's found\r\nonly in certain ZIP64 files).\r\n\r\n");
}

void writeEndRecords(cLogOutput& log, const cZipReader& reader) {
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

void writeEntry(cLogOutput& log, std::uint32_t number, const sZipEntry& entry) {
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

void writeLog(cLogOutput& log, const cZipReader& reader, std::string_view logPath) {
  writeHeading(log, reader, logPath, platform::currentFileTime(), archiveTimeTexts(reader.path()));
  if (reader.ecd() != nullptr) writeEndRecords(log, reader);
  std::uint64_t index = 0;
  for (const sZipEntry& entry : reader.entries()) {
    writeEntry(log, static_cast<std::uint32_t>(++index), entry);
    log.flushIfFull();
  }
}

// Creating the log over the archive would empty the file that is being read.
bool isTheArchive(const cZipReader& reader, const std::string& logPath) {
  platform::FileIdentity log;
  platform::FileIdentity archive;
  return !reader.path().empty() && platform::fileIdentity(logPath, log) &&
         platform::fileIdentity(reader.path(), archive) && log == archive;
}

bool isAsciiWithoutLineFeed(std::string_view bytes) {
  for (const char c : bytes) {
    if ((static_cast<unsigned char>(c) & 0x80) != 0 || c == '\n') return false;
  }
  return true;
}

}  // namespace

cLogOutput::cLogOutput()
    : buffer_(std::make_unique<fmt::memory_buffer>()), full_(std::make_unique<fmt::memory_buffer>()) {}

cLogOutput::~cLogOutput() { stopWriter(); }

bool cLogOutput::open(const std::string& path) {
  stopWriter();
  failed_ = false;
  text_ = nullptr;
  buffer_->clear();
  if (!file_.open(path, platform::File::Mode::WriteTruncate)) return false;
  buffer_->reserve(kFlushSize + kFlushSize / 4);
  full_->reserve(kFlushSize + kFlushSize / 4);
  put(kUtf8ByteOrderMark);
  try {
    stopping_ = fullWaiting_ = false;
    writer_ = std::thread(&cLogOutput::writeInTurn, this);
  } catch (const std::system_error&) {
    // No thread: each buffer is written when it is full.
  }
  return true;
}

void cLogOutput::openText(std::string& text) {
  stopWriter();
  failed_ = false;
  text_ = &text;
  text.clear();
  buffer_->clear();
  put(kUtf8ByteOrderMark);
}

void cLogOutput::putShown(std::string_view bytes) {
  if (isAsciiWithoutLineFeed(bytes)) {
    put(bytes);
    return;
  }
  for (const char c : displayUtf8(bytes)) {
    if (c == '\n') buffer_->push_back('\r');
    buffer_->push_back(c);
  }
}

void cLogOutput::write(const fmt::memory_buffer& piece) {
  if (piece.size() > 0 && !file_.write(piece.data(), piece.size())) failed_ = true;
}

// Hands the full buffer to the writer, once it has written the one before,
// and goes on with the emptied one it gave back.
void cLogOutput::flush() {
  if (text_ != nullptr) {
    text_->append(buffer_->data(), buffer_->size());
  } else if (!writer_.joinable()) {
    write(*buffer_);
  } else {
    std::unique_lock<std::mutex> lock(lock_);
    changed_.wait(lock, [this] { return !fullWaiting_; });
    std::swap(buffer_, full_);
    fullWaiting_ = true;
    changed_.notify_all();
  }
  buffer_->clear();
}

// The writer thread: writes each full buffer it is given, in turn, until it
// is told to stop and none is waiting.
void cLogOutput::writeInTurn() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    changed_.wait(lock, [this] { return fullWaiting_ || stopping_; });
    if (!fullWaiting_) return;
    lock.unlock();
    write(*full_);
    lock.lock();
    fullWaiting_ = false;
    changed_.notify_all();
  }
}

void cLogOutput::stopWriter() {
  if (!writer_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

bool cLogOutput::close() {
  flush();
  stopWriter();
  if (!file_.close()) failed_ = true;
  return !failed_;
}

bool writeAnalysisLog(const cZipReader& reader, std::string* message, const std::string& logPath) {
  cLogOutput log;
  if (platform::isSpecialFile(logPath)) return fail(message, formatText(kNotRegularFileMessage, logPath));
  if (isTheArchive(reader, logPath) || !log.open(logPath)) return fail(message, "Unable to open log file.");
  writeLog(log, reader, logPath);
  const bool written = log.close();
  // A log of an archive that changed while it was read describes neither
  // the old archive nor the new one.
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  // A log cut short by a full disk must not pass for a whole one.
  if (!written) return fail(message, "Unable to write log file.");
  return true;
}

bool writeAnalysisText(const cZipReader& reader, std::string* message, std::string& text) {
  cLogOutput log;
  log.openText(text);
  writeLog(log, reader, "");
  log.close();
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  return true;
}

std::string extraFieldLines(const sExtraFindings& findings) {
  std::string text;
  cLogOutput log;
  log.openText(text);
  putExtraFieldLines(log, findings);
  log.close();
  std::string lines;
  for (std::size_t i = kUtf8ByteOrderMark.size(); i < text.size(); ++i) {
    if (text[i] != '\r') lines += text[i];
  }
  return lines;
}

}  // namespace plimsy
