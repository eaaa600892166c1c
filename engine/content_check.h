#pragma once

// The deep pass over a book's content documents: every XHTML and SVG
// document the manifest lists is parsed (one at a time per thread, inflated
// piece by piece, never held whole), and every reference it makes into the
// book is checked: the entry it names exists (RSC-007) and the fragment it
// names is an id in that entry (RSC-012). Only the id sets of the documents
// are kept. Stylesheets' url() references (and those of style elements and
// attributes) are checked too.
//
// The references checked are those a reading system follows: XHTML a@href,
// link@href, img@src and @srcset, input@src, iframe, embed, script, source,
// track, audio and video @src, video@poster, object@data; SVG (inline too)
// a, image and use @xlink:href. Remote references (data: URLs and //host
// paths too) are left alone; a path that climbs above the container, or an
// absolute one, names nothing in the book (RSC-007). Fragments are checked
// in links (a, iframe, img, object; SVG a and use) to XHTML and SVG
// documents, "epubcfi(" fragments aside; ids are `id` attributes.
//
// What else is found: a document that is not well-formed XML (RSC-016); a
// document holding one piece of markup so large that reading it would take
// more memory than the check allows (a warning, kCodeNotChecked: the rest of
// the document is not read).

#include <span>
#include <string>
#include <vector>

#include "engine/book_paths.h"
#include "engine/container_check.h"

namespace plimsy {

class cZipReader;

// A manifest item. Items of other media types than XHTML, SVG and CSS are not
// read, but may be listed too: a reference to a listed item whose entry is
// missing is not reported (the missing item is the package check's RSC-001).
struct sBookDocument {
  std::string entry;      // the entry's name
  std::string mediaType;  // as the manifest declares it
};

inline constexpr const char* kCodeNotChecked = "PLM-008";

// A reference made outside the content documents (the navigation document's
// and the NCX's links), whose fragment the deep pass checks against the ids
// of its target.
struct sBookReference {
  std::string source;   // the entry that makes it
  std::string written;  // as written there, for the message
  sResolvedReference target;
};

// Findings are appended to `findings` in the documents' order (within a
// document, in the order of its references), whatever the threads' order;
// those of `otherReferences` follow their source document's (or, when their
// source is no document, the documents'). A reference made in a document that
// `otherReferences` also lists (same source, same text) is checked there
// only. `threads` as sContainerCheckOptions::threads.
void checkContentDocuments(const cZipReader& reader, std::span<const sBookDocument> documents,
                           std::span<const sBookReference> otherReferences, unsigned threads,
                           std::vector<sFinding>& findings);

}  // namespace plimsy
