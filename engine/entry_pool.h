#pragma once

// Packing a book on several threads. The walk runs on a thread of its own and
// hands each file to a queue; worker threads take the files in turn, open
// each one, read it whole, compute its CRC-32 and deflate it into its
// finished entry (local header and data); the job's own thread writes the
// entries in the walk's order, gathered into large writes, and appends their
// central directory records. A file too big to wait in memory is opened by a
// worker and streamed by the writer when its turn comes, while the workers go
// on with the files after it.
//
// The archive is byte for byte the one add_file__def makes one file after
// the other (deflating a whole file gives the bytes of deflating it in
// blocks), and so is a failure: the first one in the walk's order is
// reported, and nothing after it is written.
//
// What waits (files being read, entries not yet written, files open for the
// writer) is bounded by the writer's queueBudget in bytes, however many files
// the book holds.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform.h"
#include "engine/zip_writer.h"

namespace plimsy {

// Takes one file of the walk, with add_file__def's arguments. False stops the
// walk (the job is failing already).
using EntrySink =
    std::function<bool(std::string* message, const std::string& relativePath, const platform::FolderItem& item,
                       std::optional<std::uint32_t> forcedLevel, std::string_view entryName)>;

// A walk over the book: hands every file to the sink in order. False, with
// `message` set, when the walk itself fails.
using EntryWalk = std::function<bool(std::string* message, const EntrySink& sink)>;

// Adds every file `walk` hands over to the archive at the output's current
// position with writer.threads worker threads, as add_file__def would one by
// one (one thread does it all when no other thread can be started). Fails
// with the first failure in the walk's order: add_file__def's message for a
// file, the walk's own, or kJobAbandonedMessage once jobs are abandoned.
// Sets writer.peakQueuedBytes.
bool addEntriesOnThreads(sZipWriter& writer, std::string* message, const EntryWalk& walk);

}  // namespace plimsy
