#pragma once

// Text and time formatting: every message, log line and settings line of the
// program is built here. Text is UTF-8 std::string throughout.
//
// Templates keep the printf conventions the program was written with: "%s" and
// "%S" take a string, "%u" an unsigned 32-bit number, "%llu"/"%llx" unsigned
// 64-bit numbers, "%I64d" a signed 64-bit number, "%x" hexadecimal and "%4.2f"
// a double. They are formatted with {fmt}'s type-checked printf; an argument
// that does not fit its conversion is a formatting error, never undefined
// behaviour.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <fmt/printf.h>

#include "core/filetime.h"

namespace plimsy {

// ASCII letter case, for names compared the way file systems that ignore case
// compare them; every other byte stays.
inline char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Buffer of formatText, in characters with the terminator: results of 16,384
// characters or more are a formatting error.
inline constexpr std::size_t kFormatTextLimit = 16'384;
// Passed as the limit: no limit at all.
inline constexpr std::size_t kNoFormatLimit = 0;

// Formats `pattern` with `args`. An empty pattern gives the empty string; a
// formatting error (a conversion that does not match its argument, a missing
// argument, a result of `limit` characters or more) gives the text "ERROR".
std::string vformatText(std::string_view pattern, fmt::printf_args args, std::size_t limit = kFormatTextLimit);

template <typename... Args>
std::string formatText(std::string_view pattern, const Args&... args) {
  return vformatText(pattern, fmt::make_printf_args(args...));
}

// As formatText, without the 16,384-character limit (for the analysis log,
// whose names and comments may each hold 65,535 bytes).
template <typename... Args>
std::string formatTextUnlimited(std::string_view pattern, const Args&... args) {
  return vformatText(pattern, fmt::make_printf_args(args...), kNoFormatLimit);
}

// Appends formatText(pattern, args...) to target; an empty pattern appends
// nothing. Returns target.
template <typename... Args>
std::string& appendFormatted(std::string& target, std::string_view pattern, const Args&... args) {
  if (!pattern.empty()) target += formatText(pattern, args...);
  return target;
}

// The number in decimal with "," between groups of three digits, whatever the
// locale: 1234567 gives "1,234,567".
std::string groupThousands(std::uint64_t n);

// "%4d-%s-%02d %02d:%02d:%02d" of the file time read as UTC, for example
// "2022-Mar-04 10:20:30". A time the calendar cannot express (from
// 0x8000000000000000 up) gives "(invalid time 0x...)" with the raw value.
std::string formatFileTime(FileTime time);

// The month abbreviation "Jan".."Dec" for 1..12, "Error" otherwise.
std::string_view monthAbbreviation(int month);

// Parses YYYY-MM-DD, YYYY-MM-DDZ, YYYY-MM-DDThh:mm:ss or YYYY-MM-DDThh:mm:ssZ
// (exactly those digit counts). Without "Z" the time is local time, converted
// with the time-zone offset in force on that date. Fails, leaving `time`
// unchanged, when the text does not match or names no valid date and time.
bool parseDatetime(std::string_view text, FileTime& time);

// True when the whole text matches the ECMAScript pattern; the four outputs
// then receive capture groups 1 to 4 ("" for a group that took no part). An
// invalid pattern fails.
bool regexCaptures(const std::string& text, const std::string& pattern, std::string& group1, std::string& group2,
                   std::string& group3, std::string& group4);

// Text is already UTF-8 here: the identity.
inline const std::string& toUtf8(const std::string& text) { return text; }

// Bytes that are meant to be UTF-8, made valid for display: every maximal
// invalid subsequence becomes one U+FFFD REPLACEMENT CHARACTER.
std::string displayUtf8(std::string_view bytes);

// The length of the control character that starts at byte `i` of UTF-8 text:
// 1 for a C0 control or DEL, 2 for a C1 control (U+0080 to U+009F, the bytes
// C2 80 to C2 9F); 0 when none starts there.
std::size_t controlCharacterAt(std::string_view text, std::size_t i);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// The number of characters (code points) in UTF-8 text; each invalid byte
// counts as one character.
// Appends the UTF-8 bytes of a code point (below 0x110000).
void appendUtf8(std::string& out, char32_t codePoint);

std::size_t utf8Length(std::string_view text);

// The explanation of a failed shell open, by the classic result codes (a
// result above 32 is success and gives the empty string).
std::string shellExecuteErrorText(std::intptr_t result);

// White space as the program trims it: U+0020 and U+0009 to U+000D.
bool isTrimmedWhiteSpace(char c);
std::string trimWhiteSpace(std::string_view text);

}  // namespace plimsy
