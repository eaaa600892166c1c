#pragma once

// The settings file settings.xml: its place, its bytes on disk, the minimal
// tag scanner that reads it, and the save and load of the process-wide
// settings object.
//
// The file is UTF-8 with a byte-order mark and CR LF line ends, one element
// per line, no declaration, no attributes and no escaping: a value is written
// between its tags exactly as it is. The reader knows only elements and their
// text; it never fails, it just finds less.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plimsy {

class cSettings;

// The persistence interface of a settings object.
class cSettingsXmlBase {
 public:
  virtual ~cSettingsXmlBase() = default;
  // The full path of the settings file; empty when there is none.
  virtual std::string settingsFilePath() const = 0;
  virtual std::string applicationName() const = 0;
  // Appends the object's elements to `text`.
  virtual bool writeXml(std::string& text) const = 0;
  // Fills fields from the text of a settings file.
  virtual bool readXml(const std::string& text) = 0;

  // The base holds no data: derived objects compare by their own fields.
  bool operator==(const cSettingsXmlBase&) const = default;

 protected:
  cSettingsXmlBase() = default;
  cSettingsXmlBase(const cSettingsXmlBase&) = default;
  cSettingsXmlBase& operator=(const cSettingsXmlBase&) = default;
};

// ---- Location ------------------------------------------------------------------

// The folder below which the settings live: $XDG_CONFIG_HOME when it is set
// and absolute, else $HOME/.config when $HOME is absolute, else empty.
std::string settingsBaseFolder();

// <baseFolder>/Tarnwick/Plimsy/settings.xml, making the folders as needed
// (a failure to make them is not reported here; the save fails later).
// Empty when `baseFolder` is empty: a settings file is never put into the
// current directory.
std::string settingsFilePathBelow(const std::string& baseFolder);

// The settings file of this process: settingsFilePathBelow(settingsBaseFolder())
// determined once (thread-safe); every call makes the folders again, so a
// settings folder deleted while the program runs is back before the next save.
std::string settingsFilePath();

// ---- Encoding ------------------------------------------------------------------

// The bytes of a settings file holding `text`: the UTF-8 byte-order mark, then
// the text with every "\n" written as "\r\n".
std::string settingsFileBytes(std::string_view text);

// The text of a settings file as start-up reads it: the byte-order mark
// skipped, invalid UTF-8 replaced by U+FFFD, and every U+000A, U+000D, U+2028
// and U+2029 dropped. `characterCount` receives the number of characters read
// before dropping (the byte-order mark is not one).
std::string settingsFileText(std::string_view bytes, std::size_t& characterCount);

// ---- Numbers -------------------------------------------------------------------

// Unsigned numbers parsed like the C library's wcstoul/wcstoull with base 0,
// whatever the locale: leading white space (U+0020, U+0009..U+000D) skipped,
// an optional "+" or "-", "0x"/"0X" selects hexadecimal, a leading "0" octal,
// otherwise decimal; parsing stops at the first character that is not a digit
// of the base. No digits give 0; a value too large gives the maximum
// (0xFFFFFFFF, respectively 0xFFFFFFFFFFFFFFFF); a "-" negates in unsigned
// arithmetic ("-1" gives the maximum).
std::uint32_t parseUnsigned32(std::string_view text);
std::uint64_t parseUnsigned64(std::string_view text);

// ---- Reader --------------------------------------------------------------------

// Positions into one text: [start, end).
struct XmlRange {
  std::size_t start = 0;
  std::size_t end = 0;
};

// A tag, or an element when found by findElement or rootElement. All
// positions index the scanned text.
struct XmlElement {
  std::size_t tagStart = 0;  // the start tag's "<"
  std::size_t tagEnd = 0;    // after the start tag's ">"
  std::size_t nameStart = 0;
  std::size_t nameEnd = 0;
  std::size_t contentStart = 0;  // after the start tag
  std::size_t contentEnd = 0;    // the end tag's "<" (= contentStart when self-closing)
  std::size_t elementEnd = 0;    // after the end tag's ">" (= tagEnd when self-closing)

  std::string_view name(std::string_view text) const { return text.substr(nameStart, nameEnd - nameStart); }
  std::string_view content(std::string_view text) const { return text.substr(contentStart, contentEnd - contentStart); }
  // The whole element, from its "<" to after its end tag's ">".
  XmlRange range() const { return {tagStart, elementEnd}; }
};

// The next tag ("<" to ">") at or after `position` within `range`; a NUL
// character also ends the search for "<". On success `position` moves past
// the ">"; when there is no further tag it moves to the range end. A tag's
// name follows "<" (or "<!", "</", "<?") and ends at white space, "=", ">",
// or a "!", "/" or "?" directly before the ">". Only the tag positions and
// the name of `tag` are set (content and element end = the tag's end).
bool nextTag(std::string_view text, XmlRange range, std::size_t& position, XmlElement& tag);

// The first element of the text, passing over declarations and comments
// ("<?", "<!"). Its end is the first end tag of the same name (nesting not
// counted); a self-closing root is that one tag; an unclosed root runs to the
// end of the text. False when the text holds no such tag.
bool rootElement(std::string_view text, XmlElement& root);

// The first element named `name` (case-sensitive) anywhere inside `range`,
// nested elements of the same name counted. A self-closing element is found
// with no content. False when the range ends before the element does.
bool findElement(std::string_view text, XmlRange range, std::string_view name, XmlElement& element);

// ---- The process-wide settings object and its file ---------------------------------

// Writes `settings` to the file at `path`: the whole file goes to a temporary
// file in the same folder (made as needed), which then replaces `path` in one
// step; nothing is left behind on failure.
bool writeSettingsFile(const cSettings& settings, const std::string& path, std::string* message = nullptr);

// Writes the process-wide settings object (a snapshot) to settingsFilePath().
// False when there is no settings path or the file cannot be written.
bool saveSettings();

// Applies readXml to the process-wide settings object. Always true.
bool loadSettings(const std::string& text);

// Reads the settings file at `path` (or at settingsFilePath()) into the
// process-wide settings object with loadSettings, when the file holds at
// least one character. A missing, unreadable or empty file leaves the object
// as it is. True when loadSettings was called.
bool loadSettingsFile(const std::string& path);
bool loadSettingsFile();

}  // namespace plimsy
