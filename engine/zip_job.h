#pragma once

// The zip job: packs a files folder into an epub. It checks the request,
// writes the archive into a work file of its own (tempN.zip beside the epub,
// claimed so that no other job can be writing it), with `mimetype` first and
// stored, then every other file in the order of a depth-first walk, finishes
// it with the central directory and the end records, backs up the old epub
// when asked and puts the new archive in its place in one rename. The epub
// path never holds a partial archive: a failed job removes its work file.

#include <functional>
#include <string>
#include <string_view>

#include "core/settings.h"
#include "engine/statistics.h"
#include "engine/zip_writer.h"

namespace plimsy {

// The messages of this job besides those of the checks, the path helpers and
// the entry writer.
inline constexpr const char* kFolderLoopMessage = "A folder link leads back into a folder that holds it:\n%s";
inline constexpr const char* kUncarriableNameMessage =
    "This file's name cannot go into an epub (it holds \\, : or a control character, or is not valid UTF-8):\n%s";

// Runs the whole job on a copy of `order` (DoWhat 1). On success
// `statistics` receives the job's counts; on failure `message` holds the first
// failure's text, `statistics` is left alone, and the work file is gone: the
// old epub (or the lack of one) is as it was.
bool zipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics);

// The same with a fresh writer of the caller's, whose tuning (threads, queue
// budget) it keeps; afterwards the caller may read what the writer counted.
bool zipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics, sZipWriter& writer);

// Copies the job's parameters into the writer, makes the epub's folder when
// missing and claims the work file: the first tempN.zip in the epub's folder
// that it can create anew (the messages of parentFolder and uniqueFileName).
// Fails with "Unable to open zip file for writing.", or with the message for a
// pipe, socket or device when the epub path names one.
bool openOutput(sZipWriter& writer, std::string* message, const EpubWorkOrder& order);

// Called for each file found: its path below the files folder and what the
// folder listing said of it. False stops the walk (with the message set).
using FileVisitor = std::function<bool(const std::string& relativePath, const platform::FolderItem& findData)>;

// Walks every file below `folder`, depth first, each folder in
// platform::listFolder's order (by name without regard to case), handing
// each to `visit` as it is found: the archive is written during the walk, so
// no list of the whole book is ever held. Folders are not visited themselves,
// so empty ones leave no trace. Links are followed, to folders as to files
// (an image folder linked in from elsewhere belongs to the book). Fails with
// "Can't read folder\n<folder>" when a folder cannot be listed (a book with
// files left out must not pass for a finished one), with the loop message
// naming the link when a link leads back into a folder on the way down, and
// with the message for a pipe, socket or device naming it.
bool collectFiles(std::string* message, const std::string& folder, const FileVisitor& visit);

// Whether a relative path can be an entry name that every reader (and this
// program's own unzip, on any system) unpacks to the same file: valid UTF-8
// without "\\", ":" or control characters (C0, DEL, C1).
bool isCarriableEntryName(std::string_view relativePath);

// Writes the central directory in one write, the Ecd64 and Ecdl64 when
// needed (setting the statistics' ZIP64 flag), and the Ecd, closes the work
// file, makes the backup (the first free backN.zip in the backup folder, made
// when missing) and renames the work file over the epub in one step; then
// sets the epub's times to the fixed datetime, or to now when real creation
// times are asked for. Failures:
//   "Unable to write central directory."  (also when there is no entry)
//   "Unable to write Ecd64."  "Unable to write Ecdl64."  "Unable to write Ecd."
//   "Unable to close zip file."  (the system reported that data may be lost)
//   "Unable to create directory for backup file."  uniqueFileName's message
//   "Unable to make backup."  "Unable to rename work copy of zip file."
//   "Unable to set time on zip file."  "Unable to set time on epub file."
bool finishArchive(sZipWriter& writer, std::string* message);

// Closes and removes the writer's work file, if it still has one: after a
// failure the epub path and its folder are as they were.
void removeWorkFile(sZipWriter& writer);

}  // namespace plimsy
