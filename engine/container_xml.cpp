#include "engine/container_xml.h"

#include <utility>

#include <expat.h>

#include "engine/xml_reader.h"

namespace plimsy {
namespace {

// Encoding names compare without regard to case ("utf-8" is UTF-8).
bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool allowedEncoding(std::string_view name) {
  return name.empty() || sameName(name, "UTF-8") || sameName(name, "UTF-16") || sameName(name, "UTF-16LE") ||
         sameName(name, "UTF-16BE");
}

class cRootfiles : public cXmlHandler {
 public:
  explicit cRootfiles(std::vector<sRootfile>& rootfiles) : rootfiles_(rootfiles) {}

  void startElement(const sXmlName& name, std::span<const sXmlAttribute> attributes) override {
    if (!name.is(kContainerNamespace, "rootfile")) return;
    sRootfile rootfile;
    for (const sXmlAttribute& a : attributes) {
      if (!a.name.ns.empty()) continue;
      if (a.name.local == "full-path") {
        rootfile.hasFullPath = true;
        rootfile.fullPath = a.value;
      } else if (a.name.local == "media-type") {
        rootfile.mediaType = a.value;
      }
    }
    rootfiles_.push_back(std::move(rootfile));
  }

 private:
  std::vector<sRootfile>& rootfiles_;
};

}  // namespace

sContainerXml readContainerXml(std::string_view bytes) {
  sContainerXml result;
  cRootfiles handler(result.rootfiles);
  sXmlError error;
  sXmlFacts facts;
  result.wellFormed = parseXml(bytes, handler, &error, &facts);
  if (!allowedEncoding(facts.declaredEncoding)) {
    result.refusedEncoding = std::move(facts.declaredEncoding);
    // ISO-8859-1 and US-ASCII are read all the same; an encoding the parser
    // does not know leaves the document unread, not malformed.
    if (error.problem == XML_ErrorString(XML_ERROR_UNKNOWN_ENCODING)) {
      result.wellFormed = true;
      result.rootfilesUnread = true;
      result.rootfiles.clear();
      return result;
    }
  }
  if (!result.wellFormed) {
    result.problem = std::move(error.problem);
    result.line = error.line;
    result.column = error.column;
  }
  return result;
}

}  // namespace plimsy
