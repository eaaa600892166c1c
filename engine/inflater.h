#pragma once

// Inflating an entry's deflate stream straight from the archive's mapping:
// zlib's inflateBack state, reused from entry to entry, and the sink that
// feeds it the compressed bytes and takes the output (measured against a size
// limit, its CRC taken, and written to a file unless only checked).

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/platform.h"
#include "engine/job_progress.h"
#include "engine/zip_reader.h"

namespace plimsy {

// zlib's inflateBack state with its 64 KiB window. Set up once per job and
// reused for every deflated entry (zlib allows any number of streams per
// state).
class cInflater {
 public:
  cInflater();
  ~cInflater();
  cInflater(const cInflater&) = delete;
  cInflater& operator=(const cInflater&) = delete;

  // False when zlib could not set up the state (out of memory).
  bool ready() const;

  struct State;
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

// What inflateEntry works with: the compressed bytes it hands to zlib
// straight from the archive's mapping, and the output it receives back.
struct sInflateSink {
  std::uint64_t compressedSize = 0;
  std::uint64_t bytesLeft = 0;      // compressed bytes not yet handed to zlib
  std::uint64_t bytesConsumed = 0;  // compressed bytes handed out so far
  std::uint64_t bytesWritten = 0;   // inflated bytes written so far
  const std::uint8_t* dataStart = nullptr;
  const std::uint8_t* dataNext = nullptr;
  std::string_view outputPath;
  platform::File output;
  std::uint32_t crc = 0;  // of the bytes written

  // Set by the caller before inflateEntry: inflating stops, and fails, as
  // soon as the output would pass this size.
  std::uint64_t sizeLimit = UINT64_MAX;
  // The state to use; nullptr makes one for this entry alone.
  cInflater* inflater = nullptr;
  // When set, told of every piece of input read (cZipReader::noteRead), so
  // that the memory of what was read is given back as inflating goes on.
  const cZipReader* archive = nullptr;
  // When set, told of every piece of output as it is written.
  sJobProgress* progress = nullptr;

  // When set, the output is measured and its CRC taken, but not written.
  bool checkOnly = false;
  // Why a failed inflateEntry failed.
  bool overran = false;      // the output passed sizeLimit (nothing past it was written)
  bool writeFailed = false;  // the output file could not be opened or written
  bool abandoned = false;    // the jobs were told to stop (engine/job_control.h)
};

// Inflates a raw deflate stream of `compressedSize` bytes at `data` into a new
// file at `outputPath`, folding every output chunk into the sink's CRC.
// True only when the stream ends within the given bytes (bytes after its end
// are ignored) and the output never passed sink.sizeLimit.
bool inflateEntry(sInflateSink& sink, std::string_view outputPath, const std::uint8_t* data,
                  std::uint64_t compressedSize);

// As inflateEntry, into the file already open in sink.output, which stays
// open: the caller can give it its times before closing it.
bool inflateInto(sInflateSink& sink, std::string_view outputPath, const std::uint8_t* data,
                 std::uint64_t compressedSize);

}  // namespace plimsy
