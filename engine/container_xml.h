#pragma once

// META-INF/container.xml as the container check reads it: a well-formedness
// scan of the whole document (elements nested and closed, one root, quoted
// attributes, known entity and character references, comments, processing
// instructions, CDATA sections and a DOCTYPE without entities of its own) and
// the attributes of its rootfile elements. No DTD or schema is read.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plimsy {

struct sRootfile {
  bool hasFullPath = false;
  std::string fullPath;  // entity and character references resolved
  std::string mediaType;
};

struct sContainerXml {
  bool wellFormed = false;
  std::string problem;   // why not, when not
  std::size_t line = 0;  // where (from 1)
  // Every element whose local name is "rootfile", in document order (also
  // those before the point where a document that is not well-formed fails).
  std::vector<sRootfile> rootfiles;
};

// Scans UTF-8 text (a byte-order mark is skipped).
sContainerXml readContainerXml(std::string_view text);

}  // namespace plimsy
