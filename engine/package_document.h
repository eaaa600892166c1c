#pragma once

// The package document (the .opf file that container.xml names) as the book
// check reads it: the package element's attributes, the identifiers and
// dates of its metadata, the manifest's items and the spine's item
// references. Elements outside the package namespace (and Dublin Core's, for
// the metadata) are passed over; nothing is validated against a schema.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "engine/xml_reader.h"

namespace plimsy {

inline constexpr std::string_view kPackageNamespace = "http://www.idpf.org/2007/opf";
inline constexpr std::string_view kDublinCoreNamespace = "http://purl.org/dc/elements/1.1/";

struct sManifestItem {
  std::string id;
  std::string href;
  std::string mediaType;
  std::string properties;  // white-space separated, as written
};

struct sSpineItem {
  std::string idref;
  bool linear = true;  // false for linear="no"
};

struct sPackageDocument {
  bool wellFormed = false;
  sXmlError error;  // why not, when not
  sXmlFacts facts;
  bool isPackage = false;  // the root is the package element in the package namespace
  bool hasVersion = false;
  std::string version;  // as written
  bool hasUniqueIdentifier = false;
  std::string uniqueIdentifier;  // the id it names
  struct sIdentifier {
    std::string id;     // empty when the element has none
    std::string value;  // the text, as written
  };
  std::vector<sIdentifier> identifiers;  // every dc:identifier of the metadata
  std::vector<std::string> dates;        // every dc:date's text
  std::vector<sManifestItem> items;
  bool hasSpine = false;
  bool hasSpineToc = false;
  std::string spineToc;  // the spine's toc attribute
  std::vector<sSpineItem> spine;
};

// Reads the document (its bytes as stored; UTF-8 or UTF-16 with a byte-order
// mark, as XML allows). What was read before a well-formedness error stays.
sPackageDocument readPackageDocument(std::string_view document);

// Whether a white-space separated list (an item's properties) holds `word`.
bool hasWord(std::string_view list, std::string_view word);

// A date as the package's dc:date may hold it: YYYY, YYYY-MM, YYYY-MM-DD, or
// a full date with a time (hh:mm, hh:mm:ss or hh:mm:ss.s...) and perhaps a
// zone (Z or +hh:mm / -hh:mm); the month's day in range for that month and
// year. White space around it is allowed.
bool isValidPackageDate(std::string_view text);

}  // namespace plimsy
