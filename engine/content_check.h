#pragma once

// The deep pass over a book's content documents: every XHTML and SVG
// document the manifest lists is parsed (one at a time per thread, inflated
// piece by piece, never held whole), and every reference it makes into the
// book is checked: the entry it names exists (RSC-007) and the fragment it
// names is an id in that entry (RSC-012). Only the id sets of the documents
// are kept. Stylesheets' url() references are checked too.

#include <span>
#include <string>
#include <vector>

#include "engine/book_paths.h"
#include "engine/container_check.h"

namespace plimsy {

class cZipReader;

struct sBookDocument {
  std::string entry;      // the entry's name
  std::string mediaType;  // as the manifest declares it
};

// A reference made outside the content documents (the navigation document's
// and the NCX's links), whose fragment the deep pass checks against the ids
// of its target.
struct sBookReference {
  std::string source;   // the entry that makes it
  std::string written;  // as written there, for the message
  sResolvedReference target;
};

// Findings are appended to `findings` in the documents' order, whatever the
// threads' order. `threads` as sContainerCheckOptions::threads.
void checkContentDocuments(const cZipReader& reader, std::span<const sBookDocument> documents,
                           std::span<const sBookReference> otherReferences, unsigned threads,
                           std::vector<sFinding>& findings);

}  // namespace plimsy
