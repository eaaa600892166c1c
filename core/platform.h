#pragma once

// The platform layer: the only code that talks to the operating system, in
// platform_posix.cpp and platform_win32.cpp. What must be the same on every
// system (the listing order, fault injection) is in platform_common.cpp.
// Paths are UTF-8 strings; file times are FileTime values.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/filetime.h"

namespace plimsy::platform {

// A system handle kept by the objects below, opaque to everyone else: a file
// descriptor on POSIX, a HANDLE on Windows. kNoHandle is neither (-1 is also
// Windows' INVALID_HANDLE_VALUE).
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

// ---- Path kind -------------------------------------------------------------

enum class PathKind { Missing, Folder, File };

// Follows symbolic links: missing when the status cannot be read, folder for
// a directory, file for anything else.
PathKind pathKind(const std::string& path);

// True when something has this name, a dangling symbolic link included (links
// are not followed). Used where a name must be free before it is written.
bool entryExists(const std::string& path);

// True when the path names (links followed) something that is neither a
// folder nor a regular file: a pipe, a socket or a device. Such a thing is
// never read or written as a file: opening a pipe would wait for a writer.
bool isSpecialFile(const std::string& path);

// ---- File identity -----------------------------------------------------------

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the object a path names (links followed). False when it
// cannot be read.
bool fileIdentity(const std::string& path, FileIdentity& identity);

// ---- Folder listing ----------------------------------------------------------

struct FolderItem {
  std::string name;        // the item's own name, no folder part
  std::uint64_t size = 0;  // of the file (a link's target)
  FileTime lastWrite = 0;  // of the file (a link's target)
  bool isFolder = false;   // the item, or the target of a link, is a folder
  bool isSymlink = false;  // the item itself is a symbolic link
  bool isSpecial = false;  // the item, or the target of a link, is a pipe, socket or device
  FileIdentity identity;   // of the file (a link's target)
};

// Lists the items of a folder without "." and "..", sorted by name without
// regard to (ASCII) letter case, ties broken by the raw bytes, so that a
// folder gives the same order on every platform. A link whose target cannot
// be read is listed as a file of size 0. False when the folder cannot be read,
// or when an item in it cannot be examined (a partial listing is never
// given).
bool listFolder(const std::string& folder, std::vector<FolderItem>& items);

// The names of the folders in a folder (links to folders are not folders
// here), in listFolder's order. Cheaper than listFolder where the system
// tells an item's kind with its name. False when the folder cannot be read
// (no partial list is given).
bool listSubfolders(const std::string& folder, std::vector<std::string>& names);

// ---- File names ----------------------------------------------------------------

// The key under which the file system finds a file or folder name (one
// component, UTF-8): two names with the same key name the same file in one
// folder. The name itself on POSIX (names are bytes compared exactly); on
// Windows the name in upper case as NTFS compares names, each UTF-16 unit
// by the system's own upper-case mapping (so "É.xhtml" and "é.xhtml" meet),
// and invalid UTF-8 as the system converts it for a file name.
std::string fileNameKey(std::string_view name);

// ---- Files -------------------------------------------------------------------

// An open regular file; unbuffered. Closed by the destructor on every path.
// Pipes, sockets and devices are refused without waiting (openFailure() then
// says NotRegular).
class File {
 public:
  enum class Mode {
    Read,           // an existing file
    WriteTruncate,  // created or emptied
    CreateNew,      // created; fails (Exists) when the name is taken, even by a dangling link
    WriteFresh,     // created or emptied, for filling a new folder: a name not yet taken is
                    // created with one call; a link at the name is never followed (Other)
    WriteOver,      // created, or written over from its start without being emptied first (its
                    // space is reused, which costs less than freeing and taking it again):
                    // endHere() cuts off what is left of the old content
  };
  enum class OpenFailure {
    None,
    NotRegular,
    Exists,
    SharingViolation,  // another program holds the file open without sharing it (Windows only)
    Other,
  };

  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens for binary reading or writing as `mode` says. False when the file
  // cannot be opened; openFailure() tells why.
  bool open(const std::string& path, Mode mode);
  bool isOpen() const { return handle_ != kNoHandle; }
  OpenFailure openFailure() const { return openFailure_; }

  // Reads up to `count` bytes; returns the number read, 0 at the end of the
  // file. Sets failed() on an error and returns 0.
  std::size_t read(void* buffer, std::size_t count);
  // Writes all `count` bytes; false on any error or short write.
  bool write(const void* data, std::size_t count);
  // Moves to an absolute position.
  bool seek(std::uint64_t position);
  // Makes the current position the file's end (a file opened WriteOver
  // loses what is left of its old content). False when it cannot.
  bool endHere();
  // The current position, or nullopt when it cannot be read.
  std::optional<std::uint64_t> tell() const;
  // The file's length, or nullopt when it cannot be read.
  std::optional<std::uint64_t> size() const;
  // Sets the open file's times through its handle, with no second look-up of
  // its path (the creation time on Windows; Linux cannot set it and ignores
  // it). A later write changes the write time again: call it after the last
  // one. False when the file is not open for writing or the times cannot be
  // set.
  bool setTimes(FileTime creation, FileTime access, FileTime write);
  // Gives the file the permission bits of the file or folder at `path`
  // (links followed), so that a copy, or a new file that takes an old one's
  // place, is no more open to other users than the old one. POSIX only: on
  // Windows a new file takes its folder's access rules, and nothing is done
  // (true for an open file). False when the bits cannot be read or set (a file system without
  // them); nothing else changes.
  bool copyPermissionsFrom(const std::string& path);
  // True after a read error.
  bool failed() const { return failed_; }
  // Closes the file; false when closing reported an error (data may be lost).
  bool close();

 private:
  friend class MappedFile;

  NativeHandle handle_ = kNoHandle;
  bool failed_ = false;
  OpenFailure openFailure_ = OpenFailure::None;
  bool writable_ = false;
};

// ---- Read-only mapping ---------------------------------------------------------

// A whole regular file mapped read-only into memory for the life of the
// object. An empty file cannot be mapped, nor can a pipe, socket or device.
//
// Another program may shorten or rewrite the file while it is mapped. Reading
// a page that no longer exists in the file would kill the process (SIGBUS);
// here such a page reads as zeros instead and the mapping counts as damaged.
// (Windows refuses to write or shorten a file mapped this way: it is opened
// sharing reading only; but a page of a file on a USB stick pulled out, or on
// a network share that is lost, cannot be read either, and is handled the same
// way: the view then reads as zeros.) Whoever reads the mapping asks
// unchanged() before trusting what it found. Any number of mappings are
// guarded at once; a mapping that cannot be guarded (no memory for the
// guard) is not opened.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // False when the file cannot be mapped; lastSystemError() says why, with
  // no reason for an empty file.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return data_ != nullptr; }
  const std::uint8_t* data() const { return data_; }
  std::uint64_t size() const { return size_; }

  // False when the file has been shortened, lengthened or written since it
  // was opened, or a page of it could not be read: what was read from the
  // mapping may then be wrong.
  bool unchanged() const;

  // Tells the system that the whole file will be read soon, so that it reads
  // ahead in large pieces instead of page fault by page fault. A hint:
  // nothing fails.
  void adviseWholeRead() const;

  // The pages holding `length` bytes from `offset` will not be read again
  // soon: the memory they take is given back to the system. Their bytes stay
  // readable; read again, they come from the file anew (a page lost to a
  // shortened file reads as zeros again). A hint: nothing fails.
  void release(std::uint64_t offset, std::uint64_t length) const;

  // Writes `length` bytes of the file from `offset` to `out` at its current
  // position, copied inside the system where it can be (no trip through the
  // mapping). False when the range is not in the file or a write fails.
  bool copyTo(File& out, std::uint64_t offset, std::uint64_t length) const;

 private:
  NativeHandle handle_ = kNoHandle;   // the file, kept open for copyTo and unchanged
  NativeHandle mapping_ = kNoHandle;  // the mapping object, where the system has one
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  FileTime modified_ = 0;
  void* guard_ = nullptr;  // the mapping's place among those whose unreadable pages read as zeros
};

// ---- Times ---------------------------------------------------------------------

// The current time as a UTC file time.
FileTime currentFileTime();

// Sets the times of a file or folder (links followed). The creation time is
// set on Windows; Linux cannot set it and ignores it. False when the
// path is missing or the times cannot be set.
bool setFileTimes(const std::string& path, FileTime creation, FileTime access, FileTime write);

struct FileTimes {
  std::optional<FileTime> creation;  // absent where the file system keeps none
  FileTime access = 0;
  FileTime write = 0;
};
// Reads a file's or folder's times. False when they cannot be read.
bool readFileTimes(const std::string& path, FileTimes& times);

// Converts a local time (as a file time of the local wall clock) to UTC with
// the time-zone offset in force on that date. False when it cannot be done.
bool localFileTimeToUtc(FileTime local, FileTime& utc);

// ---- File-system changes ---------------------------------------------------------

// Copies a regular file with its permission bits (on Windows, what CopyFileW
// keeps); fails when the target exists (or the source is not a regular file).
// A copy that fails half way is removed again.
bool copyFileNoOverwrite(const std::string& from, const std::string& to);
// Copies everything in the folder `from` into the folder `to`, which must
// exist (and is meant to be empty: nothing in it is replaced). Files are
// copied as files, folders as folders, links as links (a link inside is never
// followed; `from` itself may be one); files and folders keep their
// permission bits on POSIX, and `to` is given those of `from`. False, with
// the system's explanation in `reason` when given, at the first failure; what
// was copied stays (the caller that made `to` removes it).
bool copyTree(const std::string& from, const std::string& to, std::string* reason = nullptr);
// Renames a file or folder; fails when the target exists.
bool renameNoReplace(const std::string& from, const std::string& to);
// Renames a file over an existing one in one step (nobody ever sees the path
// without a file). A read-only target is replaced too, as POSIX replaces one
// whatever its permissions.
bool renameReplacing(const std::string& from, const std::string& to);
// Removes a file, read-only or not.
bool removeFile(const std::string& path);

enum class MakeFolderResult { Made, Exists, Failed };
// Makes one folder whose parent exists. Exists when the name is already taken
// (by anything): the folder was not made by this call, which is how a job
// claims a work folder that no other job can be using.
MakeFolderResult makeFolder(const std::string& path);
// Makes a folder with any missing parents. True when the path is a folder
// afterwards (whoever made it).
bool makeFolders(const std::string& path);
// Removes a folder that holds nothing. False when it holds something or
// cannot be removed (then it stays as it was).
bool removeEmptyFolder(const std::string& path);
// Removes a folder with everything in it (links inside are removed, never
// followed). True when nothing is left at the path; otherwise false, with the
// system's explanation and the path it is about in `reason` when given.
bool removeTree(const std::string& path, std::string* reason = nullptr);

// ---- Why an operation failed ----------------------------------------------------------

// What the system said when an operation above last failed on this thread.
// Operations that open, copy, rename, make or remove something record it
// whenever they fail (File::open, MappedFile::open, copyFileNoOverwrite,
// renameNoReplace, renameReplacing, removeFile, makeFolder, makeFolders);
// queries (pathKind, entryExists, fileIdentity...) leave it alone, so that a
// look taken after a failure does not hide its reason.
struct sSystemError {
  std::string path;    // what the failing call was about: for a rename its target, for a copy the side that failed
  std::string reason;  // the system's own sentence for the error; empty when it gave none
};
sSystemError lastSystemError();

// The system's own sentence for an error code (errno on POSIX, a
// GetLastError value on Windows), as strerror or FormatMessageW give it.
std::string systemErrorText(std::uint32_t code);

// ---- Fault injection --------------------------------------------------------------

// A seam for tests that must show what a failing disk does to a job: every
// operation of these kinds is counted, and the nth one can be made to fail as
// the system would make it fail. Writes include copies inside the system;
// closes are those of files opened for writing; SetTimes is the setting of an
// open file's times.
enum class FaultOperation { Write, Close, Rename, MakeFolder, Copy, Remove, SetTimes };

// Makes the nth operation of `operation` (counted from 1 after this call)
// fail. With `sticky` every later one fails too: a full disk, for writes.
void armFault(FaultOperation operation, std::uint64_t nth, bool sticky = false);
// No more failures; the counts start again from 0.
void disarmFaults();
// Operations of this kind since the last armFault or disarmFaults.
std::uint64_t faultOperationCount(FaultOperation operation);
// Calls `observer` before every counted operation (on the thread doing it),
// until it is cleared with nullptr: a test can change the world at a chosen
// moment of a job (shorten the archive it reads, say).
void observeOperations(std::function<void(FaultOperation)> observer);

// Makes the guard of a mapping unable to put a page of zeros in place of a lost
// one, as a system with no room for one more mapping would (POSIX; nothing on
// Windows): the guard's second way, zeros over the whole mapping, is then
// taken. For tests.
void failGuardZeroPages(bool fail);

// ---- Requests to stop --------------------------------------------------------------

// Watches for the requests to stop that come from outside the program:
// SIGINT (Ctrl-C), SIGTERM and SIGHUP on POSIX; on Windows the console's
// Ctrl-C, Ctrl-Break, close, log-off and shut-down events. At the first one,
// `onStop` runs once, on a thread of its own (never inside a signal handler),
// and stopRequestSignal() tells which it was; the program is expected to stop
// its work and end with exitStatusForStop(). A second request ends the
// program at once, as it would have ended without this call. (Windows ends a
// program whose console is closed, or whose user logs off, as soon as the
// handler returns, or a few seconds later: the handler waits there for the
// program to end by itself.) Call it once; false when the handlers cannot be
// installed.
bool watchStopRequests(std::function<void()> onStop);

// The signal of the first request to stop, 0 while there was none. On
// Windows: 2 (SIGINT) for Ctrl-C and Ctrl-Break, 1 (SIGHUP) for the console's
// close, 15 (SIGTERM) for log-off and shut-down.
int stopRequestSignal();

// The exit status of a program ended by a request to stop: 128 + its signal
// (130 for Ctrl-C), as a shell reports a program that a signal ended.
inline int exitStatusForStop(int signal) { return 128 + signal; }

// ---- The command line -------------------------------------------------------------

// The program's arguments as UTF-8. On Windows they are read again from the
// wide command line: argv holds them in the ANSI code page, which loses
// characters.
std::vector<std::string> commandLineArguments(int argc, char** argv);
// Makes standard output and error carry UTF-8 text byte for byte, as on
// POSIX: on Windows the console shows UTF-8 and "\n" is not turned into
// "\r\n".
void useUtf8StandardStreams();

// Whether standard error is a terminal (a console window on Windows) rather
// than a file or a pipe: a line redrawn in place is for a person to watch.
bool standardErrorIsTerminal();
// How many columns the terminal (the console window) that standard error
// shows in has; 0 when that is not known.
std::size_t terminalColumns();

// ---- Places ------------------------------------------------------------------------

// The value of an environment variable, or nullopt when it is not set.
std::optional<std::string> environmentVariable(const char* name);
// Sets (or, with nullopt, removes) an environment variable of this process.
bool setEnvironmentVariable(const char* name, const std::optional<std::string>& value);

// The folder below which programs keep this user's settings: the local
// application data folder on Windows; $XDG_CONFIG_HOME, else ~/.config, on
// POSIX. Empty when there is none (never a relative path).
std::string userSettingsBaseFolder();

// The folder for this user's temporary files, where the analysis log goes
// unless told otherwise: %TEMP% on Windows (the system's temporary folder,
// which is the user's own); on POSIX $TMPDIR, else $XDG_RUNTIME_DIR, else
// the user's cache folder ($XDG_CACHE_HOME, else ~/.cache, made when
// missing), never a folder that every user of the machine shares. Variables
// that do not hold an absolute path are passed over. Empty when there is
// none.
std::string userTemporaryFolder();

// The full path of the running program's executable; empty when it cannot be
// learned.
std::string executablePath();

}  // namespace plimsy::platform
