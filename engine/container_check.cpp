#include "engine/container_check.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/byte_order.h"
#include "engine/byte_ranges.h"
#include "engine/container_xml.h"
#include "engine/crc32.h"
#include "engine/entry_data.h"
#include "engine/entry_name_rules.h"
#include "engine/job_control.h"
#include "engine/zip_reader.h"
#include "engine/zip_writer.h"

namespace plimsy {
namespace {

constexpr std::string_view kMimetypeName = "mimetype";
constexpr std::string_view kMimetypeContent = "application/epub+zip";
constexpr std::string_view kContainerPath = "META-INF/container.xml";
constexpr std::string_view kEncryptionPath = "META-INF/encryption.xml";
constexpr std::string_view kPackageMediaType = "application/oebps-package+xml";
constexpr std::uint16_t kDataDescriptorFlag = 0x0008;
// container.xml is read whole; no sound one comes near this.
constexpr std::uint64_t kMostContainerXml = std::uint64_t{16} << 20;
// A mimetype that is not the first entry is read up to this length.
constexpr std::uint64_t kMostMimetype = 4096;
constexpr std::size_t kExtraHeaderBytes = 4;  // Header ID and data size
constexpr unsigned kMostDeepThreads = 4;

std::string visible(std::string_view bytes) { return visibleName(bytes); }

}  // namespace

std::string visibleName(std::string_view bytes) {
  if (isValidUtf8(bytes)) return std::string(bytes);
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80)
      out += c;
    else
      out += fmt::format("\\x{:02X}", b);
  }
  return out;
}

namespace {

class cFindings {
 public:
  explicit cFindings(std::vector<sFinding>& out) : out_(out) {}
  // The package documents that container.xml names (see ContainerThen).
  std::vector<std::string> packages;
  void error(const char* code, std::string_view entry, std::string message) {
    out_.push_back({code, eSeverity::Error, std::string(entry), std::move(message)});
  }
  void warning(const char* code, std::string_view entry, std::string message) {
    out_.push_back({code, eSeverity::Warning, std::string(entry), std::move(message)});
  }
  void add(sFinding finding) { out_.push_back(std::move(finding)); }

 private:
  std::vector<sFinding>& out_;
};

// ---- The first local header, read from the raw bytes ----------------------------------

std::string describeMimetypeContent(std::string_view content) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") return "mimetype starts with a byte-order mark";
  if (content.size() > kMimetypeContent.size() && content.substr(0, kMimetypeContent.size()) == kMimetypeContent &&
      trimWhiteSpace(content.substr(kMimetypeContent.size())).empty())
    return "mimetype holds application/epub+zip followed by white space or a line end";
  constexpr std::size_t kShown = 64;
  return fmt::format("mimetype holds \"{}\"{}, not application/epub+zip", visible(content.substr(0, kShown)),
                     content.size() > kShown ? "..." : "");
}

// `cdMimetype`: the central directory's entry for the header at offset 0,
// when the reader opened the archive (its sizes stand in for a local header
// that left them to a data descriptor). True when the first local header is
// mimetype's.
bool checkFirstHeader(std::span<const std::uint8_t> bytes, const sZipEntry* cdMimetype, bool noMimetype,
                      cFindings& findings) {
  if (bytes.size() < kLfhSize) {
    findings.error("PKG-003", "",
                   fmt::format("The file is too short ({} bytes) to begin with a ZIP local header.", bytes.size()));
    return false;
  }
  if (loadLe32(bytes.data()) != kLfhSignature) {
    findings.error("PKG-004", "", "The file does not begin with a ZIP local header.");
    return false;
  }
  Lfh header;
  header.copyFrom(bytes.data());
  const auto name = std::string_view(reinterpret_cast<const char*>(bytes.data()) + kLfhSize,
                                     std::min<std::size_t>(header.filenameLength(), bytes.size() - kLfhSize));
  if (name != kMimetypeName) {
    findings.error("PKG-006", kMimetypeName,
                   noMimetype ? std::string("There is no mimetype entry.")
                              : fmt::format("mimetype is not the first entry (the first is \"{}\").", visible(name)));
    return false;
  }
  if (header.compressionMethod() != kMethodStored)
    findings.error("PKG-007", kMimetypeName,
                   fmt::format("mimetype is compressed (method {}); it must be stored.", header.compressionMethod()));
  if (header.extraFieldLength() != 0)
    findings.error("PKG-005", kMimetypeName,
                   fmt::format("mimetype's local header has an extra field of {} bytes; it must have none.",
                               header.extraFieldLength()));
  if (header.compressionMethod() != kMethodStored) return true;
  std::uint64_t length = header.compressedSize();
  if (cdMimetype && (length == kAllOnes32 || (header.generalFlags() & kDataDescriptorFlag) != 0))
    length = cdMimetype->cdr.effectiveCompressedSize();
  const std::uint64_t start = kLfhSize + std::uint64_t{header.filenameLength()} + header.extraFieldLength();
  if (!fitsIn(bytes.size(), start, length)) {
    findings.error("PKG-007", kMimetypeName, "mimetype's data runs past the end of the file.");
    return true;
  }
  const auto content = std::string_view(reinterpret_cast<const char*>(bytes.data() + start), length);
  if (content != kMimetypeContent) findings.error("PKG-007", kMimetypeName, describeMimetypeContent(content) + ".");
  return true;
}

// An archive that is nothing but an end record, which announces no entries
// (the reader refuses it: no central directory record follows).
bool isEndRecordOnly(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kEcdSize || loadLe32(bytes.data()) != kEcdSignature) return false;
  Ecd ecd;
  ecd.copyFrom(bytes.data());
  return ecd.totalQtyCdEntries() == 0;
}

// Why an extra field does not add up: bytes at its end too few for a
// sub-field's Header ID and data size, or a sub-field whose data runs past
// the field's end. Empty when it adds up.
std::string extraFieldFault(std::span<const std::uint8_t> extra) {
  std::size_t at = 0;
  while (at < extra.size()) {
    const std::size_t left = extra.size() - at;
    if (left < kExtraHeaderBytes)
      return fmt::format("its last {} byte{} cannot hold a sub-field's header", left, left == 1 ? "" : "s");
    const std::uint16_t id = loadLe16(extra.data() + at);
    const std::uint16_t size = loadLe16(extra.data() + at + 2);
    if (size > left - kExtraHeaderBytes)
      return fmt::format("its sub-field 0x{:04X} claims {} bytes of data where {} remain", id, size,
                         left - kExtraHeaderBytes);
    at += kExtraHeaderBytes + size;
  }
  return {};
}

// The deep check of one entry: its data inflates to the central directory's
// length and CRC-32.
std::optional<sFinding> verifyData(const cZipReader& reader, const sZipEntry& entry) {
  const CdrEx& cdr = entry.cdr;
  const std::uint64_t expected = cdr.effectiveUncompressedSize();
  std::uint32_t crc = 0xFFFFFFFFu;
  std::uint64_t length = 0;
  std::string why;
  const eRead read = readEntryData(
      reader, entry, expected,
      [&](const std::uint8_t* p, std::size_t n) {
        crc = updateCrc32(crc, p, n);
        length += n;
      },
      &why);
  crc = ~crc;
  // Data that does not inflate is unreadable, as epubcheck reports it; data
  // that inflates to the wrong length or CRC-32 is a finding of our own.
  if (read == eRead::Damaged)
    return sFinding{
        "PKG-008", eSeverity::Error, cdr.name,
        fmt::format("The entry's deflated data is damaged: {}.", why.empty() ? "it does not inflate" : why)};
  std::string message;
  if (read == eRead::TooLong)
    message = fmt::format("The entry's data is longer than the {} bytes the central directory gives.", expected);
  else if (length != expected)
    message =
        fmt::format("The entry's data is {} bytes long, not {} as the central directory gives.", length, expected);
  else if (crc != cdr.header.crc())
    message = fmt::format("The entry's data fails its CRC-32 check (it is {:08X}, the central directory gives {:08X}).",
                          crc, cdr.header.crc());
  if (message.empty()) return std::nullopt;
  return sFinding{kCodeDamagedData, eSeverity::Error, cdr.name, std::move(message)};
}

// ---- The entries ----------------------------------------------------------------------

struct sEntryFacts {
  bool dataInArchive = false;  // the data lies before the central directory and inside the file
  bool encrypted = false;
};

std::string forbiddenList(const std::vector<char32_t>& characters) {
  std::string list;
  for (const char32_t c : characters) {
    if (!list.empty()) list += ", ";
    list += codePointLabel(c);
    if (c > 0x20 && c < 0x7F) list += fmt::format(" ({})", static_cast<char>(c));
  }
  return list;
}

void checkName(const sZipEntry& entry, cFindings& findings) {
  const std::string& name = entry.cdr.name;
  if (!isValidUtf8(name)) {
    findings.error("PKG-008", name, fmt::format("The entry's name is not valid UTF-8: {}.", visible(name)));
  } else {
    const std::vector<char32_t> forbidden = forbiddenNameCharacters(name);
    if (!forbidden.empty())
      findings.error(
          "PKG-009", name,
          fmt::format("The name holds characters that OCF forbids in file names: {}.", forbiddenList(forbidden)));
    if (name.find(' ') != std::string::npos)
      findings.warning("PKG-010", name, "The name holds spaces: every reference to it needs them escaped.");
    if (!name.empty() && name.back() == '.') findings.error("PKG-011", name, "The name ends in \".\".");
  }
  // What Windows alone cannot hold is left to PKG-009, so that a book gives
  // the same findings everywhere.
  if (leadsOutsideFolder(name) || leadsOutsideFolder(entry.lfh.name))
    findings.error(kCodeUnsafeName, name,
                   "Unsafe name: absolute, with a drive letter, a \"..\" part or a NUL byte, it could lead outside the "
                   "folder it is unpacked into.");
}

void checkHeaders(const sZipEntry& entry, bool haveEncryptionXml, cFindings& findings) {
  const CdrEx& cdr = entry.cdr;
  const LfhEx& lfh = entry.lfh;
  if (isEncrypted(entry.cdr, entry.lfh))
    findings.error("PKG-008", cdr.name,
                   haveEncryptionXml
                       ? "The entry is encrypted with ZIP's own encryption, which no EPUB reading system reads "
                         "(META-INF/encryption.xml describes resources whose ZIP entries are not encrypted)."
                       : "The entry is encrypted, and there is no META-INF/encryption.xml.");
  const bool descriptor = ((cdr.header.generalFlags() | lfh.header.generalFlags()) & kDataDescriptorFlag) != 0;
  if (descriptor)
    findings.warning(kCodeDataDescriptor, cdr.name,
                     "The entry's sizes and CRC-32 follow its data in a data descriptor, not in its local header.");
  std::vector<std::string_view> differ;
  if (lfh.name != cdr.name) differ.push_back("name");
  if (lfh.header.compressionMethod() != cdr.header.compressionMethod()) differ.push_back("method");
  if (!descriptor) {
    if (lfh.header.crc() != cdr.header.crc()) differ.push_back("CRC-32");
    if (lfh.effectiveCompressedSize() != cdr.effectiveCompressedSize() ||
        lfh.effectiveUncompressedSize() != cdr.effectiveUncompressedSize())
      differ.push_back("sizes");
  }
  if (!differ.empty())
    findings.error(
        kCodeHeadersDisagree, cdr.name,
        fmt::format("The local header and the central directory disagree on the {}.", fmt::join(differ, ", ")));
  else if (cdr.header.compressionMethod() == kMethodStored &&
           cdr.effectiveCompressedSize() != cdr.effectiveUncompressedSize())
    findings.error(kCodeHeadersDisagree, cdr.name,
                   fmt::format("The entry is stored, yet its sizes differ ({} bytes stored, {} bytes long).",
                               cdr.effectiveCompressedSize(), cdr.effectiveUncompressedSize()));
}

// Entries whose headers or data share bytes of the archive.
void checkOverlaps(const std::vector<sZipEntry>& entries, cFindings& findings) {
  struct sRange {
    std::uint64_t start, end;
    std::size_t index;
  };
  std::vector<sRange> ranges;
  ranges.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const sZipEntry& e = entries[i];
    ranges.push_back({e.cdr.effectiveOffsetLfh(), saturatingAdd(e.dataOffset, e.cdr.effectiveCompressedSize()), i});
  }
  std::sort(ranges.begin(), ranges.end(), [](const sRange& a, const sRange& b) {
    return a.start != b.start ? a.start < b.start : a.index < b.index;
  });
  std::vector<std::pair<std::size_t, std::size_t>> pairs;  // an entry, and one it overlaps
  std::size_t reach = 0;                                   // the range that reaches furthest so far
  for (std::size_t k = 1; k < ranges.size(); ++k) {
    if (ranges[k].start < ranges[reach].end) pairs.emplace_back(ranges[k].index, ranges[reach].index);
    if (ranges[k].end > ranges[reach].end) reach = k;
  }
  std::sort(pairs.begin(), pairs.end());
  for (const auto& [index, other] : pairs)
    findings.error(kCodeOverlap, entries[index].cdr.name,
                   fmt::format("The entry shares bytes of the archive with \"{}\".", visible(entries[other].cdr.name)));
}

// Directory entries with nothing in them.
void checkEmptyFolders(const std::vector<sZipEntry>& entries, cFindings& findings) {
  std::vector<std::string_view> names;
  names.reserve(entries.size());
  for (const sZipEntry& e : entries) names.push_back(e.cdr.name);
  std::sort(names.begin(), names.end());
  for (const sZipEntry& e : entries) {
    const std::string_view folder = e.cdr.name;
    if (folder.empty() || folder.back() != '/') continue;
    const auto after = std::upper_bound(names.begin(), names.end(), folder);
    if (after == names.end() || after->substr(0, folder.size()) != folder)
      findings.warning("PKG-014", folder, "The folder is empty.");
  }
}

// Names that a reading system could take for the same file.
void checkDuplicates(const std::vector<sZipEntry>& entries, cFindings& findings) {
  std::unordered_map<std::string_view, std::size_t> exact;
  std::unordered_map<std::string, std::size_t> folded, decomposed, both;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].cdr.name;
    const auto [first, fresh] = exact.emplace(name, i);
    if (!fresh) {
      findings.error("OPF-060", name, "Duplicate entry: the archive holds this name twice.");
      continue;
    }
    if (!isValidUtf8(name)) continue;
    const std::string foldedName = caseFoldedName(name);
    const std::string decomposedForm = decomposedName(name);
    const auto f = folded.emplace(foldedName, i);
    const auto d = decomposed.emplace(decomposedForm, i);
    const auto b = both.emplace(caseFoldedName(decomposedForm), i);
    const auto other = [&entries](std::size_t j) { return visible(entries[j].cdr.name); };
    if (!f.second)
      findings.error("OPF-060", name,
                     fmt::format("Duplicate entry: \"{}\" has the same name when letter case is ignored.",
                                 other(f.first->second)));
    else if (!d.second)
      findings.warning("OPF-061", name,
                       fmt::format("Duplicate entry: \"{}\" has the same name after Unicode NFC normalization.",
                                   other(d.first->second)));
    else if (!b.second)
      findings.warning("OPF-061", name,
                       fmt::format("Duplicate entry: \"{}\" has the same name after Unicode NFC normalization when "
                                   "letter case is ignored.",
                                   other(b.first->second)));
  }
}

const sZipEntry* findEntry(const std::vector<sZipEntry>& entries, std::string_view name) {
  for (const sZipEntry& e : entries)
    if (e.cdr.name == name) return &e;
  return nullptr;
}

// One copy of META-INF/container.xml; `copy` is "" when there is only one,
// else the prefix that tells its findings apart ("Copy 2 of 3: ").
void checkContainerXmlCopy(const cZipReader& reader, const sZipEntry& container, const std::string& copy,
                           cFindings& findings) {
  const std::vector<sZipEntry>& entries = reader.entries();
  std::string text;
  const eRead read = readEntryData(reader, container, kMostContainerXml,
                                   [&text](const std::uint8_t* p, std::size_t n) { text.append(p, p + n); });
  if (read != eRead::Ok) {
    findings.error(
        "PKG-008", kContainerPath,
        copy + (read == eRead::TooLong ? "META-INF/container.xml is too large to be read (16 MiB or more)."
                                       : "META-INF/container.xml cannot be read: its deflated data is damaged."));
    return;
  }
  const sContainerXml xml = readContainerXml(text);
  if (!xml.refusedEncoding.empty())
    findings.error("CSS-003", kContainerPath,
                   copy + fmt::format("META-INF/container.xml is encoded in {}: only UTF-8 and UTF-16 are allowed.",
                                      visible(xml.refusedEncoding)));
  if (xml.rootfilesUnread) return;
  if (!xml.wellFormed)
    findings.error("RSC-016", kContainerPath,
                   copy + fmt::format("META-INF/container.xml is not well-formed XML: {} (line {}, column {}).",
                                      xml.problem, xml.line, xml.column));
  // Rootfiles before the point where a document that is not well-formed
  // fails are read as they stand.
  bool packageFound = false;
  for (const sRootfile& rootfile : xml.rootfiles) {
    if (rootfile.mediaType != kPackageMediaType) continue;
    packageFound = true;
    if (!rootfile.hasFullPath)
      findings.error("OPF-016", kContainerPath, copy + "A rootfile of container.xml has no full-path attribute.");
    else if (rootfile.fullPath.empty())
      findings.error("OPF-017", kContainerPath, copy + "A rootfile of container.xml has an empty full-path.");
    else if (!findEntry(entries, rootfile.fullPath))
      findings.error("OPF-002", kContainerPath,
                     copy + fmt::format("The package document \"{}\" that container.xml names is not in the archive.",
                                        visible(rootfile.fullPath)));
    else
      findings.packages.push_back(rootfile.fullPath);
  }
  if (!packageFound)
    findings.error("RSC-003", kContainerPath,
                   copy + "container.xml names no rootfile of media type application/oebps-package+xml.");
}

// Every copy of META-INF/container.xml: a reading system may take any of
// them (epubcheck reads the last).
void checkContainerXml(const cZipReader& reader, const std::vector<sEntryFacts>& facts, cFindings& findings) {
  const std::vector<sZipEntry>& entries = reader.entries();
  std::vector<std::size_t> copies;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].cdr.name == kContainerPath) copies.push_back(i);
  if (copies.empty()) {
    findings.error("RSC-002", kContainerPath, "META-INF/container.xml is missing.");
    return;
  }
  for (std::size_t k = 0; k < copies.size(); ++k) {
    const sEntryFacts& fact = facts[copies[k]];
    if (!fact.dataInArchive || fact.encrypted) continue;  // reported with the entry
    const std::string copy = copies.size() == 1 ? "" : fmt::format("Copy {} of {}: ", k + 1, copies.size());
    findings.packages.clear();
    checkContainerXmlCopy(reader, entries[copies[k]], copy, findings);
  }
}

// A mimetype entry that is not the first must still hold exactly
// application/epub+zip (its place is PKG-006's, its content PKG-007's).
void checkMimetypeElsewhere(const cZipReader& reader, const std::vector<sEntryFacts>& facts, cFindings& findings) {
  const std::vector<sZipEntry>& entries = reader.entries();
  const auto found =
      std::find_if(entries.begin(), entries.end(), [](const sZipEntry& e) { return e.cdr.name == kMimetypeName; });
  if (found == entries.end()) return;
  const sEntryFacts& fact = facts[static_cast<std::size_t>(found - entries.begin())];
  if (!fact.dataInArchive || fact.encrypted) return;  // reported with the entry
  std::string content;
  const eRead read = readEntryData(reader, *found, kMostMimetype,
                                   [&content](const std::uint8_t* p, std::size_t n) { content.append(p, p + n); });
  if (read == eRead::Damaged)
    findings.error("PKG-008", kMimetypeName, "mimetype cannot be read: its deflated data is damaged.");
  else if (read == eRead::TooLong)
    findings.error("PKG-007", kMimetypeName,
                   fmt::format("mimetype holds more than {} bytes, not application/epub+zip.", kMostMimetype));
  else if (content != kMimetypeContent)
    findings.error("PKG-007", kMimetypeName, describeMimetypeContent(content) + ".");
}

// Extra fields of the entry's local header and central directory record
// whose sub-fields do not add up: Java's ZIP reader, and with it epubcheck,
// refuses a book whose central directory holds one. `cdrExtra` is empty when
// the record could not be found again.
void checkExtraFields(const cZipReader& reader, const sZipEntry& entry, std::span<const std::uint8_t> cdrExtra,
                      cFindings& findings) {
  const std::uint16_t lfhLength = entry.lfh.header.extraFieldLength();
  const std::span<const std::uint8_t> lfhExtra(reader.viewData() + entry.dataOffset - lfhLength, lfhLength);
  const std::pair<std::string_view, std::span<const std::uint8_t>> fields[] = {{"local header", lfhExtra},
                                                                               {"central directory record", cdrExtra}};
  for (const auto& [record, extra] : fields) {
    const std::string fault = extraFieldFault(extra);
    if (!fault.empty())
      findings.error("PKG-008", entry.cdr.name,
                     fmt::format("The extra field of the entry's {} does not add up: {}.", record, fault));
  }
}

// The extra field of every central directory record, in the entries' order,
// found by walking the records again from the central directory's start
// (the reader checked that they lie in the archive). Empty spans where the
// walk loses its way.
std::vector<std::span<const std::uint8_t>> centralExtraFields(const cZipReader& reader) {
  const std::vector<sZipEntry>& entries = reader.entries();
  std::vector<std::span<const std::uint8_t>> extras(entries.size());
  const std::uint8_t* base = reader.viewData();
  const std::uint64_t size = reader.viewSize();
  std::uint64_t at = effectiveCdOffset(*reader.ecd(), reader.ecd64());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!fitsIn(size, at, kCdrSize) || loadLe32(base + at) != kCdrSignature) break;
    Cdr header;
    header.copyFrom(base + at);
    if (!fitsIn(size, at, header.totalSize()) || header.filenameLength() != entries[i].cdr.name.size()) break;
    extras[i] = std::span(base + at + kCdrSize + header.filenameLength(), header.extraFieldLength());
    at += header.totalSize();
  }
  return extras;
}

unsigned deepThreads(const sContainerCheckOptions& options) {
  if (options.threads != 0) return options.threads;
  return std::clamp(std::thread::hardware_concurrency(), 1u, kMostDeepThreads);
}

void checkData(const cZipReader& reader, const std::vector<sEntryFacts>& facts, const sContainerCheckOptions& options,
               cFindings& findings) {
  const std::vector<sZipEntry>& entries = reader.entries();
  std::vector<std::size_t> work;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const CdrEx& cdr = entries[i].cdr;
    const std::uint16_t method = cdr.header.compressionMethod();
    // An entry of no bytes, stored or not, has nothing to inflate.
    if (cdr.effectiveCompressedSize() == 0 && cdr.effectiveUncompressedSize() == 0 && cdr.header.crc() == 0) continue;
    if (facts[i].dataInArchive && !facts[i].encrypted && (method == kMethodStored || method == kMethodDeflated))
      work.push_back(i);
  }
  std::vector<std::optional<sFinding>> results(work.size());
  std::atomic<std::size_t> next{0};
  const auto verify = [&] {
    for (std::size_t k = next++; k < work.size(); k = next++) {
      std::string failure;
      const bool verified = failingOnOutOfMemory(&failure, [&] {
        results[k] = verifyData(reader, entries[work[k]]);
        return true;
      });
      // The entry could not be read for want of memory (its name would take more).
      if (!verified) results[k] = sFinding{"PKG-008", eSeverity::Error, {}, std::move(failure)};
    }
  };
  const unsigned threads = std::min<std::size_t>(deepThreads(options), std::max<std::size_t>(work.size(), 1));
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(verify);
    } catch (const std::system_error&) {
      break;  // fewer threads, the same findings
    }
  }
  verify();
  for (std::thread& helper : helpers) helper.join();
  for (std::optional<sFinding>& result : results)
    if (result) findings.add(std::move(*result));
}

void checkOpenArchive(const cZipReader& reader, const sContainerCheckOptions& options, bool firstIsMimetype,
                      cFindings& findings) {
  const std::vector<sZipEntry>& entries = reader.entries();
  const std::uint64_t size = reader.viewSize();
  // Entries' data ends where the central directory starts.
  const std::uint64_t cdStart = std::min(size, effectiveCdOffset(*reader.ecd(), reader.ecd64()));
  const bool haveEncryptionXml = findEntry(entries, kEncryptionPath) != nullptr;
  std::vector<sEntryFacts> facts(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const sZipEntry& e = entries[i];
    facts[i].encrypted = isEncrypted(e.cdr, e.lfh);
    const std::uint64_t limit = e.cdr.effectiveOffsetLfh() < cdStart ? cdStart : size;
    facts[i].dataInArchive = fitsIn(limit, e.dataOffset, e.cdr.effectiveCompressedSize());
  }
  if (!firstIsMimetype) checkMimetypeElsewhere(reader, facts, findings);
  const std::vector<std::span<const std::uint8_t>> cdrExtras = centralExtraFields(reader);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const sZipEntry& e = entries[i];
    checkName(e, findings);
    checkHeaders(e, haveEncryptionXml, findings);
    checkExtraFields(reader, e, cdrExtras[i], findings);
    if (!facts[i].dataInArchive)
      findings.error(kCodeDataPastEnd, e.cdr.name,
                     fmt::format("The entry's data ({} bytes from offset {}) runs past the end of the entries.",
                                 e.cdr.effectiveCompressedSize(), e.dataOffset));
  }
  checkOverlaps(entries, findings);
  checkDuplicates(entries, findings);
  checkEmptyFolders(entries, findings);
  checkContainerXml(reader, facts, findings);
  if (options.deep) checkData(reader, facts, options, findings);
}

std::vector<sFinding> checkWithReader(cZipReader& reader, bool opened, const std::string& message,
                                      const sContainerCheckOptions& options, const ContainerThen& then) {
  std::vector<sFinding> out;
  cFindings findings(out);
  const std::span<const std::uint8_t> bytes(reader.viewData(), static_cast<std::size_t>(reader.viewSize()));
  bool firstIsMimetype = false;
  if (!bytes.empty() || opened) {
    const sZipEntry* cdMimetype = nullptr;
    bool mimetypeElsewhere = !opened;  // not known
    if (opened)
      for (const sZipEntry& e : reader.entries()) {
        if (e.cdr.effectiveOffsetLfh() == 0) cdMimetype = &e;
        if (e.cdr.name == kMimetypeName) mimetypeElsewhere = true;
      }
    firstIsMimetype = checkFirstHeader(bytes, cdMimetype, !mimetypeElsewhere, findings);
  }
  if (!opened) {
    findings.error("PKG-008", "", message);
    if (isEndRecordOnly(bytes))
      findings.error("RSC-002", kContainerPath, "The archive holds no entries: META-INF/container.xml is missing.");
    return out;
  }
  checkOpenArchive(reader, options, firstIsMimetype, findings);
  if (then) then(reader, findings.packages, out);
  if (!reader.archiveUnchanged()) findings.error("PKG-008", "", kArchiveChangedMessage);
  return out;
}

}  // namespace

std::string_view severityName(eSeverity severity) { return severity == eSeverity::Error ? "error" : "warning"; }

namespace {

// A finding about the whole file is one line and names no path (the report
// names the file once): the reader's message less its path line, the
// system's reason after the first line.
std::string wholeFileFinding(const std::string& message, const std::string& path) {
  std::string text;
  std::size_t start = 0;
  while (start <= message.size()) {
    std::size_t end = message.find('\n', start);
    if (end == std::string::npos) end = message.size();
    const std::string_view line(message.data() + start, end - start);
    if (!line.empty() && line != path) {
      if (!text.empty()) text += ' ';
      text += line;
    }
    start = end + 1;
  }
  return text;
}

}  // namespace

std::vector<sFinding> checkContainer(const std::string& path, const sContainerCheckOptions& options) {
  return checkContainer(path, options, nullptr);
}

std::vector<sFinding> checkContainer(const std::string& path, const sContainerCheckOptions& options,
                                     const ContainerThen& then) {
  switch (pathKind(path)) {
    case PathKind::Missing: return {{"PKG-018", eSeverity::Error, "", "The file could not be found."}};
    case PathKind::Folder: return {{"PKG-008", eSeverity::Error, "", "The path names a folder, not a file."}};
    case PathKind::File: break;
  }
  cZipReader reader;
  std::string message;
  const bool opened = reader.open(&message, path);
  return checkWithReader(reader, opened, wholeFileFinding(message, path), options, then);
}

std::vector<sFinding> checkBookFolder(const std::string& folder) {
  if (pathKind(folder) != PathKind::Folder) return {};
  std::vector<sFinding> out;
  // The zip job takes the top-level file named mimetype in any letter case
  // (the first in listing order), so the warning looks for it the same way.
  // A folder that cannot be listed fails the zip itself, with its own message.
  std::vector<platform::FolderItem> items;
  if (!platform::listFolder(folder, items)) return {};
  const auto found = std::find_if(items.begin(), items.end(), [](const platform::FolderItem& item) {
    return !item.isFolder && equalsIgnoringAsciiCase(item.name, kMimetypeName);
  });
  if (found == items.end()) {
    out.push_back({"PKG-006", eSeverity::Warning, std::string(kMimetypeName),
                   "The folder has no mimetype file: the epub will not begin with one."});
  } else {
    // One byte more than a sound mimetype holds is enough to tell.
    char content[kMimetypeContent.size() + 1];
    std::size_t length = 0;
    platform::File file;
    if (file.open(joinPath(folder, found->name), platform::File::Mode::Read)) {
      while (length < sizeof content) {
        const std::size_t n = file.read(content + length, sizeof content - length);
        if (n == 0) break;
        length += n;
      }
    }
    if (std::string_view(content, length) != kMimetypeContent)
      out.push_back({"PKG-007", eSeverity::Warning, std::string(kMimetypeName),
                     "The folder's mimetype file does not hold exactly application/epub+zip."});
  }
  const std::string containerPath = joinPath(joinPath(folder, "META-INF"), "container.xml");
  if (pathKind(containerPath) != PathKind::File)
    out.push_back(
        {"RSC-002", eSeverity::Warning, std::string(kContainerPath), "The folder has no META-INF/container.xml."});
  return out;
}

std::vector<sFinding> checkContainer(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options) {
  return checkContainer(archive, options, nullptr);
}

std::vector<sFinding> checkContainer(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options,
                                     const ContainerThen& then) {
  cZipReader reader;
  std::string message;
  const bool opened = reader.open(&message, archive);
  return checkWithReader(reader, opened, message, options, then);
}

eEntryRead readWholeEntry(const cZipReader& reader, const sZipEntry& entry, std::uint64_t limit, std::string& out) {
  out.clear();
  const std::uint16_t method = entry.cdr.header.compressionMethod();
  if (isEncrypted(entry.cdr, entry.lfh) || (method != kMethodStored && method != kMethodDeflated) ||
      !fitsIn(reader.viewSize(), entry.dataOffset, entry.cdr.effectiveCompressedSize()))
    return eEntryRead::Unreadable;
  switch (readEntryData(reader, entry, limit, [&out](const std::uint8_t* p, std::size_t n) { out.append(p, p + n); })) {
    case eRead::Ok: return eEntryRead::Ok;
    case eRead::Damaged: return eEntryRead::Damaged;
    case eRead::TooLong: return eEntryRead::TooLong;
  }
  return eEntryRead::Damaged;
}

}  // namespace plimsy
