#include "engine/package_document.h"

#include <cctype>

namespace plimsy {
namespace {

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class cPackageHandler : public cXmlHandler {
 public:
  explicit cPackageHandler(sPackageDocument& out) : out_(out) {}

  void startElement(const sXmlName& name, std::span<const sXmlAttribute> attributes) override {
    ++depth_;
    if (depth_ == 1) {
      out_.isPackage = name.is(kPackageNamespace, "package");
      if (!out_.isPackage) return;
      for (const sXmlAttribute& a : attributes) {
        if (!a.name.ns.empty()) continue;
        if (a.name.local == "version") {
          out_.hasVersion = true;
          out_.version = a.value;
        } else if (a.name.local == "unique-identifier") {
          out_.hasUniqueIdentifier = true;
          out_.uniqueIdentifier = a.value;
        }
      }
      return;
    }
    if (!out_.isPackage) return;
    if (depth_ == 2) {
      section_ = name.ns == kPackageNamespace ? name.local : std::string_view();
      if (section_ == "spine") {
        out_.hasSpine = true;
        if (const std::string_view* toc = plainAttribute(attributes, "toc")) {
          out_.hasSpineToc = true;
          out_.spineToc = *toc;
        }
      }
      return;
    }
    if (depth_ != 3) return;
    if (section_ == "metadata") {
      // EPUB 2's opf:metadata wraps dc-metadata; only direct children count here.
      if (name.ns != kDublinCoreNamespace) return;
      if (name.local == "identifier") {
        const std::string_view* id = plainAttribute(attributes, "id");
        out_.identifiers.push_back({id ? std::string(*id) : std::string(), std::string()});
        text_ = &out_.identifiers.back().value;
      } else if (name.local == "date") {
        out_.dates.emplace_back();
        text_ = &out_.dates.back();
      }
    } else if (section_ == "manifest" && name.is(kPackageNamespace, "item")) {
      sManifestItem item;
      for (const sXmlAttribute& a : attributes) {
        if (!a.name.ns.empty()) continue;
        if (a.name.local == "id")
          item.id = a.value;
        else if (a.name.local == "href")
          item.href = a.value;
        else if (a.name.local == "media-type")
          item.mediaType = a.value;
        else if (a.name.local == "properties")
          item.properties = a.value;
      }
      out_.items.push_back(std::move(item));
    } else if (section_ == "spine" && name.is(kPackageNamespace, "itemref")) {
      const std::string_view* idref = plainAttribute(attributes, "idref");
      const std::string_view* linear = plainAttribute(attributes, "linear");
      out_.spine.push_back({idref ? std::string(*idref) : std::string(), !linear || *linear != "no"});
    }
  }

  void endElement(const sXmlName& /*name*/) override {
    if (depth_ == 3) text_ = nullptr;
    --depth_;
  }

  void text(std::string_view piece) override {
    if (text_ && depth_ == 3) text_->append(piece);
  }

 private:
  static const std::string_view* plainAttribute(std::span<const sXmlAttribute> attributes, std::string_view local) {
    for (const sXmlAttribute& a : attributes)
      if (a.name.ns.empty() && a.name.local == local) return &a.value;
    return nullptr;
  }

  sPackageDocument& out_;
  int depth_ = 0;
  std::string section_;
  std::string* text_ = nullptr;  // the element whose text is being gathered
};

bool digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

sPackageDocument readPackageDocument(std::string_view document) {
  sPackageDocument out;
  cPackageHandler handler(out);
  cXmlParser parser(handler);
  out.wellFormed = parser.feed(document, true);
  if (!out.wellFormed) out.error = parser.error();
  out.facts = parser.facts();
  return out;
}

bool hasWord(std::string_view list, std::string_view word) {
  std::size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && isXmlSpace(list[at])) ++at;
    std::size_t end = at;
    while (end < list.size() && !isXmlSpace(list[end])) ++end;
    if (end > at && list.substr(at, end - at) == word) return true;
    at = end;
  }
  return false;
}

bool isValidPackageDate(std::string_view text) {
  while (!text.empty() && isXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isXmlSpace(text.back())) text.remove_suffix(1);
  int year = 0, month = 0, day = 0;
  if (!digits(text, 0, 4, year)) return false;
  if (text.size() == 4) return true;
  if (text[4] != '-' || !digits(text, 5, 2, month) || month < 1 || month > 12) return false;
  if (text.size() == 7) return true;
  if (text[7] != '-' || !digits(text, 8, 2, day) || day < 1 || day > daysInMonth(year, month)) return false;
  if (text.size() == 10) return true;
  // A time: Thh:mm[:ss[.s+]] and a zone.
  int hour = 0, minute = 0, second = 0;
  if (text[10] != 'T' || !digits(text, 11, 2, hour) || hour > 23 || text.size() < 16 || text[13] != ':' ||
      !digits(text, 14, 2, minute) || minute > 59)
    return false;
  std::size_t at = 16;
  if (at < text.size() && text[at] == ':') {
    if (!digits(text, at + 1, 2, second) || second > 59) return false;
    at += 3;
    if (at < text.size() && text[at] == '.') {
      const std::size_t start = ++at;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
      if (at == start) return false;
    }
  }
  if (at == text.size()) return true;  // epubcheck takes a time without a zone
  if (text[at] == 'Z') return at + 1 == text.size();
  int zoneHour = 0, zoneMinute = 0;
  return at + 6 == text.size() && (text[at] == '+' || text[at] == '-') && digits(text, at + 1, 2, zoneHour) &&
         zoneHour <= 23 && text[at + 3] == ':' && digits(text, at + 4, 2, zoneMinute) && zoneMinute <= 59;
}

}  // namespace plimsy
