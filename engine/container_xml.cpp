#include "engine/container_xml.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "core/text.h"

namespace plimsy {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isNameStart(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || b >= 0x80;
}
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

// A character XML allows in a document.
bool isXmlChar(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

class cScanner {
 public:
  explicit cScanner(std::string_view text) : text_(text) {}

  sContainerXml run() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    result_.wellFormed = isValidUtf8(text_) ? scanDocument() : fail("the text is not UTF-8");
    return std::move(result_);
  }

 private:
  // Notes the first problem and where it stands.
  bool fail(std::string problem) {
    if (result_.problem.empty()) {
      result_.problem = std::move(problem);
      const std::size_t end = std::min(at_, text_.size());
      result_.line = 1 + static_cast<std::size_t>(
                             std::count(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    }
    return false;
  }

  bool startsWith(std::string_view s) const { return text_.substr(at_, s.size()) == s; }
  bool atEnd() const { return at_ >= text_.size(); }
  void skipSpaces() {
    while (!atEnd() && isSpace(text_[at_])) ++at_;
  }
  // Moves past the next `end`; false when there is none.
  bool skipPast(std::string_view end) {
    const std::size_t found = text_.find(end, at_);
    if (found == std::string_view::npos) return false;
    at_ = found + end.size();
    return true;
  }

  bool readName(std::string_view& name) {
    if (atEnd() || !isNameStart(text_[at_])) return false;
    const std::size_t start = at_;
    while (!atEnd() && isNameChar(text_[at_])) ++at_;
    name = text_.substr(start, at_ - start);
    return true;
  }

  // At '&': a reference to one of the five predefined entities or a
  // character; its text is appended to `out`.
  bool readReference(std::string& out) {
    const std::size_t semicolon = text_.find(';', at_);
    if (semicolon == std::string_view::npos || semicolon - at_ > 12) return fail("an '&' that starts no reference");
    const std::string_view name = text_.substr(at_ + 1, semicolon - at_ - 1);
    at_ = semicolon + 1;
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, c] : kEntities)
      if (name == entity) {
        out += c;
        return true;
      }
    if (name.size() < 2 || name[0] != '#') return fail("a reference to an undeclared entity");
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return fail("an empty character reference");
    std::uint32_t value = 0;
    for (const char d : digits) {
      int v = -1;
      if (d >= '0' && d <= '9') v = d - '0';
      if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
      if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
      if (v < 0) return fail("a malformed character reference");
      value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
      if (value > 0x10FFFF) return fail("a character reference past U+10FFFF");
    }
    if (!isXmlChar(value)) return fail("a reference to a character XML does not allow");
    appendUtf8(out, value);
    return true;
  }

  // Character data up to the next '<' (or the end).
  bool readText(bool inRoot) {
    std::string ignored;
    while (!atEnd() && text_[at_] != '<') {
      const char c = text_[at_];
      if (!inRoot && !isSpace(c)) return fail("text outside the root element");
      if (c == '&') {
        if (!readReference(ignored)) return false;
        continue;
      }
      if (c == ']' && startsWith("]]>")) return fail("']]>' in text");
      if (static_cast<unsigned char>(c) < 0x20 && !isSpace(c)) return fail("a control character");
      ++at_;
    }
    return true;
  }

  bool readAttributes(std::string_view element, bool& empty) {
    sRootfile rootfile;
    std::vector<std::string_view> names;
    for (;;) {
      const bool spaced = !atEnd() && isSpace(text_[at_]);
      skipSpaces();
      if (atEnd()) return fail("the document ends inside a tag");
      if (startsWith("/>") || text_[at_] == '>') {
        empty = text_[at_] == '/';
        at_ += empty ? 2 : 1;
        break;
      }
      std::string_view name;
      if (!spaced || !readName(name)) return fail("a malformed attribute");
      if (std::find(names.begin(), names.end(), name) != names.end()) return fail("an attribute given twice");
      names.push_back(name);
      skipSpaces();
      if (atEnd() || text_[at_] != '=') return fail("an attribute without a value");
      ++at_;
      skipSpaces();
      if (atEnd() || (text_[at_] != '"' && text_[at_] != '\'')) return fail("an attribute value without quotes");
      const char quote = text_[at_++];
      std::string value;
      while (!atEnd() && text_[at_] != quote) {
        const char c = text_[at_];
        if (c == '<') return fail("'<' in an attribute value");
        if (c == '&') {
          if (!readReference(value)) return false;
          continue;
        }
        value += c;
        ++at_;
      }
      if (atEnd()) return fail("the document ends inside an attribute value");
      ++at_;
      if (name == "full-path") {
        rootfile.hasFullPath = true;
        rootfile.fullPath = std::move(value);
      } else if (name == "media-type") {
        rootfile.mediaType = std::move(value);
      }
    }
    const std::size_t colon = element.rfind(':');
    if ((colon == std::string_view::npos ? element : element.substr(colon + 1)) == "rootfile")
      result_.rootfiles.push_back(std::move(rootfile));
    return true;
  }

  bool readDoctype() {
    // A DOCTYPE with an internal subset ends at "]>"; entities it declares are not read.
    const std::size_t bracket = text_.find('[', at_);
    const std::size_t close = text_.find('>', at_);
    if (close == std::string_view::npos) return fail("an unterminated DOCTYPE");
    if (bracket != std::string_view::npos && bracket < close) {
      if (!skipPast("]")) return fail("an unterminated DOCTYPE");
      skipSpaces();
      if (atEnd() || text_[at_] != '>') return fail("an unterminated DOCTYPE");
      ++at_;
      return true;
    }
    at_ = close + 1;
    return true;
  }

  bool scanDocument() {
    std::vector<std::string_view> open;
    bool rootSeen = false;
    while (!atEnd()) {
      if (text_[at_] != '<') {
        if (!readText(!open.empty())) return false;
        continue;
      }
      if (startsWith("<?")) {
        if (!skipPast("?>")) return fail("an unterminated processing instruction");
      } else if (startsWith("<!--")) {
        at_ += 4;
        const std::size_t end = text_.find("--", at_);
        if (end == std::string_view::npos) return fail("an unterminated comment");
        at_ = end;
        if (!startsWith("-->")) return fail("'--' inside a comment");
        at_ += 3;
      } else if (startsWith("<![CDATA[")) {
        if (open.empty()) return fail("a CDATA section outside the root element");
        if (!skipPast("]]>")) return fail("an unterminated CDATA section");
      } else if (startsWith("<!DOCTYPE")) {
        if (rootSeen || !open.empty()) return fail("a DOCTYPE after the root element");
        if (!readDoctype()) return false;
      } else if (startsWith("</")) {
        at_ += 2;
        std::string_view name;
        if (!readName(name)) return fail("a malformed end tag");
        skipSpaces();
        if (atEnd() || text_[at_] != '>') return fail("a malformed end tag");
        ++at_;
        if (open.empty() || open.back() != name) return fail("an end tag that matches no start tag");
        open.pop_back();
      } else {
        ++at_;
        std::string_view name;
        if (!readName(name)) return fail("a '<' that starts no tag");
        if (open.empty() && rootSeen) return fail("a second root element");
        rootSeen = true;
        bool empty = false;
        if (!readAttributes(name, empty)) return false;
        if (!empty) open.push_back(name);
      }
    }
    if (!open.empty()) return fail("the document ends inside an element");
    if (!rootSeen) return fail("no root element");
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  sContainerXml result_;
};

}  // namespace

sContainerXml readContainerXml(std::string_view text) { return cScanner(text).run(); }

}  // namespace plimsy
