#pragma once

// The repack job: rewrites an epub (or any ZIP archive) into a sound epub
// container in one step. `mimetype` comes first, stored, holding exactly
// "application/epub+zip" (made when the archive has none); every other entry
// follows in central directory order with its name, its DOS date and time
// (as they are, even ones that form no valid time), its UTF-8 flag and its
// compressed bytes as they are (an empty deflated file keeps its two-byte
// stream), unless a level is given: then its data is inflated and packed
// again at that level, by the zip job's rules. A folder entry is written as
// one, named with a trailing "/" (some writers mark folders by their
// attributes alone; copied as files, they would keep the book from
// unpacking), without data. A top-level entry named mimetype in another
// letter case (MIMETYPE) is left out when it holds the media type (the new
// mimetype entry says the same; kept, it would be its duplicate), and the
// job says so; one that holds anything else stops the job. Data descriptors,
// the other general flags, extra fields other than ZIP64 and comments are
// dropped, and the central directory is built anew.
//
// Every entry is checked first as the unzip job checks it (names, encryption,
// overlap), and its data while it is copied (length and CRC-32), with the
// unzip job's messages (an entry whose local header gives another name than
// the central directory stops it too), except that data that does not
// inflate says so; entries of the same name stop the job too. The new
// archive is written into a work file beside the output and put in its place
// by one rename once it is whole, after a backup of the file it replaces
// (which may be the archive read), as the zip job does. A failed job leaves
// nothing behind: no work file, and none of the folders it made for the
// output. An archive that another program changes meanwhile fails the job
// with "Zip file changed while it was being read.", whatever else failed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job_progress.h"
#include "engine/statistics.h"

namespace plimsy {

inline constexpr std::string_view kRepackSuccessText = "You successfully repacked your epub.";
inline constexpr const char* kDuplicateNameMessage = "Two entries have the same name in zip file:\n%s";
inline constexpr const char* kInflateFailedMessage = "Unable to inflate compressed file:\n%s";
inline constexpr const char* kOtherMimetypeMessage =
    "An entry named mimetype in another letter case does not hold application/epub+zip:\n%s";
inline constexpr const char* kDroppedMimetypeNote =
    "Left out %s: it held the media type, which the new mimetype entry holds.";

struct sRepackOrder {
  std::string archivePath;             // the archive read
  std::string outputPath;              // the archive written; may be archivePath
  std::string backupDir;               // where the replaced file's backup goes; empty: no backup
  std::optional<std::uint32_t> level;  // pack every entry again at this level (0 stores)
  sJobProgress* progress = nullptr;    // told of the entries' count and size, then of every entry written
};

// Runs the job. On success `statistics` counts the entries written (the
// mimetype entry too) and `dropped`, when given, receives the names of the
// entries left out (a mimetype in another letter case); on failure `message`
// holds the first failure's text, no work file is left and the output path
// is as it was.
bool repackJob(const sRepackOrder& order, std::string* message, sStatistics& statistics,
               std::vector<std::string>* dropped = nullptr);

// What the job says of the entries it left out: one kDroppedMimetypeNote line
// each ("Left out MIMETYPE: ..."); empty when none was.
std::string droppedEntriesNote(const std::vector<std::string>& dropped);

}  // namespace plimsy
