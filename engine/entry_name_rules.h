#pragma once

// What OCF asks of an entry name, and the keys by which two names that a
// reading system may take for the same file are found.
//
// Case folding and normalization are deliberately small: the folding knows
// the letters of ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic and the
// full-width Latin letters; the decomposition knows the precomposed letters of
// Latin-1, Latin Extended-A and Greek (one base letter and one mark) and the
// Hangul syllables (into their jamo, by arithmetic), and orders the marks it
// knows. Names in other scripts are compared as they are.

#include <string>
#include <string_view>
#include <vector>

namespace plimsy {

// The code points of a (valid UTF-8) name that may not stand in an OCF file
// name: C0 and C1 controls, DEL, " * : < > ? \ | ^ ` { }, the private use
// areas, U+FDD0 to U+FDEF, U+FFF0 to U+FFFF, U+E0000 to U+E0FFF and the
// non-characters at the end of every plane; each once, in order of first
// appearance.
std::vector<char32_t> forbiddenNameCharacters(std::string_view name);

// The name with every letter the table knows in its lower-case form (simple
// case folding); other bytes stay.
std::string caseFoldedName(std::string_view name);

// The name with every precomposed letter the table knows split into its base
// letter and mark, every Hangul syllable into its jamo, and runs of known
// marks in canonical order: two names that are equal after NFC normalization
// are equal here (within the table).
std::string decomposedName(std::string_view name);

// Both "/" and "\\" separate the parts of an entry name.
inline bool isEntrySeparator(char c) { return c == '/' || c == '\\'; }

// Whether an entry name leads outside the folder it is unpacked into, on any
// system: absolute, with a drive letter, a ".." part ("/" and "\\" both
// separate its parts) or a NUL byte.
bool leadsOutsideFolder(std::string_view name);

// Whether an entry name would lead outside the folder it is unpacked into
// (leadsOutsideFolder), or, on Windows, holds a part that Windows cannot hold
// (isNameWindowsCannotHold): what unzipping refuses.
bool isUnsafeEntryName(std::string_view name);

// "U+0022" for '"'.
std::string codePointLabel(char32_t c);

}  // namespace plimsy
