#pragma once

// The analysis log: a plain-text report, headed "ZIP FILE ANALYSIS", of every
// structural record of an open archive: the end records, and for each entry
// its central directory record and its local header, each shown as stored
// and as the reader interprets it. UTF-8 with a byte-order mark, every line
// ending in CR LF on every platform.
//
// The text is built from the reader's entry list (nothing is read from the
// archive again) with its CR LF line ends, in pieces of many entries that
// several threads format at once and that are written out in their order: the
// log is the same whatever the number of threads.

#include <string>

#include "engine/zip_reader.h"

namespace plimsy {

// Writes the whole log of `reader` (after a successful open; the reader stays
// open) to `logPath`, through a work file tempN<.ext> beside it (claimed for
// this log alone and registered as the job's work, engine/job_control.h) that
// is renamed over the old log once it is whole: a failed or stopped analysis
// leaves the old log as it was and no work file. Fails with "Unable to open
// log file." when the work file cannot be created or renamed into place, or
// when the log names the archive itself (replacing it would destroy the
// archive being read); with the message naming a pipe, socket or device when
// the log path is one; with "Unable to write log file." when the log could
// not be written whole (a full disk); with "Zip file changed while it was
// being read." when another program changed the archive meanwhile; with "The
// job was stopped before it was finished." when the jobs were told to stop.
bool writeAnalysisLog(const cZipReader& reader, std::string* message, const std::string& logPath);

// The same log in `text` (for an archive held in memory, whose heading names
// no file and no times; "This log:" names nothing). Fails only when the
// archive changed meanwhile.
bool writeAnalysisText(const cZipReader& reader, std::string* message, std::string& text);

// The log's lines about an extra field, each line's "\n" in front of it (as
// "\r\n" in the log): what parseExtraField found, or "\n   none" when it
// reached the end of the field and found nothing to show.
std::string extraFieldLines(const sExtraFindings& findings);

}  // namespace plimsy
