#pragma once

// References inside a book (an href or src, a manifest item's href, a
// rootfile's full-path) resolved to the names of the archive's entries.

#include <cstdint>
#include <string>
#include <string_view>

namespace plimsy {

enum class eReferenceKind : std::uint8_t {
  InBook,   // a path inside the container (or only a fragment: the same document)
  Remote,   // it has a scheme: http:, https:, mailto:, data:, urn:, ...
  Outside,  // a path that climbs above the container's root, or an absolute one
  Invalid,  // a percent escape that is not one, or a decoded NUL
};

struct sResolvedReference {
  eReferenceKind kind = eReferenceKind::Invalid;
  std::string entry;     // InBook: the entry's name (percent-decoded, "." and ".." parts resolved)
  std::string fragment;  // after '#', percent-decoded; empty when none
  bool hasFragment = false;
};

// `reference` as written in the document that is the entry `base`
// ("OEBPS/text/ch1.xhtml"): a query is dropped, the fragment kept apart. An
// empty path (only "#id", or "") names `base` itself.
sResolvedReference resolveReference(std::string_view base, std::string_view reference);

// The folder part of an entry's name, with its final '/' ("OEBPS/" for
// "OEBPS/content.opf"; "" at the root).
std::string_view entryFolder(std::string_view entry);

// %XX escapes decoded. False when an escape is malformed.
bool percentDecode(std::string_view text, std::string& out);

}  // namespace plimsy
