#include "core/text.h"

#include <array>
#include <cctype>
#include <cstring>
#include <exception>
#include <regex>

#include "core/platform.h"

namespace plimsy {
namespace {

// Turns the program's printf dialect into the one {fmt} reads: "%S" (a
// narrow string beside wide ones) is "%s" here, and "%I64d" is "%lld".
std::string translatePattern(std::string_view pattern) {
  std::string out;
  out.reserve(pattern.size());
  std::size_t i = 0;
  const std::size_t n = pattern.size();
  while (i < n) {
    const char c = pattern[i++];
    out += c;
    if (c != '%' || i >= n) continue;
    if (pattern[i] == '%') {
      out += pattern[i++];
      continue;
    }
    while (i < n && std::strchr("-+ #0", pattern[i]) != nullptr) out += pattern[i++];
    while (i < n && (std::isdigit(static_cast<unsigned char>(pattern[i])) || pattern[i] == '*' || pattern[i] == '.'))
      out += pattern[i++];
    if (pattern.substr(i, 3) == "I64") {
      out += "ll";
      i += 3;
    }
    while (i < n && std::strchr("hlLjzt", pattern[i]) != nullptr) out += pattern[i++];
    if (i < n) out += pattern[i] == 'S' ? 's' : pattern[i];
    ++i;
  }
  return out;
}

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at text[i], or 0 when it is invalid; on
// failure `consumed` holds the length of the maximal invalid subpart (at least
// 1), the unit that becomes one U+FFFD.
std::size_t validSequenceAt(std::string_view text, std::size_t i, std::size_t& consumed) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  consumed = 1;
  if (b0 < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    if (b0 == 0xE0) low = 0xA0;
    if (b0 == 0xED) high = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    if (b0 == 0xF0) low = 0x90;
    if (b0 == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= text.size()) return 0;
    const auto b = static_cast<unsigned char>(text[i + k]);
    const bool ok = k == 1 ? (b >= low && b <= high) : isContinuation(b);
    if (!ok) return 0;
    consumed = k + 1;
  }
  return length;
}

}  // namespace

std::string vformatText(std::string_view pattern, fmt::printf_args args, std::size_t limit) {
  if (pattern.empty()) return {};
  std::string result;
  try {
    const std::string translated = translatePattern(pattern);
    result = fmt::vsprintf(fmt::string_view(translated.data(), translated.size()), args);
  } catch (const std::exception&) {
    return "ERROR";
  }
  if (limit != kNoFormatLimit && utf8Length(result) >= limit) return "ERROR";
  return result;
}

std::string groupThousands(std::uint64_t n) {
  if (n < 1000) return formatText("%I64d", static_cast<std::int64_t>(n));
  return groupThousands(n / 1000) + formatText(",%03I64d", static_cast<std::int64_t>(n % 1000));
}

std::string_view monthAbbreviation(int month) {
  static constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (month < 1 || month > 12) return "Error";
  return kMonths[static_cast<std::size_t>(month - 1)];
}

std::string formatFileTime(FileTime time) {
  CalendarTime c;
  if (!fileTimeToCalendar(time, c)) return formatText("(invalid time 0x%llx)", time);
  return formatText("%4d-%s-%02d %02d:%02d:%02d", c.year, monthAbbreviation(c.month), c.day, c.hour, c.minute,
                    c.second);
}

bool regexCaptures(const std::string& text, const std::string& pattern, std::string& group1, std::string& group2,
                   std::string& group3, std::string& group4) {
  try {
    const std::regex re(pattern, std::regex::ECMAScript);
    std::smatch match;
    if (!std::regex_match(text, match, re)) return false;
    std::string* outputs[4] = {&group1, &group2, &group3, &group4};
    for (std::size_t g = 0; g < 4; ++g)
      *outputs[g] = g + 1 < match.size() && match[g + 1].matched ? match[g + 1].str() : std::string();
    return true;
  } catch (const std::regex_error&) {
    return false;
  }
}

bool parseDatetime(std::string_view text, FileTime& time) {
  std::string year, month, day, rest;
  if (!regexCaptures(std::string(text), R"((\d{4})-(\d{2})-(\d{2})(.*))", year, month, day, rest)) return false;
  CalendarTime c;
  c.year = std::stoi(year);
  c.month = std::stoi(month);
  c.day = std::stoi(day);
  bool utc = false;
  if (rest == "Z") {
    utc = true;
  } else if (!rest.empty()) {
    std::string hour, minute, second, zone;
    if (!regexCaptures(rest, R"(T(\d{2}):(\d{2}):(\d{2})(Z?))", hour, minute, second, zone)) return false;
    c.hour = std::stoi(hour);
    c.minute = std::stoi(minute);
    c.second = std::stoi(second);
    utc = zone == "Z";
  }
  FileTime parsed = 0;
  if (!calendarToFileTime(c, parsed)) return false;
  if (!utc && !platform::localFileTimeToUtc(parsed, parsed)) return false;
  time = parsed;
  return true;
}

std::string displayUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t consumed = 0;
    const std::size_t length = validSequenceAt(bytes, i, consumed);
    if (length != 0) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      i += consumed;
    }
  }
  return out;
}

std::size_t controlCharacterAt(std::string_view text, std::size_t i) {
  const auto byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x20 || byte == 0x7F) return 1;
  if (byte != 0xC2 || i + 1 >= text.size()) return 0;
  const auto next = static_cast<unsigned char>(text[i + 1]);
  return next >= 0x80 && next <= 0x9F ? 2 : 0;
}

bool isValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t consumed = 0;
    const std::size_t length = validSequenceAt(bytes, i, consumed);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::size_t utf8Length(std::string_view text) {
  std::size_t count = 0;
  for (const char c : text)
    if (!isContinuation(static_cast<unsigned char>(c))) ++count;
  return count;
}

std::string shellExecuteErrorText(std::intptr_t result) {
  if (result > 32) return {};
  switch (result) {
    case 0: return "System is out of memory or resources.";
    case 2: return "The specified file was not found.";
    case 3: return "The specified path was not found.";
    case 5: return "The operating system denied access to the specified file.";
    case 8: return "There was not enough memory to complete the operation.";
    case 11: return "The .exe file is invalid (non-Win32.exe or error in .exe image).";
    case 26: return "The file could not be opened because another program is using it.";
    case 27: return "File name association is incomplete or invalid.";
    case 28: return "The DDE transaction could not be completed because the request timed out.";
    case 29: return "The DDE transaction failed.";
    case 30: return "The DDE transaction could not be completed because other DDE transactions were being procesed.";
    case 31: return "There is no application associated with the given file name.";
    case 32: return "The specified DLL was not found.";
    default: return "An error occurred while calling operating system function ShellExecute.";
  }
}

bool isTrimmedWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string trimWhiteSpace(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isTrimmedWhiteSpace(text[begin])) ++begin;
  while (end > begin && isTrimmedWhiteSpace(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace plimsy
