#pragma once

// META-INF/container.xml as the container check reads it, with the XML
// parser (engine/xml_reader.h): is it well-formed, in which encoding is it
// written, and what do its rootfile elements say. Only elements of the
// container namespace count; no DTD or schema is read and no entity from
// outside the document is expanded.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plimsy {

inline constexpr std::string_view kContainerNamespace = "urn:oasis:names:tc:opendocument:xmlns:container";

struct sRootfile {
  bool hasFullPath = false;
  std::string fullPath;  // entity and character references resolved
  std::string mediaType;
};

struct sContainerXml {
  // The encoding the XML declaration names when it is neither UTF-8 nor
  // UTF-16 ("ISO-8859-1"), as written. The document is still read when the
  // parser knows the encoding (ISO-8859-1, US-ASCII); otherwise it is left
  // unread (`rootfilesUnread`) and taken as well-formed.
  std::string refusedEncoding;
  bool rootfilesUnread = false;
  bool wellFormed = false;
  std::string problem;     // why not, when not (the parser's words)
  std::size_t line = 0;    // where (from 1)
  std::size_t column = 0;  // (from 1)
  // Every rootfile element of the container namespace, in document order
  // (also those before the point where a document that is not well-formed
  // fails).
  std::vector<sRootfile> rootfiles;
};

// Reads the document's bytes: UTF-8 or UTF-16 (either byte order, told by
// the byte-order mark or the first characters), as XML reads them.
sContainerXml readContainerXml(std::string_view bytes);

}  // namespace plimsy
