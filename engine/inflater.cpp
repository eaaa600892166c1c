#include "engine/inflater.h"

#include <zlib.h>

#include <algorithm>

#include "engine/crc32.h"
#include "engine/job_control.h"

namespace plimsy {

// ---- The inflater ------------------------------------------------------------------------

namespace {
// zlib's largest window (window bits 15, 32 KiB): inflateBack keeps the
// window in the caller's buffer and hands the output over from it, one
// window-full at a time. The buffer has room to spare.
constexpr int kWindowBits = 15;
constexpr std::size_t kWindowSize = std::size_t{1} << kWindowBits;
constexpr std::size_t kWindowBufferSize = 65'536;
// The most compressed bytes handed to zlib at a time.
constexpr std::size_t kInputChunk = 65'536;
}  // namespace

struct cInflater::State {
  z_stream stream{};
  std::unique_ptr<unsigned char[]> window{new unsigned char[kWindowBufferSize]};
  bool ready = false;
};

cInflater::cInflater() : state_(std::make_unique<State>()) {
  static_assert(kWindowBufferSize >= kWindowSize);
  state_->ready = inflateBackInit(&state_->stream, kWindowBits, state_->window.get()) == Z_OK;
}

cInflater::~cInflater() {
  if (state_->ready) inflateBackEnd(&state_->stream);
}

bool cInflater::ready() const { return state_->ready; }

namespace {

// ---- Inflating ---------------------------------------------------------------------------

// Hands zlib the next piece of the entry's data, straight from the mapping.
unsigned inflateInput(void* descriptor, z_const unsigned char** buffer) {
  auto& sink = *static_cast<sInflateSink*>(descriptor);
  // No more input stops zlib (a program that quits does not wait for a big entry).
  if (jobsAbandoned()) {
    sink.abandoned = true;
    return 0;
  }
  const auto n = static_cast<unsigned>(std::min<std::uint64_t>(sink.bytesLeft, kInputChunk));
  *buffer = const_cast<unsigned char*>(sink.dataNext);
  sink.dataNext += n;
  sink.bytesLeft -= n;
  sink.bytesConsumed += n;
  if (sink.archive != nullptr) sink.archive->noteRead(n);
  return n;
}

// Sets the sink up for a new stream.
void startSink(sInflateSink& sink, std::string_view outputPath, const std::uint8_t* data,
               std::uint64_t compressedSize) {
  sink.compressedSize = sink.bytesLeft = compressedSize;
  sink.dataStart = sink.dataNext = data;
  sink.bytesConsumed = sink.bytesWritten = 0;
  sink.crc = static_cast<std::uint32_t>(crc32(0, Z_NULL, 0));
  sink.outputPath = outputPath;
  sink.overran = sink.writeFailed = sink.abandoned = false;
}

// Takes one chunk of output: refuses it when it would pass the size limit
// (a stream may inflate to far more than it declares), else checks and
// writes it. Non-zero stops zlib.
int inflateOutput(void* descriptor, unsigned char* chunk, unsigned length) {
  auto& sink = *static_cast<sInflateSink*>(descriptor);
  if (jobsAbandoned()) {
    sink.abandoned = true;
    return 1;
  }
  if (length > sink.sizeLimit - sink.bytesWritten) {
    sink.overran = true;
    return 1;
  }
  sink.bytesWritten += length;
  sink.crc = ~updateCrc32(~sink.crc, chunk, length);
  if (!sink.checkOnly && !sink.output.write(chunk, length)) {
    sink.writeFailed = true;
    return 1;
  }
  noteBytes(sink.progress, length);
  return 0;
}

}  // namespace

bool inflateEntry(sInflateSink& sink, std::string_view outputPath, const std::uint8_t* data,
                  std::uint64_t compressedSize) {
  if (!sink.output.open(std::string(outputPath), platform::File::Mode::WriteTruncate)) {
    startSink(sink, outputPath, data, compressedSize);
    sink.writeFailed = true;
    return false;
  }
  bool ended = inflateInto(sink, outputPath, data, compressedSize);
  if (!sink.output.close()) {
    sink.writeFailed = true;
    ended = false;
  }
  return ended;
}

bool inflateInto(sInflateSink& sink, std::string_view outputPath, const std::uint8_t* data,
                 std::uint64_t compressedSize) {
  startSink(sink, outputPath, data, compressedSize);
  std::unique_ptr<cInflater> own;
  cInflater* inflater = sink.inflater;
  if (inflater == nullptr) {
    own = std::make_unique<cInflater>();
    inflater = own.get();
  }
  bool ended = false;
  if (inflater->ready()) {
    z_stream& stream = inflater->state().stream;
    stream.next_in = Z_NULL;  // every byte comes through inflateInput
    stream.avail_in = 0;
    ended = inflateBack(&stream, inflateInput, &sink, inflateOutput, &sink) == Z_STREAM_END;
  }
  return ended;
}

}  // namespace plimsy
