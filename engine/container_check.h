#pragma once

// The container check: reads an epub (never unpacks it) and lists every fault
// of its ZIP container, each with its severity, the entry it concerns and a
// code. Faults that epubcheck also reports carry epubcheck's code (PKG-006,
// RSC-002, ...); the others carry a code of Plimsy's own (PLM-001, ...), which
// the README lists.
//
// The checks read the archive through the ZIP reader. When the reader cannot
// open it, its message is one finding and only the checks that need no
// central directory run: the first local header at offset 0 must be a stored
// `mimetype` of exactly "application/epub+zip", without an extra field.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace plimsy {

enum class eSeverity : std::uint8_t { Error, Warning };

struct sFinding {
  std::string code;  // "PKG-006", "PLM-003"
  eSeverity severity = eSeverity::Error;
  std::string entry;    // the entry's name as raw bytes; empty for the whole archive
  std::string message;  // one sentence, valid UTF-8 (bytes of names that are not are written \xNN)

  bool operator==(const sFinding&) const = default;
};

struct sContainerCheckOptions {
  // Also read every entry's data: inflate it and compare its length and CRC-32
  // with the central directory's.
  bool deep = false;
  // Threads for the deep check; 0 takes the processor's cores (at most 4).
  unsigned threads = 0;
};

// The codes of Plimsy's own findings. (PLM-007, a rootfile without a
// full-path, is retired: epubcheck's OPF-016 and OPF-017 took its place.)
inline constexpr const char* kCodeDataDescriptor = "PLM-001";
inline constexpr const char* kCodeUnsafeName = "PLM-002";
inline constexpr const char* kCodeOverlap = "PLM-003";
inline constexpr const char* kCodeDataPastEnd = "PLM-004";
inline constexpr const char* kCodeHeadersDisagree = "PLM-005";
inline constexpr const char* kCodeDamagedData = "PLM-006";

// Checks the archive at `path` (UTF-8). A path that names nothing gives one
// PKG-018 finding; one that cannot be opened or read as an archive, a PKG-008
// finding with the reader's message.
std::vector<sFinding> checkContainer(const std::string& path, const sContainerCheckOptions& options = {});

// Checks an archive held in memory.
std::vector<sFinding> checkContainer(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options = {});

class cZipReader;
struct sZipEntry;

// What the book check adds once the container is checked, while the archive
// is open: called with the reader, the package documents that container.xml
// names (the full-paths of its rootfiles of media type
// application/oebps-package+xml that name an entry, in document order; of the
// last copy of container.xml when there are several, the one a reading
// system takes; none when it is not well-formed) and the findings so far. Not
// called when the archive could not be opened.
using ContainerThen =
    std::function<void(const cZipReader& reader, const std::vector<std::string>& packages, std::vector<sFinding>& out)>;
std::vector<sFinding> checkContainer(const std::string& path, const sContainerCheckOptions& options,
                                     const ContainerThen& then);
std::vector<sFinding> checkContainer(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options,
                                     const ContainerThen& then);

// How reading an entry's data whole went.
enum class eEntryRead : std::uint8_t {
  Ok,
  Unreadable,  // encrypted, stored with another method than 0 or 8, or its data runs past the archive's end
  Damaged,     // the deflated data does not inflate
  TooLong,     // longer than the limit
};

// An entry's data, inflated, into `out` (the container check reports why one
// cannot be read).
eEntryRead readWholeEntry(const cZipReader& reader, const sZipEntry& entry, std::uint64_t limit, std::string& out);

// The faults of a book folder that would make the epub packed from it fail
// the container check, all warnings: no `mimetype` file in any letter case
// (PKG-006; the zip job takes `MimeType` as `mimetype`), a
// `mimetype` that holds anything but "application/epub+zip" (PKG-007), no
// META-INF/container.xml (RSC-002). Nothing for a path that is no folder.
std::vector<sFinding> checkBookFolder(const std::string& folder);

inline std::size_t countFindings(const std::vector<sFinding>& findings, eSeverity severity) {
  std::size_t n = 0;
  for (const sFinding& f : findings) n += f.severity == severity ? 1 : 0;
  return n;
}

std::string_view severityName(eSeverity severity);

// An entry name (or any bytes) as findings show it: valid UTF-8 as it is;
// otherwise every byte from 0x80 up as the text \xNN, so that the bytes can
// be told apart (OCF names hold no backslash).
std::string visibleName(std::string_view bytes);

}  // namespace plimsy
