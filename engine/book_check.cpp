#include "engine/book_check.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "engine/book_paths.h"
#include "engine/content_check.h"
#include "engine/navigation_check.h"
#include "engine/package_document.h"
#include "engine/zip_reader.h"
#include "engine/zip_writer.h"

namespace plimsy {
namespace {

// Package documents, navigation documents and NCX files are read whole; no
// sound one comes near this.
constexpr std::uint64_t kMostDocument = std::uint64_t{16} << 20;

constexpr std::string_view kXhtmlType = "application/xhtml+xml";
constexpr std::string_view kNcxType = "application/x-dtbncx+xml";
// expat's word for an encoding it cannot read.
constexpr std::string_view kUnknownEncoding = "unknown encoding";

std::string visible(std::string_view bytes) { return visibleName(bytes); }

std::string_view extensionOf(std::string_view entry) {
  const std::size_t slash = entry.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? entry : entry.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : file.substr(dot);
}

std::string_view trimmed(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

class cBookCheck {
 public:
  cBookCheck(const cZipReader& reader, const sContainerCheckOptions& options, std::vector<sFinding>& out)
      : reader_(reader), options_(options), out_(out) {
    for (const sZipEntry& e : reader.entries()) entries_.emplace(e.cdr.name, &e);
  }

  void run(const std::vector<std::string>& packages) {
    for (const std::string& package : packages) checkPackage(package);
    if (!packages.empty() && anyPackageRead_) checkUnlisted(packages);
    if (options_.deep) checkContentDocuments(reader_, documents_, references_, options_.threads, out_);
  }

 private:
  void error(const char* code, std::string_view entry, std::string message) {
    out_.push_back({code, eSeverity::Error, std::string(entry), std::move(message)});
  }
  void warning(const char* code, std::string_view entry, std::string message) {
    out_.push_back({code, eSeverity::Warning, std::string(entry), std::move(message)});
  }

  const sZipEntry* find(std::string_view name) const {
    const auto found = entries_.find(name);
    return found == entries_.end() ? nullptr : found->second;
  }

  // The entry's text, or false (with a finding when the container check
  // gives none).
  bool read(const std::string& name, std::string_view what, std::string& text) {
    const sZipEntry* entry = find(name);
    if (!entry) return false;
    switch (readWholeEntry(reader_, *entry, kMostDocument, text)) {
      case eEntryRead::Ok: return true;
      case eEntryRead::Unreadable: return false;  // the container check said why
      case eEntryRead::Damaged:
        // The deep check reports the damaged data itself.
        if (!options_.deep)
          error("PKG-008", name, fmt::format("The {} cannot be read: its deflated data is damaged.", what));
        return false;
      case eEntryRead::TooLong:
        error("PKG-008", name, fmt::format("The {} is too large to be read (16 MiB or more).", what));
        return false;
    }
    return false;
  }

  void checkPackage(const std::string& name) {
    hasIdentifier_ = false;
    identifier_.clear();
    std::string text;
    if (!read(name, "package document", text)) return;
    const sPackageDocument package = readPackageDocument(text);
    text.clear();
    text.shrink_to_fit();
    if (!checkEncoding(name, "package document", package.facts, package.wellFormed, package.error)) return;
    if (!package.wellFormed) {
      error("RSC-016", name,
            fmt::format("The package document is not well-formed XML: {}.", describeXmlError(package.error)));
      return;
    }
    if (!package.isPackage || !package.hasSpine) {
      error("OPF-019", name,
            package.isPackage ? std::string("The package document has no spine.")
                              : fmt::format("The package document's root is not the package element of {}, so it has "
                                            "no spine.",
                                            kPackageNamespace));
      return;
    }
    if (!package.hasVersion) {
      error("OPF-001", name, "The package element has no version attribute.");
      return;
    }
    // 3.0.1 is a revision of 3.0; 3.1 and later are not read by epubcheck 4.
    if (package.version != "2.0" && package.version != "3.0" && !package.version.starts_with("3.0.")) {
      error("OPF-001", name,
            fmt::format("The package's version \"{}\" is neither 2.0 nor 3.0.", visible(package.version)));
      return;
    }
    const bool epub2 = package.version == "2.0";
    // Files the manifest does not list are told only once a manifest was read.
    anyPackageRead_ = true;
    checkIdentifier(name, package);
    for (const std::string& date : package.dates)
      if (!isValidPackageDate(date)) {
        if (epub2)
          error("OPF-054", name, fmt::format("The date \"{}\" is not a valid date.", visible(date)));
        else
          warning("OPF-053", name, fmt::format("The date \"{}\" does not follow the W3C date format.", visible(date)));
      }
    std::unordered_map<std::string_view, const sManifestItem*> byId;
    std::unordered_map<std::string, const sManifestItem*> byEntry;
    std::vector<sResolvedReference> targets(package.items.size());
    for (std::size_t i = 0; i < package.items.size(); ++i) {
      const sManifestItem& item = package.items[i];
      if (!item.id.empty() && !byId.emplace(item.id, &item).second)
        error(kCodeDuplicateItemId, name, fmt::format("Two manifest items have the id \"{}\".", visible(item.id)));
      if (item.href.empty()) {
        error(kCodeItemWithoutHref, name, fmt::format("The manifest item \"{}\" has no href.", visible(item.id)));
        continue;
      }
      sResolvedReference& target = targets[i] = resolveReference(name, item.href);
      if (target.kind == eReferenceKind::Remote) continue;
      if (target.kind != eReferenceKind::InBook) {
        error("RSC-001", name,
              fmt::format("The manifest item \"{}\" names no file of the book: \"{}\".", visible(item.id),
                          visible(item.href)));
        continue;
      }
      const auto [first, fresh] = byEntry.emplace(target.entry, &item);
      if (!fresh)
        error("OPF-074", name,
              fmt::format("The manifest items \"{}\" and \"{}\" both name \"{}\".", visible(first->second->id),
                          visible(item.id), visible(target.entry)));
      listed_.insert(target.entry);
      // Every item goes to the content pass, which reads the XHTML, SVG and
      // CSS ones and takes the others, present or not, as known targets (a
      // reference to a missing item is the RSC-001 below, not an RSC-007).
      if (fresh) documents_.push_back({target.entry, item.mediaType});
      if (!find(target.entry)) {
        error("RSC-001", name,
              fmt::format("The file \"{}\" of the manifest item \"{}\" is not in the book.", visible(target.entry),
                          visible(item.id)));
        continue;
      }
      if (item.mediaType == kXhtmlType) checkExtension(name, target.entry, epub2);
    }
    checkSpine(name, package, byId, epub2);
    checkNavigation(package, targets, byId, epub2);
  }

  // An XHTML document's file name: EPUB 3 wants .xhtml, EPUB 2 any of the
  // HTML extensions.
  void checkExtension(const std::string& name, const std::string& entry, bool epub2) {
    const std::string_view extension = extensionOf(entry);
    if (!epub2 && extension != ".xhtml")
      warning("HTM-014a", name,
              fmt::format("The XHTML content document \"{}\" should have the extension \".xhtml\".", visible(entry)));
    if (epub2 && extension != ".xhtml" && extension != ".html" && extension != ".htm")
      warning("HTM-014", entry, "The XHTML content document's extension is none of .xhtml, .html and .htm.");
  }

  // XML documents of a book are in UTF-8 or UTF-16. False when the document
  // could not be read for its encoding (which the finding says).
  bool checkEncoding(const std::string& name, std::string_view what, const sXmlFacts& facts, bool wellFormed,
                     const sXmlError& why) {
    const std::string& declared = facts.declaredEncoding;
    if (declared.empty() || equalsIgnoringAsciiCase(declared, "UTF-8") || equalsIgnoringAsciiCase(declared, "UTF-16"))
      return true;
    error("CSS-003", name,
          fmt::format("The {} declares the encoding \"{}\"; only UTF-8 and UTF-16 are allowed.", what,
                      visible(declared)));
    return wellFormed || why.problem != kUnknownEncoding;
  }

  void checkIdentifier(const std::string& name, const sPackageDocument& package) {
    if (!package.hasUniqueIdentifier) {
      error("OPF-048", name, "The package element has no unique-identifier attribute.");
      return;
    }
    for (const sPackageDocument::sIdentifier& identifier : package.identifiers)
      if (identifier.id == package.uniqueIdentifier) {
        identifier_ = identifier.value;
        hasIdentifier_ = true;
        return;
      }
    error("OPF-030", name,
          fmt::format("The unique-identifier \"{}\" names no dc:identifier of the package.",
                      visible(package.uniqueIdentifier)));
  }

  void checkSpine(const std::string& name, const sPackageDocument& package,
                  const std::unordered_map<std::string_view, const sManifestItem*>& byId, bool epub2) {
    if (package.spine.empty()) error(kCodeEmptySpine, name, "The spine lists no item.");
    for (const sSpineItem& itemref : package.spine)
      if (!byId.contains(itemref.idref))
        error("OPF-049", name,
              fmt::format("The spine's itemref \"{}\" names no manifest item.", visible(itemref.idref)));
    if (!package.spine.empty() && std::none_of(package.spine.begin(), package.spine.end(),
                                               [](const sSpineItem& itemref) { return itemref.linear; }))
      error("OPF-033", name, "Every item of the spine is linear=\"no\": the spine has nothing to read in order.");
    if (package.hasSpineToc) {
      const auto toc = byId.find(package.spineToc);
      if (toc == byId.end())
        error("OPF-049", name,
              fmt::format("The spine's toc \"{}\" names no manifest item.", visible(package.spineToc)));
      else if (toc->second->mediaType != kNcxType)
        error("OPF-050", name,
              fmt::format("The spine's toc \"{}\" names an item of type \"{}\", not {}.", visible(package.spineToc),
                          visible(toc->second->mediaType), kNcxType));
    }
    if (epub2) {
      if (!package.hasSpineToc) error("NCX-002", name, "The spine has no toc attribute naming the NCX.");
    } else {
      const auto navItems = std::count_if(package.items.begin(), package.items.end(),
                                          [](const sManifestItem& item) { return hasWord(item.properties, "nav"); });
      if (navItems != 1)
        error(kCodeNavItemCount, name,
              fmt::format("{} manifest items have the nav property; exactly one must.", navItems));
    }
  }

  void checkNavigation(const sPackageDocument& package, const std::vector<sResolvedReference>& targets,
                       const std::unordered_map<std::string_view, const sManifestItem*>& byId, bool epub2) {
    // The NCX the spine names.
    if (package.hasSpineToc) {
      const auto found = byId.find(package.spineToc);
      if (found != byId.end() && found->second->mediaType == kNcxType) {
        const std::size_t index = static_cast<std::size_t>(found->second - package.items.data());
        if (targets[index].kind == eReferenceKind::InBook && find(targets[index].entry)) checkNcx(targets[index].entry);
      }
    }
    if (epub2) return;
    for (std::size_t i = 0; i < package.items.size(); ++i) {
      if (!hasWord(package.items[i].properties, "nav")) continue;
      // The deep pass reads the navigation document with the other XHTML documents.
      const bool readDeep = options_.deep && package.items[i].mediaType == kXhtmlType;
      if (targets[i].kind == eReferenceKind::InBook && find(targets[i].entry) && !readDeep)
        checkNavigationDocument(targets[i].entry);
      break;
    }
  }

  // A link of the navigation: its file must be in the book; its fragment is
  // the deep pass's to check.
  void checkLink(const std::string& source, const sNavigationLink& link, bool handFragment) {
    sResolvedReference target = resolveReference(source, link.written);
    if (target.kind == eReferenceKind::Remote) return;
    if (target.kind != eReferenceKind::InBook) {
      error("RSC-007", source,
            fmt::format("The link \"{}\" (line {}) leads to no file of the book.", visible(link.written), link.line));
      return;
    }
    if (!find(target.entry)) {
      // A missing file that the manifest lists is the manifest's RSC-001.
      if (listed_.contains(target.entry)) return;
      error("RSC-007", source,
            fmt::format("The link \"{}\" (line {}) leads to \"{}\", which is not in the book.", visible(link.written),
                        link.line, visible(target.entry)));
      return;
    }
    if (handFragment && target.hasFragment && !target.fragment.empty())
      references_.push_back({source, link.written, std::move(target)});
  }

  void checkNcx(const std::string& entry) {
    std::string text;
    if (!read(entry, "NCX", text)) return;
    const sNavigationDocument ncx = readNcx(text);
    if (!checkEncoding(entry, "NCX", ncx.facts, ncx.wellFormed, ncx.error)) return;
    if (!ncx.wellFormed) {
      error("RSC-016", entry, fmt::format("The NCX is not well-formed XML: {}.", describeXmlError(ncx.error)));
      return;
    }
    if (ncx.hasUid && hasIdentifier_ && trimmed(ncx.uid) != trimmed(identifier_))
      error("NCX-001", entry,
            fmt::format("The NCX's dtb:uid \"{}\" differs from the package's identifier \"{}\".", visible(ncx.uid),
                        visible(identifier_)));
    for (const sNavigationLink& link : ncx.links) checkLink(entry, link, true);
  }

  void checkNavigationDocument(const std::string& entry) {
    std::string text;
    if (!read(entry, "navigation document", text)) return;
    const sNavigationDocument nav = readNavigationDocument(text);
    if (!checkEncoding(entry, "navigation document", nav.facts, nav.wellFormed, nav.error)) return;
    if (!nav.wellFormed) {
      error("RSC-016", entry,
            fmt::format("The navigation document is not well-formed XML: {}.", describeXmlError(nav.error)));
      return;
    }
    for (const sNavigationLink& link : nav.links) checkLink(entry, link, false);
  }

  // Files of the container that no manifest lists.
  void checkUnlisted(const std::vector<std::string>& packages) {
    for (const sZipEntry& e : reader_.entries()) {
      const std::string& entry = e.cdr.name;
      if (entry == "mimetype" || entry.starts_with("META-INF/") || entry.empty() || entry.back() == '/') continue;
      if (listed_.contains(entry) || std::find(packages.begin(), packages.end(), entry) != packages.end()) continue;
      warning("OPF-003", entry, "The file is in the book but not in the manifest.");
    }
  }

  const cZipReader& reader_;
  const sContainerCheckOptions& options_;
  std::vector<sFinding>& out_;
  std::unordered_map<std::string_view, const sZipEntry*> entries_;
  std::unordered_set<std::string> listed_;  // entries that a manifest lists
  bool anyPackageRead_ = false;
  bool hasIdentifier_ = false;
  std::string identifier_;  // the package's unique identifier
  std::vector<sBookDocument> documents_;
  std::vector<sBookReference> references_;
};

}  // namespace

std::vector<sFinding> checkBook(const std::string& path, const sContainerCheckOptions& options) {
  return checkContainer(path, options,
                        [&options](const cZipReader& reader, const std::vector<std::string>& packages,
                                   std::vector<sFinding>& out) { cBookCheck(reader, options, out).run(packages); });
}

std::vector<sFinding> checkBook(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options) {
  return checkContainer(archive, options,
                        [&options](const cZipReader& reader, const std::vector<std::string>& packages,
                                   std::vector<sFinding>& out) { cBookCheck(reader, options, out).run(packages); });
}

}  // namespace plimsy
