#include "engine/analysis_log.h"

#include "core/filetime.h"
#include "core/message.h"

namespace plimsy {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

const char* yesNo(bool value) { return value ? "yes" : "no"; }

// "1,234 / 0x4d2"
std::string numberText(std::uint64_t value) { return groupThousands(value) + formatText(" / 0x%llx", value); }

// DOS date and time as stored (no time-zone change); file time 0 when they
// are not a valid date and time (a file dated before 1980 has date 0).
std::string dosDateTimeText(std::uint16_t date, std::uint16_t time) {
  FileTime fileTime = 0;
  if (!dosDateTimeToFileTime(date, time, fileTime)) fileTime = 0;
  return formatFileTime(fileTime);
}

// ---- Blocks: one record each, raw fields exactly as stored ----------------------

std::string ecdBlock(const Ecd& e) {
  return formatTextUnlimited(
      "Signature: 0x%x\nDisk number: %u\nDisk CD start: %u\nQty CD entries this disk: 0x%x\n"
      "Total qty CD entries: 0x%x\nCD size: 0x%x\nCD offset: 0x%x\nComment length: %u",
      e.signature(), e.diskNumber(), e.diskCdStart(), e.qtyCdEntriesThisDisk(), e.totalQtyCdEntries(), e.cdSize(),
      e.cdOffset(), e.commentLength());
}

std::string ecdl64Block(const Ecdl64& e) {
  return formatTextUnlimited("Signature: 0x%x\nDisk number: %u\nOffset of Ecd64: 0x%llx\nNumber of disks: %u",
                             e.signature(), e.diskNumber(), e.offsetOfEcd64(), e.numberOfDisks());
}

// The extensible data that may follow the 56 bytes is not shown.
std::string ecd64Block(const Ecd64& e) {
  return formatTextUnlimited(
      "Signature: 0x%x\nSize: 0x%llx\nVersion made by: %u\nVersion to extract: %u\nDisk number: %u\n"
      "Disk CD start: %u\nQty CD entries this disk: 0x%llx\nTotal qty CD entries: 0x%llx\nCD size: 0x%llx\n"
      "CD offset: 0x%llx",
      e.signature(), e.size(), e.versionMadeBy(), e.versionToExtract(), e.diskNumber(), e.diskCdStart(),
      e.qtyCdEntriesThisDisk(), e.totalQtyCdEntries(), e.cdSize(), e.cdOffset());
}

std::string cdrBlock(const Cdr& c) {
  return formatTextUnlimited(
      "Signature: 0x%x\nVersion made by: %u\nVersion to extract: %u\nGeneral flags: 0x%x\nCompression method: %u\n"
      "Time: %u\nDate: %u\n  [Date/Time = %s]\nCRC: 0x%x\nCompressed size: 0x%x\nUncompressed size: 0x%x\n"
      "Filename length: %u\nExtra field length: %u\nComment length: %u\nDisk number: %u\nInternal attr: 0x%x\n"
      "External attr: 0x%x\nOffset lfh: 0x%x",
      c.signature(), c.versionMadeBy(), c.versionToExtract(), c.generalFlags(), c.compressionMethod(), c.time(),
      c.date(), dosDateTimeText(c.date(), c.time()), c.crc(), c.compressedSize(), c.uncompressedSize(),
      c.filenameLength(), c.extraFieldLength(), c.commentLength(), c.diskNumber(), c.internalAttr(), c.externalAttr(),
      c.offsetLfh());
}

std::string cdrExBlock(const CdrEx& c) {
  return formatTextUnlimited(
      "Uncompressed size: 0x%llx\nCompressed size: 0x%llx\nOffset lfh: 0x%llx\nFilename: %S\nComment: %S\n"
      "Extra field ZIP64: %s\nExtra field NTFS: %s\nExtra fields:%s",
      c.effectiveUncompressedSize(), c.effectiveCompressedSize(), c.effectiveOffsetLfh(), displayUtf8(c.name),
      displayUtf8(c.comment), yesNo(c.hasZip64Extra), yesNo(c.hasNtfsExtra), c.interpretation);
}

std::string lfhBlock(const Lfh& l) {
  return formatTextUnlimited(
      "Signature: 0x%x\nVersion to extract: %u\nGeneral flags: 0x%x\nCompression method: %u\nTime: %u\nDate: %u\n"
      "  [Date/Time = %s]\nCRC: 0x%x\nCompressed size: 0x%x\nUncompressed size: 0x%x\nFilename length: %u\n"
      "Extra field length: %u",
      l.signature(), l.versionToExtract(), l.generalFlags(), l.compressionMethod(), l.time(), l.date(),
      dosDateTimeText(l.date(), l.time()), l.crc(), l.compressedSize(), l.uncompressedSize(), l.filenameLength(),
      l.extraFieldLength());
}

std::string lfhExBlock(const LfhEx& l) {
  return formatTextUnlimited(
      "Uncompressed size: 0x%llx\nCompressed size: 0x%llx\nFilename: %S\nHas data descriptor: %s\n"
      "Extra field ZIP64: %s\nExtra field NTFS: %s\nExtra fields:%s",
      l.effectiveUncompressedSize(), l.effectiveCompressedSize(), displayUtf8(l.name), yesNo(l.hasDataDescriptor),
      yesNo(l.hasZip64Extra), yesNo(l.hasNtfsExtra), l.interpretation);
}

std::string cdrSection(const CdrEx& cdr) {
  return "Cdr (exact file contents):\n\n" + cdrBlock(cdr.header) + "\n\nCdrEx (Plimsy's interpretation of Cdr):\n\n" +
         cdrExBlock(cdr);
}

std::string lfhSection(const LfhEx& lfh) {
  return "Lfh (exact file contents):\n\n" + lfhBlock(lfh.header) + "\n\nLfhEx (Plimsy's interpretation of Lfh):\n\n" +
         lfhExBlock(lfh);
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
  if (!platform::readFileTimes(path, times)) return texts;
  if (times.creation) texts.creation = formatFileTime(*times.creation);
  texts.access = formatFileTime(times.access);
  texts.write = formatFileTime(times.write);
  return texts;
}

void writeHeading(cLogOutput& log, const cZipReader& reader, const std::string& logPath, FileTime now,
                  const TimeTexts& times) {
  log.logPrintf("=========================================\n");
  log.logPrintf("ZIP FILE ANALYSIS\n");
  log.logPrintf("=========================================\n\n");
  log.logPrintf("Analysis of: %s\n\n", displayUtf8(reader.workOrder().ZipPath));
  log.logPrintf("  Size: %s\n", numberText(reader.viewSize()));
  log.logPrintf("  Create time: %s UTC\n", times.creation);
  log.logPrintf("  Access time: %s UTC\n", times.access);
  log.logPrintf("  Write  time: %s UTC\n\n", times.write);
  log.logPrintf("This log: %s\n\n", displayUtf8(logPath));
  log.logPrintf("Analyzed %s UTC\n\n", formatFileTime(now));
  log.logPrintf("Abbreviations used in this document:\n\n");
  log.logPrintf("Ecd    = end of central directory record\n");
  log.logPrintf("Ecdl64 = ZIP64 end of central directory locator\n");
  log.logPrintf("Ecd64  = ZIP64 end of central directory record\n");
  log.logPrintf("Cdr    = central directory record\n");
  log.logPrintf("CdrEx  = Plimsy's data structure for accessing\n");
  log.logPrintf("         Cdr and associated ZIP64 data.\n");
  log.logPrintf("Lfh    = local file header\n");
  log.logPrintf("LfhEx  = Plimsy's data structure for accessing\n");
  log.logPrintf("         Lfh and associated ZIP64 data.\n\n");
  log.logPrintf("Uses ZIP64: %s\n\n", yesNo(reader.statistics().zip64));
}

void writeNotFound(cLogOutput& log) {
  log.logPrintf("Not found (this is not unusual; it's found\n");
  log.logPrintf("only in certain ZIP64 files).\n\n");
}

void writeEndRecords(cLogOutput& log, const cZipReader& reader) {
  log.logPrintf("-------------------------------------------------\n");
  log.logPrintf("ECD -- END OF CENTRAL DIRECTORY\n");
  log.logPrintf("Offset: %s\n\n", numberText(reader.ecdOffset()));
  log.logPrintf("%s\n\n", ecdBlock(*reader.ecd()));

  log.logPrintf("---------------------------------------------------\n");
  log.logPrintf("ECDL64 -- END OF CENTRAL DIRECTORY LOCATOR 64\n");
  if (const Ecdl64* ecdl64 = reader.ecdl64()) {
    log.logPrintf("Ecdl64's offset: %s\n\n", numberText(reader.ecdl64Offset()));
    log.logPrintf("%s\n\n", ecdl64Block(*ecdl64));
  } else {
    writeNotFound(log);
  }

  log.logPrintf("---------------------------------------------------\n");
  log.logPrintf("ECD64 -- END OF CENTRAL DIRECTORY 64\n");
  if (const Ecd64* ecd64 = reader.ecd64()) {
    log.logPrintf("Ecd64's offset: %s\n\n", numberText(reader.ecd64Offset()));
    // The Size field counts the 44 fixed bytes after itself and any extensible data.
    log.logPrintf("%s\nSize of extra = %llu\n\n", ecd64Block(*ecd64), ecd64->size() - kEcd64SizeFieldValue);
  } else {
    writeNotFound(log);
  }
}

bool writeEntries(cLogOutput& log, const cZipReader& reader, std::string* message) {
  for (std::uint64_t i = 0; i < reader.cdrCount(); ++i) {
    const auto number = static_cast<std::uint32_t>(i + 1);
    const CdrEx cdr = reader.interpretCdr(reader.cdrItem(i));
    log.logPrintf("----------------------------------------------------\n");
    log.logPrintf("CDR NUMBER %u -- CENTRAL DIRECTORY RECORD NUMBER %u\n", number, number);
    log.logPrintf("%S\n\n", displayUtf8(cdr.name));
    log.logPrintf("%s\n\n", cdrSection(cdr));
    LfhEx lfh;
    if (!reader.readLocalHeader(message, cdr, lfh)) return false;
    log.logPrintf("%s\n\n", lfhSection(lfh));
  }
  return true;
}

// Creating the log over the archive would empty the file that is being read.
bool isTheArchive(const cZipReader& reader, const std::string& logPath) {
  platform::FileIdentity log;
  platform::FileIdentity archive;
  return platform::fileIdentity(logPath, log) && platform::fileIdentity(reader.workOrder().ZipPath, archive) &&
         log == archive;
}

}  // namespace

bool cLogOutput::open(const std::string& path) {
  failed_ = false;
  buffer_.clear();
  if (!file_.open(path, platform::File::Mode::WriteTruncate)) return false;
  buffer_.reserve(kFlushSize + kFlushSize / 4);
  buffer_ = kUtf8ByteOrderMark;
  return true;
}

void cLogOutput::writePiece(const std::string& piece) {
  // formatText's failure text; no piece of the log is "ERROR" by itself (a
  // block that failed is always followed by more text in its piece).
  if (piece == "ERROR") return;
  for (const char c : piece) {
    if (c == '\n') buffer_ += '\r';
    buffer_ += c;
  }
  if (buffer_.size() >= kFlushSize) flush();
}

void cLogOutput::flush() {
  if (!buffer_.empty() && !file_.write(buffer_.data(), buffer_.size())) failed_ = true;
  buffer_.clear();
}

bool cLogOutput::close() {
  flush();
  if (!file_.close()) failed_ = true;
  return !failed_;
}

bool writeAnalysisLog(const cZipReader& reader, std::string* message, const std::string& logPath) {
  cLogOutput log;
  if (platform::isSpecialFile(logPath)) return fail(message, formatText(kNotRegularFileMessage, logPath));
  if (isTheArchive(reader, logPath) || !log.open(logPath)) return fail(message, "Unable to open log file.");
  const FileTime now = platform::currentFileTime();
  const TimeTexts times = archiveTimeTexts(reader.workOrder().ZipPath);
  writeHeading(log, reader, logPath, now, times);
  if (reader.ecd() != nullptr) writeEndRecords(log, reader);
  const bool complete = writeEntries(log, reader, message);
  const bool written = log.close();
  // A log of an archive that changed while it was read describes neither
  // the old archive nor the new one.
  if (!reader.archiveUnchanged()) return fail(message, kArchiveChangedMessage);
  // A log cut short by a full disk must not pass for a whole one.
  if (!written && complete) return fail(message, "Unable to write log file.");
  return complete;
}

}  // namespace plimsy
