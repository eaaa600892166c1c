#pragma once

// The unzip job: unpacks an epub (or any ZIP archive) into a files folder.
//
// It never writes into an existing files folder. Every entry goes into a
// fresh work folder beside it (tempN, claimed so that no other job can be
// using it), or straight into the files folder when that does not exist yet.
// Only when every entry is out is the old folder (optionally) backed up to
// backN, renamed aside, the work folder renamed into its place and the old
// folder deleted; a failure never leaves the user without one of the two
// folders.
//
// Before anything is written, every entry is checked: its name must stay
// inside the work folder (both "/" and "\\" separate its parts), it must not
// be encrypted, and no two entries may share bytes of the archive. Every
// entry is then checked while it is written: its length against the central
// directory (inflating stops as soon as the output passes it, so a small
// archive cannot fill the disk) and its CRC-32. Entries are always written as
// regular files; empty files and empty folders are made too.
//
// Entries are unpacked on several threads, with the result of unpacking them
// one by one in central directory order: the same files, bytes and first
// message. Entries whose names clash (the same name twice, a file where
// another entry needs a folder) are unpacked in order on one thread. When
// two entries unpack to the same file, the later one wins and the job's
// statistics name both (replacedEntries).
//
// A job told to stop (engine/job_control.h) notices within a few MiB, inside
// a big entry too, and removes its work folder. A failed job removes the
// work folder it made when it holds no file (the epub was no zip, or held an
// unsafe name), with the folders it made above it; one that holds files it
// could read out of a damaged book stays.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform.h"
#include "core/settings.h"
#include "engine/entry_name_rules.h"
#include "engine/inflater.h"
#include "engine/job_progress.h"
#include "engine/statistics.h"
#include "engine/zip_reader.h"

namespace plimsy {

// The messages of this job (besides those of the checks, the path helpers and
// the reader it runs).
inline constexpr const char* kUnsafeNameMessage = "Unsafe file name in zip file:\n%s";
inline constexpr const char* kOverlappingEntriesMessage = "Invalid zip file (overlapping entries).";
inline constexpr const char* kInvalidFileMessage = "Invalid file.";
inline constexpr const char* kNoUnzipFolderMessage = "Unable to create directory for unzipped files.";
inline constexpr const char* kNoOutputFileMessage = "Unable to open output file.";
inline constexpr const char* kStoredWriteMessage = "Unable to write uncompressed file.";
inline constexpr const char* kDeflatedWriteMessage = "Unable to write compressed file.";
inline constexpr const char* kLengthMismatchMessage = "Invalid or corrupt file (length mismatch).";
inline constexpr const char* kCrcMismatchMessage = "Invalid or corrupt file (crc mismatch).";
inline constexpr const char* kOtherMethodMessage = "File compressed with method other than deflate.";
inline constexpr const char* kNoBackupFolderMessage = "Unable to create directory for backup.";
inline constexpr const char* kCopyTreeMessage = "Unable to copy directory tree; %S.";
inline constexpr const char* kDeleteTreeMessage =
    "Unable to delete old directory tree so it can be replaced by new one; %S.";
inline constexpr const char* kRenameWorkFolderMessage = "Unable to rename work copy of files directory.";
inline constexpr const char* kEncryptedEntryMessage = "Unable to unzip an encrypted file:\n%s";
// The central directory's name, then the local header's.
inline constexpr const char* kTwoNamesMessage = "Invalid zip file (an entry has two names):\n%s\n%s";

// The state of one unzip job.
struct sUnzipContext {
  sUnzipContext();
  ~sUnzipContext();

  sStatistics statistics;
  EpubWorkOrder workOrder;  // the job's copy
  std::string workFolder;   // where the entries go; ends with a separator
  // The folders above a new files folder that the job made, innermost first.
  std::vector<std::string> madeFolders;

  // Reused from entry to entry, so that nothing but the first entry allocates.
  std::string outputPath;
  std::string lastParentFolder;         // the folder last made sure of
  std::unique_ptr<cInflater> inflater;  // made at the first deflated entry

  // The files this context has opened for writing, with their entries'
  // indexes, when asked to keep them (several threads: what entries after a
  // failed one wrote is taken away again).
  bool keepWrittenFiles = false;
  std::vector<std::pair<std::uint64_t, std::string>> writtenFiles;
  // Told of the entries' count and size, then of every piece and entry unpacked, when given.
  sJobProgress* progress = nullptr;
};

// Runs the whole job on a copy of `order` (DoWhat 2): checkJobSource and
// checkPaths (their messages; `statistics` is then left alone), the backup
// folder must lie outside the files folder ("The backup folder is inside the
// files folder. ..."), the work folder (parentFolder's and uniqueFileName's
// messages, "Unable to create directory for unzipped files."), the reader's
// open messages, the entry checks ("Unsafe file name in zip file:\n<name>",
// "Unable to unzip an encrypted file:\n<name>", "Invalid zip file
// (overlapping entries).", "Invalid zip file (an entry has two
// names):\n<central name>\n<local name>"), the messages of extractEntry ("Zip file changed
// while it was being read." in place of any of them when another program
// changed the archive meanwhile), then the backup ("Unable to create
// directory for backup.", uniqueFileName's message, "Unable to copy directory
// tree; <reason>."), the swap ("Unable to rename work copy of files
// directory.", after which the old folder is back in place) and the removal
// of the old folder ("Unable to delete old directory tree so it can be
// replaced by new one; <reason>." — the new folder is in place by then and
// its times are set; only the old one, renamed aside, is left behind). On
// success and on every failure after the checks, `statistics` receives the
// job's counts (and, on success, the entries that later ones replaced). What
// a failed job wrote stays (the work folder holds what could be read out of a
// damaged book), unless the job was told to stop (the program is quitting):
// then its work folder is removed; so is a work folder that holds no file
// (with the folders the job made above it).
bool unzipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics);
// The same, telling `progress` how far it has come.
bool unzipJob(const EpubWorkOrder& order, std::string* message, sStatistics& statistics, sJobProgress* progress);

// As unzipJob, for an archive held in memory, which is read in place of a
// file: order.ZipPath only names it (it must be absolute and lie outside the
// files folder; it need not exist), and the source checks that a file needs
// are not made.
bool unzipJobFromMemory(const EpubWorkOrder& order, std::span<const std::uint8_t> archive, std::string* message,
                        sStatistics& statistics);

// Checks, before anything is written, every entry that extractEntry would
// write: its local header's name must not be absolute, start with a drive
// letter, hold a ".." part (with "\\" taken as "/") or a NUL byte, nor, on
// Windows, a part that Windows cannot hold (isNameWindowsCannotHold) ("Unsafe
// file name in zip file:\n<name>", the name shown as UTF-8), it must not be
// encrypted ("Unable to unzip an encrypted file:\n<name>"; folders and
// entries without data hold nothing encrypted), and the entries' local
// headers and data must not overlap ("Invalid zip file (overlapping
// entries)."), and the local header must carry the central directory's
// name ("Invalid zip file (an entry has two names):\n<central name>\n<local
// name>", both shown as UTF-8; told after the others). Everything is taken
// from the reader's entry list.
//
// Names are compared by their parts ("/" and "\\" both separate; empty and
// "." parts do not count) as the file system compares them: exactly on
// POSIX, on Windows without regard to letter case as NTFS sees it
// (platform::fileNameKey: "É.xhtml" and "é.xhtml" are one file).
//
// When `clash` is given, it receives whether unpacking the entries on several
// threads could give another result than unpacking them one by one in order:
// two entries name the same file or folder, or one names a file where another
// needs a folder (here ASCII letter case never counts, as on a file system
// that ignores it).
//
// When `replaced` is given, every file entry that a later file entry of the
// same name replaces on disk is appended to it, in archive order, with the
// entry that replaces it (the later one wins, as unpacking in order gives).
bool checkEntries(std::string* message, const cZipReader& reader, bool* clash = nullptr,
                  std::vector<sReplacedEntry>* replaced = nullptr);

// Whether an entry is a folder: it holds no data, and its name ends in "/"
// or "\\", or its attributes say folder (some writers leave the separator
// off): the MS-DOS folder bit, or a Unix folder mode from an archive made on
// Unix.
bool isFolderEntry(const CdrEx& cdr);

// Unpacks the entry at `index` (below cdrCount()) of the reader's entry list into `workFolder`
// (ending with a separator) and counts it in the context's statistics. An
// entry whose compressed size is 0 becomes an empty file, or an empty folder
// when its name ends in "/" or "\\" (so does a folder entry whose
// uncompressed size is 0, whatever its compressed data); both count as
// zero-length. An entry with an empty name writes nothing.
// Failures: "Invalid file." (data past the end of
// the archive); "Unable to create directory for unzipped files.";
// "File compressed with method other than deflate."; "Unable to open output
// file."; "Unable to write uncompressed file."; "Unable to write compressed
// file." (also a corrupt deflate stream); "Invalid or corrupt file (length
// mismatch)." (tested before the CRC; stored entries whose two sizes differ
// too, and empty entries that announce data); "Invalid or corrupt file (crc
// mismatch).". A failed entry leaves what it wrote.
bool extractEntry(sUnzipContext& context, std::string* message, const std::string& workFolder, const cZipReader& reader,
                  std::uint64_t index);

// Checks the entry at `index` as extractEntry does, without writing
// anything: its name, and its data (in the archive, its method, its length
// and CRC-32, inflated as far as needed), with extractEntry's messages.
bool checkEntryData(sUnzipContext& context, std::string* message, const cZipReader& reader, std::uint64_t index);

// The folder (with a trailing separator) and every folder below it, depth
// first, each with a trailing separator. Symbolic links are not followed.
std::vector<std::string> listFolders(const std::string& folder);

}  // namespace plimsy
