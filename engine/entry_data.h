#pragma once

// An entry's data read piece by piece straight from the archive: stored data
// handed over as it lies in the archive, deflated data inflated 64 KiB at a
// time. Nothing holds the whole entry.

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>

#include <fmt/format.h>
#include <zlib.h>

#include "engine/zip_reader.h"
#include "engine/zip_record_images.h"

namespace plimsy {

// Compressed bytes handed to zlib (or stored bytes handed over) at a time.
inline constexpr std::uint64_t kEntryReadPiece = std::uint64_t{1} << 20;

// Calls take(p, n); true unless it returned false.
template <typename Take>
bool handOver(Take& take, const std::uint8_t* p, std::size_t n) {
  if constexpr (std::is_same_v<decltype(take(p, n)), bool>)
    return take(p, n);
  else
    take(p, n);
  return true;
}

enum class eRead : std::uint8_t { Ok, Damaged, TooLong };

// Hands the entry's uncompressed data to `take` piece by piece, stopping with
// TooLong once more than `limit` bytes came out. The data must lie in the
// archive. When the deflated data is damaged, `why` (when given) says how.
// A `take` that returns bool ends the reading early by returning false; the
// result is then Ok (the caller knows why it stopped).
template <typename Take>
eRead readEntryData(const cZipReader& reader, const sZipEntry& entry, std::uint64_t limit, Take&& take,
                    std::string* why = nullptr) {
  const std::uint8_t* data = reader.viewData() + entry.dataOffset;
  std::uint64_t left = entry.cdr.effectiveCompressedSize();
  if (entry.cdr.header.compressionMethod() == kMethodStored) {
    if (left > limit) return eRead::TooLong;
    while (left > 0) {
      const std::uint64_t piece = std::min(left, kEntryReadPiece);
      if (!handOver(take, data, static_cast<std::size_t>(piece))) return eRead::Ok;
      reader.noteRead(piece);
      data += piece;
      left -= piece;
    }
    return eRead::Ok;
  }
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return eRead::Damaged;
  std::uint8_t out[64 * 1024];
  std::uint64_t total = 0;
  eRead result = eRead::Damaged;
  for (;;) {
    if (stream.avail_in == 0 && left > 0) {
      const std::uint64_t piece = std::min(left, kEntryReadPiece);
      stream.next_in = const_cast<Bytef*>(data);
      stream.avail_in = static_cast<uInt>(piece);
      reader.noteRead(piece);
      data += piece;
      left -= piece;
    }
    stream.next_out = out;
    stream.avail_out = sizeof out;
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t produced = sizeof out - stream.avail_out;
    total += produced;
    if (total > limit) {
      result = eRead::TooLong;
      break;
    }
    if (produced > 0 && !handOver(take, out, produced)) {
      result = eRead::Ok;
      break;
    }
    if (status == Z_STREAM_END) {
      result = eRead::Ok;
      break;
    }
    // Out of input before the stream's end, or a damaged stream.
    const bool inputUsedUp = stream.avail_in == 0 && left == 0;
    if ((status != Z_OK && !(status == Z_BUF_ERROR && left > 0)) || (status == Z_OK && produced == 0 && inputUsedUp)) {
      if (why)
        *why = status == Z_DATA_ERROR && stream.msg ? std::string(stream.msg)
               : inputUsedUp                        ? std::string("the data ends before the deflate stream does")
                                                    : fmt::format("zlib status {}", status);
      break;
    }
  }
  inflateEnd(&stream);
  return result;
}

}  // namespace plimsy
