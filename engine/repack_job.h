#pragma once

// The repack job: rewrites an epub (or any ZIP archive) into a sound epub
// container in one step. `mimetype` comes first, stored, holding exactly
// "application/epub+zip" (made when the archive has none); every other entry
// follows in central directory order with its name, its DOS date and time and
// its compressed bytes as they are, unless a level is given: then its data
// is inflated and packed again at that level, by the zip job's rules. Data
// descriptors, extra fields other than ZIP64 and comments are dropped, and
// the central directory is built anew.
//
// Every entry is checked first as the unzip job checks it (names, encryption,
// overlap), and its data while it is copied (length and CRC-32), with the
// unzip job's messages; entries of the same name stop the job too. The new
// archive is written into a work file beside the output and put in its place
// by one rename once it is whole, after a backup of the file it replaces
// (which may be the archive read), as the zip job does.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/job_progress.h"
#include "engine/statistics.h"

namespace plimsy {

inline constexpr std::string_view kRepackSuccessText = "You successfully repacked your epub.";
inline constexpr const char* kDuplicateNameMessage = "Two entries have the same name in zip file:\n%s";

struct sRepackOrder {
  std::string archivePath;             // the archive read
  std::string outputPath;              // the archive written; may be archivePath
  std::string backupDir;               // where the replaced file's backup goes; empty: no backup
  std::optional<std::uint32_t> level;  // pack every entry again at this level (0 stores)
  sJobProgress* progress = nullptr;    // told of the entries' count and size, then of every entry written
};

// Runs the job. On success `statistics` counts the entries written (the
// mimetype entry too); on failure `message` holds the first failure's text,
// no work file is left and the output path is as it was.
bool repackJob(const sRepackOrder& order, std::string* message, sStatistics& statistics);

}  // namespace plimsy
