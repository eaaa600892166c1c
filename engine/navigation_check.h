#pragma once

// The book's navigation as the plain book check reads it: the EPUB 3
// navigation document (an XHTML document) and the EPUB 2 NCX. Each is parsed
// once; what is kept is the references it makes (and, of the NCX, the book
// identifier it carries), never the document.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/xml_reader.h"

namespace plimsy {

inline constexpr std::string_view kXhtmlNamespace = "http://www.w3.org/1999/xhtml";
inline constexpr std::string_view kNcxNamespace = "http://www.daisy.org/z3986/2005/ncx/";

struct sNavigationLink {
  std::string written;  // the attribute's value
  std::size_t line = 0;
};

struct sNavigationDocument {
  bool wellFormed = false;
  sXmlError error;  // why not, when not
  sXmlFacts facts;
  // Navigation document: every href of an XHTML a or link element and every
  // src of an XHTML element. NCX: every content element's src.
  std::vector<sNavigationLink> links;
  // NCX: the content of the head's meta element named dtb:uid.
  bool hasUid = false;
  std::string uid;
};

sNavigationDocument readNavigationDocument(std::string_view document);
sNavigationDocument readNcx(std::string_view document);

}  // namespace plimsy
