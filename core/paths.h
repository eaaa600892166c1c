#pragma once

// Path and file-system utilities shared by the jobs and the request checks.
// Paths are UTF-8 strings. Operations that can fail return bool and, when
// given a message string, put one sentence into it (see core/message.h).
//
// Separators: "/" everywhere; on Windows "\\" as well. On POSIX "\\" is an
// ordinary file-name character.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "core/filetime.h"
#include "core/platform.h"

namespace plimsy {

// Missing when the path's status cannot be read, folder for a directory, file
// for anything else; links are followed. Hidden (dot) files count like any
// other.
using platform::PathKind;
using platform::pathKind;

// ---- Separators and names ----------------------------------------------------

// "\\" on Windows, "/" elsewhere.
inline constexpr char kPreferredSeparator = std::filesystem::path::preferred_separator == '\\' ? '\\' : '/';
// Whether "\\" separates path components on this platform.
inline constexpr bool kBackslashIsSeparator = kPreferredSeparator == '\\';

// "/", and on Windows also "\\".
constexpr bool isSeparator(char c) { return c == '/' || (kBackslashIsSeparator && c == '\\'); }

bool endsWithSeparator(std::string_view path);

// The text with the preferred separator appended unless it already ends with a
// separator ("" gives the separator alone).
std::string withTrailingSeparator(std::string_view path);

// folder + separator (when folder is not empty and lacks one) + name. An empty
// folder gives the name alone.
std::string joinPath(std::string_view folder, std::string_view name);

// The last component of a path as the shell finds it: it starts after the last
// separator (on Windows also a drive colon) that is followed by something other
// than a separator. A trailing separator therefore belongs to the name:
// "/a/b/" gives "b/". A path with no such separator is all name.
std::string_view fileNamePart(std::string_view path);

// The extension of a path as the shell finds it: from the last "." that is
// followed by neither a separator nor a space, the dot included; empty when
// there is no such dot. "ch1.xhtml" gives ".xhtml", "a.b/c" gives "".
std::string_view extensionPart(std::string_view path);

// The folder an epub unpacks to when nothing else is named: beside it, named
// after it without its extension, as the desktop's "extract" proposes
// ("/books/Name.epub" -> "/books/Name"). Empty when that would name no folder
// of its own: no extension ("/books/Name"), or nothing but dots and spaces
// before it ("/books/.epub", "/books/..epub": the folder holding the epub).
std::string folderNamedAfterFile(std::string_view file);

// The epub a folder packs into when nothing else is named: beside it, named
// after it ("/books/Name" and "/books/Name/" -> "/books/Name.epub"). Empty when
// the path names no folder of its own: "", a root ("/", "C:\\", "C:"), or a
// name of nothing but dots and spaces ("/books/..").
std::string epubNamedAfterFolder(std::string_view folder);

// Conversions between UTF-8 text and std::filesystem::path. On POSIX the bytes
// are used unchanged, valid UTF-8 or not.
std::filesystem::path pathFromUtf8(std::string_view text);
std::string utf8FromPath(const std::filesystem::path& path);

// ---- Absolute paths ------------------------------------------------------------

// Whether a path is absolute by this platform's rule: on POSIX when it starts
// with "/", on Windows by isWindowsAbsolutePath. Fails with "Unable to determine whether path
// is absolute." when the path object cannot be built.
bool isAbsolutePath(std::string* message, const std::string& path, bool& absolute);

// The Windows rule, on every platform ("\\" and "/" both separators):
//   drive letter, ":", separator                 -> absolute ("C:\x", "c:/x")
//   drive letter, ":", anything else or nothing  -> not ("C:", "C:books")
//   "\\?\", "\??\", "\\.\" (any mix of slashes)  -> absolute
//   two separators and a server name             -> absolute ("\\server\share")
//   a single leading separator, anything else    -> not
bool isWindowsAbsolutePath(std::string_view path);

// Whether Windows cannot hold `part` as one file or folder name, whatever the
// folder: a device name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any
// case, alone or before an extension: "aux.xhtml"), a name ending in "." or
// " " (Windows drops them, so two names would meet), or one holding a control
// character or one of < > : " | ? * (":" would open a stream of another file),
// or bytes that are not UTF-8 (Windows names are Unicode).
// "." and ".." are left to the caller.
bool isNameWindowsCannotHold(std::string_view part);

// True on Windows: names that Windows cannot hold are refused there.
inline constexpr bool kWindowsNameRules = kBackslashIsSeparator;

// ---- Folders and names -----------------------------------------------------------

// The folder that holds `path`: trailing separators are dropped, then the
// parent by std::filesystem rules ("/books/mine/" -> "/books", "/books" -> "/",
// "/" -> "/"). Fails with "Path is not absolute.\n<path>" or "Unable to get
// parent path.".
bool parentFolder(std::string* message, const std::string& path, std::string& folder);

// The highest number uniqueFileName tries.
inline constexpr std::uint32_t kLastUniqueNumber = 65534;

// The first name folder[/]<base><N>[.<extension>], N = 1, 2, ... up to
// `lastNumber`, whose path kind is missing. An empty base or extension is
// absent (an empty extension gives no dot); an empty folder gives a name
// relative to the current folder. Fails with "Unable to generate unique
// filename." when every number is taken.
bool uniqueFileName(std::string* message, std::string_view folder, std::string_view base, std::string_view extension,
                    std::string& name, std::uint32_t lastNumber = kLastUniqueNumber);

enum class ClaimResult { Claimed, Taken, Failed };

// Claims the first free name folder[/]<base><N>[.<extension>] for the caller
// alone, as uniqueFileName numbers them: `claim` tries to take a candidate
// (create-new for a file, a failing mkdir for a folder) and says whether it
// did, found it taken meanwhile (another job in the same folder: the next
// number is tried), or failed otherwise. Claimed: `name` holds the claimed
// path. Taken: every number is taken ("Unable to generate unique filename.").
// Failed: `claim` failed; no message (the caller knows what it was doing).
ClaimResult claimUniqueName(std::string* message, std::string_view folder, std::string_view base,
                            std::string_view extension, const std::function<ClaimResult(const std::string&)>& claim,
                            std::string& name, std::uint32_t lastNumber = kLastUniqueNumber);

// Makes sure the folder part of a file path (everything before fileNamePart)
// exists as a folder, creating it with any missing parents. False when the
// folder part is empty, when it names something that is not a folder, or when
// it cannot be made.
bool ensureParentFolder(const std::string& path);

// Whether `path` is `directory` itself or lies anywhere below it. Both must be
// absolute ("Path is not absolute." / "Directory path is not absolute.").
// Existing objects are compared by identity (so links to the same folder
// match); otherwise both are made weakly canonical and compared by their
// components (on Windows without regard to the case of ASCII letters, as the
// file system compares names). A file-system error gives "Unable to determine if path is in
// directory tree. <explanation>".
bool isInDirectoryTree(std::string* message, const std::string& path, const std::string& directory, bool& inTree);

// ---- Times and places ----------------------------------------------------------------

// Sets the times of a file or folder (the creation time is ignored where the
// system cannot set it). False when the path is missing or the times cannot be
// set.
bool setTimes(FileTime creation, FileTime access, FileTime write, const std::string& path);

// This user's folder for temporary files (platform::userTemporaryFolder:
// never one that all users share), usually without a trailing separator.
// False when it cannot be determined.
bool temporaryFolder(std::string& folder);

}  // namespace plimsy
