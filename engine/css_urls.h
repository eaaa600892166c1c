#pragma once

// The references a stylesheet makes: url(...) values (quoted or not) and the
// string of an @import, found by a small scanner that reads the text piece
// by piece and skips comments and strings as CSS tokenizes them. Escapes
// (\41, \") are decoded. Nothing else of CSS is understood.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace plimsy {

class cCssUrlScanner {
 public:
  // Called with each reference as CSS reads it (escapes decoded, white space
  // around it dropped); empty references are not reported.
  using Found = std::function<void(std::string_view url)>;

  explicit cCssUrlScanner(Found found) : found_(std::move(found)) {}

  // Any number of pieces, split anywhere, then finish().
  void feed(std::string_view piece);
  // The end of the text: an unquoted url( left open at the end is reported,
  // as CSS closes it.
  void finish();

 private:
  enum class eState : std::uint8_t { Normal, Comment, String, Escape, UrlStart, UrlRaw, UrlRawEnd, AfterUrlString };

  void step(char c);
  void normal(char c);
  void escapeDone();
  void report();

  Found found_;
  eState state_ = eState::Normal;
  eState afterEscape_ = eState::Normal;  // the state an escape returns to
  eState afterString_ = eState::Normal;  // the state a string returns to
  char quote_ = 0;
  bool collecting_ = false;     // the current string or url is a reference
  bool importPending_ = false;  // after @import: its string is a reference
  bool slash_ = false;          // Normal: the last character was '/'
  bool star_ = false;           // Comment: the last character was '*'
  std::string word_;            // the identifier or at-keyword being read (lower case, cut short)
  std::string value_;           // the reference being read
  std::string hex_;             // the hex digits of an escape
};

}  // namespace plimsy
