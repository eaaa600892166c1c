#pragma once

// The unzip job's threads: entries are unpacked on several threads, with the
// result of unpacking them one by one in central directory order (the same
// files, bytes and first message).

#include <string>

#include "engine/unzip_job.h"
#include "engine/zip_reader.h"

namespace plimsy {

// Creating files and copying data into them is most of the work, and the
// system does it for several threads at once.
//
// Checks the entries first (checkEntries), then unpacks every entry into the
// context's work folder (extractEntry): entries whose names clash on one
// thread, in order; a failure stops the threads at the first failed entry,
// takes away what they wrote for later entries and gives that entry's
// message. On success the context's statistics hold every thread's counts
// and the entries that later ones replaced.
bool extractAll(sUnzipContext& context, std::string* message, const cZipReader& reader);

}  // namespace plimsy
