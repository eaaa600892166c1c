#include "engine/css_urls.h"

#include "core/text.h"

namespace plimsy {
namespace {

// No sound reference comes near this; a longer one is read to its end and
// dropped.
constexpr std::size_t kMostReference = 64 * 1024;
// Longer than "@import": such a word matches nothing the scanner looks for.
constexpr std::size_t kMostWord = 8;
constexpr std::size_t kMostHexDigits = 6;

bool isWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isNewline(char c) { return c == '\n' || c == '\r' || c == '\f'; }
bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

void cCssUrlScanner::feed(std::string_view piece) {
  for (const char c : piece) step(c);
}

void cCssUrlScanner::finish() {
  if (state_ == eState::Escape) {
    if (!hex_.empty()) escapeDone();
    state_ = afterEscape_;
  }
  // Text that ends inside a url( or a string closes it.
  if (state_ == eState::UrlRaw || state_ == eState::UrlRawEnd || state_ == eState::AfterUrlString ||
      (state_ == eState::String && afterString_ == eState::AfterUrlString) || (state_ == eState::String && collecting_))
    report();
  state_ = eState::Normal;
  collecting_ = importPending_ = slash_ = star_ = false;
  word_.clear();
  value_.clear();
}

void cCssUrlScanner::report() {
  const std::string_view url = trimmed(value_);
  if (collecting_ && !url.empty()) found_(url);
  collecting_ = false;
  value_.clear();
}

void cCssUrlScanner::escapeDone() {
  char32_t c = 0;
  for (const char h : hex_) c = c * 16 + static_cast<char32_t>(h <= '9' ? h - '0' : asciiLower(h) - 'a' + 10);
  // CSS reads NUL, a surrogate and what lies past U+10FFFF as U+FFFD.
  if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (value_.size() < kMostReference) appendUtf8(value_, c);
  hex_.clear();
}

void cCssUrlScanner::normal(char c) {
  const auto endWord = [this] {
    if (word_ == "@import") importPending_ = true;
    word_.clear();
  };
  if (slash_) {
    slash_ = false;
    if (c == '*') {
      state_ = eState::Comment;
      star_ = false;
      return;
    }
  }
  if (isNameCharacter(c)) {
    if (word_.size() <= kMostWord) word_ += asciiLower(c);
    return;
  }
  if (c == '@') {
    word_.clear();
    word_ += '@';
    return;
  }
  if (c == '(' && word_ == "url") {
    word_.clear();
    importPending_ = false;
    collecting_ = true;
    value_.clear();
    state_ = eState::UrlStart;
    return;
  }
  endWord();
  switch (c) {
    case '/': slash_ = true; break;
    case '"':
    case '\'':
      quote_ = c;
      collecting_ = importPending_;
      importPending_ = false;
      value_.clear();
      afterString_ = eState::Normal;
      state_ = eState::String;
      break;
    case ';':
    case '{':
    case '}': importPending_ = false; break;
    case '\\':
      // An escape in a name: read past it so that an escaped quote opens no string.
      afterEscape_ = eState::Normal;
      state_ = eState::Escape;
      break;
    default: break;
  }
}

void cCssUrlScanner::step(char c) {
  switch (state_) {
    case eState::Normal: normal(c); return;
    case eState::Comment:
      if (star_ && c == '/') state_ = eState::Normal;
      star_ = c == '*';
      return;
    case eState::String:
      if (c == '\\') {
        afterEscape_ = eState::String;
        state_ = eState::Escape;
      } else if (c == quote_) {
        if (afterString_ == eState::Normal) {
          report();
          state_ = eState::Normal;
        } else {
          state_ = afterString_;
        }
      } else if (isNewline(c)) {
        // A string cut by a line end is a bad string: nothing is reported.
        collecting_ = false;
        value_.clear();
        state_ = afterString_;
      } else if (value_.size() < kMostReference) {
        value_ += c;
      } else {
        collecting_ = false;
      }
      return;
    case eState::Escape:
      if (isHexDigit(c) && hex_.size() < kMostHexDigits) {
        hex_ += c;
        return;
      }
      state_ = afterEscape_;
      if (!hex_.empty()) {
        escapeDone();
        // One white-space character after a hex escape belongs to it.
        if (!isWhiteSpace(c)) step(c);
        return;
      }
      // "\" and a line end inside a string continue the string; any other
      // character stands for itself.
      if (!(isNewline(c) && afterEscape_ == eState::String) && afterEscape_ != eState::Normal &&
          value_.size() < kMostReference)
        value_ += c;
      return;
    case eState::UrlStart:
      if (isWhiteSpace(c)) return;
      if (c == '"' || c == '\'') {
        quote_ = c;
        afterString_ = eState::AfterUrlString;
        state_ = eState::String;
        return;
      }
      state_ = eState::UrlRaw;
      step(c);
      return;
    case eState::UrlRaw:
      if (c == ')') {
        report();
        state_ = eState::Normal;
      } else if (isWhiteSpace(c)) {
        state_ = eState::UrlRawEnd;
      } else if (c == '\\') {
        afterEscape_ = eState::UrlRaw;
        state_ = eState::Escape;
      } else if (c == '"' || c == '\'' || c == '(') {
        collecting_ = false;  // a bad url: read to its ')'
        state_ = eState::AfterUrlString;
      } else if (value_.size() < kMostReference) {
        value_ += c;
      } else {
        collecting_ = false;
      }
      return;
    case eState::UrlRawEnd:
    case eState::AfterUrlString:
      if (c == ')') {
        report();
        state_ = eState::Normal;
      } else if (!isWhiteSpace(c)) {
        collecting_ = false;  // a bad url: read to its ')'
        state_ = eState::AfterUrlString;
      }
      return;
  }
}

}  // namespace plimsy
