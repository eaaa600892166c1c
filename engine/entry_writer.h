#pragma once

// The entry writer: adds one file of the files folder to the archive a zip
// job is writing. It decides between storing and deflating, writes the local
// header and the data, appends the entry's central directory record and
// counts the entry in the job's statistics.
//
// Each file is read once: its CRC-32 is computed in the same pass that stores
// or deflates it. A small file is read whole, compressed in memory and
// written with its header in one write; a bigger one gets a provisional
// header, is streamed behind it, and the header is rewritten once the CRC and
// the compressed size are known. Either way the archive holds the bytes a
// writer gets that reads the file for its CRC first and writes it after.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform.h"
#include "engine/zip_records.h"
#include "engine/zip_writer.h"

namespace plimsy {

// Whether a file's extension (the last "." that is followed by neither a
// separator nor a space) marks it as already compressed: .gif .jpg .jpeg .png
// .tif .tiff .mp3 .mp4 .wma .avi .mpeg .mpg, in any letter case. Such files
// are stored unless the job deflates compressed files too.
bool isCompressedFileName(std::string_view path);

// Adds the file filesFolder + relativePath to the archive at the output's
// current position. The entry is named `entryName`, or the relative path when
// that is empty (on Windows with every "\\" turned into "/"; on POSIX a "\\"
// is an ordinary character and stays in the name). The level is the job's,
// 0 for an already-compressed file (see isCompressedFileName), or
// `forcedLevel` when given; level 0 stores, 1 to 9 deflate (an entry stays
// deflated even when its data grows). The entry's time is the job's fixed
// datetime, else the find data's last-write time.
//
// Failures, each ending the job with what was written left in the output:
//   "Source file not found in add_file__def()."
//   "Can't open file\n<full path>"  (a pipe, socket or device: the message naming one;
//                                   a file another program holds without sharing it:
//                                   "File is open by another program.\n<full path>")
//   "Unable to initialize local file header"   (a name of 65,535 bytes or more)
//   the messages of sLfhEx2::write()
//   "Unable to write stored file."
//   "Stored length doesn't match input length in add_file__def()."
//        (the bytes read differ from the file's length when it was opened:
//        the file changed while it was read; deflated entries too)
//   "An error occurred while deflating."
bool add_file__def(sZipWriter& writer, std::string* message, const std::string& relativePath,
                   const platform::FolderItem& findData, const std::string& filesFolder,
                   std::optional<std::uint32_t> forcedLevel = std::nullopt, std::string_view entryName = {});

// ---- The pieces of add_file__def, for writers that split the work ---------

// A source file opened for its entry, with the entry's local header made
// (CRC and compressed size still to come).
struct sOpenedEntry {
  platform::File source;
  std::string path;  // the source file's
  sLfhEx2 lfh;
  std::uint64_t size = 0;  // the file's length when it was opened
  std::uint32_t level = 0;
};

// The level add_file__def uses for the file (see there).
std::uint32_t entryLevel(const sZipWriter& writer, const std::string& relativePath,
                         std::optional<std::uint32_t> forcedLevel);

// What add_file__def does before it writes: opens the file and makes its
// local header. Fails with the first four messages of add_file__def. Reads
// only the writer's settings.
bool openEntry(const sZipWriter& writer, std::string* message, const std::string& relativePath,
               const platform::FolderItem& findData, const std::string& filesFolder,
               std::optional<std::uint32_t> forcedLevel, std::string_view entryName, sOpenedEntry& entry);

// The most bytes the finished entry of a file of `size` bytes read whole can
// take, with room for reading it (the file and one byte more, to see whether
// it has grown), for an entry name of `nameLength` bytes.
std::size_t wholeEntryBytes(std::uint64_t size, std::uint32_t level, std::size_t nameLength);

// A finished entry in memory: the local header followed by the data.
struct sEntryBytes {
  std::unique_ptr<std::uint8_t[]> data;
  std::size_t length = 0;
};

// Reads the opened file whole (its size must fit in memory) and makes its
// finished entry in `bytes`, setting the header's CRC and compressed size:
// the bytes add_file__def writes for it. Fails with add_file__def's messages
// for reading, a changed length and deflating; also when jobs are abandoned.
bool encodeWholeEntry(sOpenedEntry& entry, sEntryScratch& scratch, sEntryBytes& bytes, std::string* message);

// Writes the opened file's entry at the output's current position, which is
// `lfhOffset`, streaming its data (any size): what add_file__def does for
// a big file.
bool writeStreamedEntry(sZipWriter& writer, std::string* message, sOpenedEntry& entry, std::uint64_t lfhOffset);

// Appends the central directory record of the entry written with this local
// header at `lfhOffset`, and counts it (stored or deflated by its method) in
// the statistics and the progress.
void recordEntry(sZipWriter& writer, std::uint64_t lfhOffset, const sLfhEx2& lfh);

// The message for a failed write of an entry's data at `level`.
const char* dataWriteFailure(std::uint32_t level);

// What writeEntryData did with the rest of a source file.
struct sEntryData {
  std::uint64_t bytesRead = 0;     // taken from the source
  std::uint64_t bytesWritten = 0;  // written to the output (the compressed size)
  std::uint32_t crc = 0;           // CRC-32 of the bytes read
  bool outputFailed = false;       // a write to the output failed (the system said why)
};

// Stores (level 0) or deflates (1 to 9) the rest of `source` at the output's
// current position, in blocks, computing the CRC-32 on the way. Fails with
// "Unable to write stored file." (a stored write fails) or "An error occurred
// while deflating." (zlib, a read or a write fails). A read error while
// storing ends the data early; the caller sees it in bytesRead.
bool writeEntryData(sZipWriter& writer, std::string* message, sEntryData& data, platform::File& source,
                    std::uint32_t level);

// The raw deflate stream (no zlib header or trailer) of the rest of `source`
// at level 1 to 9, written at the output's current position. An empty source
// gives the two bytes of an empty final block. False when zlib refuses, or a
// read or a write fails.
bool deflateFile(platform::File& output, platform::File& source, int level);

}  // namespace plimsy
