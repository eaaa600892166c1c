#pragma once

// The zip job: packs a files folder into an epub. It checks the request,
// writes the archive (tempN.zip beside an existing epub, else the epub
// itself) with `mimetype` first and stored, then every other file in the
// order of a depth-first walk, finishes it with the central directory and
// the end records, backs up the old epub when asked and puts the new archive
// in its place in one rename.

#include <functional>
#include <string>

#include "core/settings.h"
#include "engine/statistics.h"
#include "engine/zip_writer.h"

namespace plimsy {

// Runs the whole job on a copy of `order` (DoWhat 1). On success
// `statistics` receives the job's counts; on failure `message` holds the first
// failure's text and `statistics` is left alone. A failed job leaves what it
// wrote on disk: a partial tempN.zip beside the untouched epub, or a partial
// epub when none existed.
bool zipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics);

// Copies the job's parameters into the writer and opens the work file: the
// epub path itself when nothing is there, else the first free tempN.zip in
// the epub's folder (the messages of parentFolder and uniqueFileName). The
// work file's folders are made when missing. Fails with "Unable to open zip
// file for writing.".
bool openOutput(sZipWriter& writer, std::string* message, const EpubWorkOrder& order);

// Called for each file found: its path below the files folder and what the
// folder listing said of it. False stops the walk (with the message set).
using FileVisitor = std::function<bool(const std::string& relativePath, const platform::FolderItem& findData)>;

// Walks every file below `folder`, depth first, each folder in
// platform::listFolder's order (by name without regard to case), handing
// each to `visit` as it is found: the archive is written during the walk, so
// no list of the whole book is ever held. Folders are not visited themselves,
// so empty ones leave no trace. A symbolic link to a folder is not followed;
// one to a file is visited as that file. Fails with "Can't read
// folder\n<folder>" when a folder cannot be listed: a book with files left out
// must not pass for a finished one.
bool collectFiles(std::string* message, const std::string& folder, const FileVisitor& visit);

// Writes the central directory in one write, the Ecd64 and Ecdl64 when
// needed (setting the statistics' ZIP64 flag), and the Ecd, closes the work
// file, makes the backup (backN.zip in the backup folder, made when missing)
// and renames the work file over the epub in one step; then sets the epub's
// times to the fixed datetime, or to now when real creation times are
// asked for. Failures:
//   "Unable to write central directory."  (also when there is no entry)
//   "Unable to write Ecd64."  "Unable to write Ecdl64."  "Unable to write Ecd."
//   "Unable to close zip file."  (the system reported that data may be lost)
//   "Unable to create directory for backup file."  uniqueFileName's message
//   "Unable to make backup."  "Unable to rename work copy of zip file."
//   "Unable to set time on zip file."  "Unable to set time on epub file."
bool finishArchive(sZipWriter& writer, std::string* message);

}  // namespace plimsy
