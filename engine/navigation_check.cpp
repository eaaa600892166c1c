#include "engine/navigation_check.h"

namespace plimsy {
namespace {

const std::string_view* plainAttribute(std::span<const sXmlAttribute> attributes, std::string_view local) {
  for (const sXmlAttribute& a : attributes)
    if (a.name.ns.empty() && a.name.local == local) return &a.value;
  return nullptr;
}

class cNavigationHandler : public cXmlHandler {
 public:
  cNavigationHandler(sNavigationDocument& out, bool ncx) : out_(out), ncx_(ncx) {}
  void setParser(const cXmlParser* parser) { parser_ = parser; }

  void startElement(const sXmlName& name, std::span<const sXmlAttribute> attributes) override {
    if (ncx_) {
      if (name.is(kNcxNamespace, "content")) {
        add(plainAttribute(attributes, "src"));
      } else if (name.is(kNcxNamespace, "meta")) {
        const std::string_view* metaName = plainAttribute(attributes, "name");
        const std::string_view* content = plainAttribute(attributes, "content");
        if (metaName && *metaName == "dtb:uid" && content && !out_.hasUid) {
          out_.hasUid = true;
          out_.uid = *content;
        }
      }
      return;
    }
    if (name.ns != kXhtmlNamespace) return;
    if (name.local == "a" || name.local == "link") add(plainAttribute(attributes, "href"));
    add(plainAttribute(attributes, "src"));
  }

 private:
  void add(const std::string_view* value) {
    if (value) out_.links.push_back({std::string(*value), parser_ ? parser_->line() : 0});
  }

  sNavigationDocument& out_;
  const bool ncx_;
  const cXmlParser* parser_ = nullptr;
};

sNavigationDocument read(std::string_view document, bool ncx) {
  sNavigationDocument out;
  cNavigationHandler handler(out, ncx);
  cXmlParser parser(handler);
  handler.setParser(&parser);
  out.wellFormed = parser.feed(document, true);
  if (!out.wellFormed) out.error = parser.error();
  out.facts = parser.facts();
  return out;
}

}  // namespace

sNavigationDocument readNavigationDocument(std::string_view document) { return read(document, false); }

sNavigationDocument readNcx(std::string_view document) { return read(document, true); }

}  // namespace plimsy
