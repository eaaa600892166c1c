#include "engine/content_check.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "engine/byte_ranges.h"
#include "engine/css_urls.h"
#include "engine/entry_data.h"
#include "engine/job_control.h"
#include "engine/xml_reader.h"
#include "engine/zip_reader.h"

namespace plimsy {
namespace {

constexpr std::string_view kXhtmlNamespace = "http://www.w3.org/1999/xhtml";
constexpr std::string_view kSvgNamespace = "http://www.w3.org/2000/svg";
constexpr std::string_view kXlinkNamespace = "http://www.w3.org/1999/xlink";
constexpr unsigned kMostThreads = 4;
// Markup that expat must hold whole (a start tag with its attributes, a
// comment) is read into its buffer; past this much input without an element
// or text the document is given up, so that a hostile document cannot take
// the check's memory: expat's buffer stays under twice this (and a piece of
// input) on each of at most four threads. A data: URL of a few MiB still fits.
constexpr std::uint64_t kMostMarkupPiece = std::uint64_t{4} << 20;
// The findings of a document that come after all its references.
constexpr std::uint32_t kAfterReferences = std::numeric_limits<std::uint32_t>::max();

enum class eKind : std::uint8_t { Xhtml, Svg, Css, Other };

eKind kindOf(std::string_view mediaType) {
  const std::size_t parameters = mediaType.find(';');
  if (parameters != std::string_view::npos) mediaType = mediaType.substr(0, parameters);
  while (!mediaType.empty() && mediaType.back() == ' ') mediaType.remove_suffix(1);
  std::string lower(mediaType);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (lower == "application/xhtml+xml") return eKind::Xhtml;
  if (lower == "image/svg+xml") return eKind::Svg;
  if (lower == "text/css") return eKind::Css;
  return eKind::Other;
}

bool isXml(eKind kind) { return kind == eKind::Xhtml || kind == eKind::Svg; }

// Ids are kept as 64-bit hashes: a book's id sets take a few bytes per id.
// (Two ids of one document with the same hash could hide one missing
// fragment; the chance is far below that of any other fault.)
std::uint64_t idHash(std::string_view id) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (const char c : id) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

bool isHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

std::string_view trimmedReference(std::string_view text) {
  while (!text.empty() && isHtmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isHtmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The URLs of an img@srcset: candidates split by commas, each a URL and its
// descriptors ("a.png 2x, b.png 640w").
template <typename Take>
void srcsetUrls(std::string_view srcset, Take&& take) {
  std::size_t at = 0;
  while (at < srcset.size()) {
    while (at < srcset.size() && (isHtmlSpace(srcset[at]) || srcset[at] == ',')) ++at;
    const std::size_t start = at;
    while (at < srcset.size() && !isHtmlSpace(srcset[at])) ++at;
    std::string_view url = srcset.substr(start, at - start);
    if (!url.empty() && url.back() == ',') {
      while (!url.empty() && url.back() == ',') url.remove_suffix(1);
    } else {
      int depth = 0;  // descriptors run to the next comma outside parentheses
      for (; at < srcset.size() && !(srcset[at] == ',' && depth == 0); ++at) {
        if (srcset[at] == '(') ++depth;
        if (srcset[at] == ')' && depth > 0) --depth;
      }
    }
    if (!url.empty()) take(url);
  }
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// What every thread reads, set up before they start.
struct sContext {
  const cZipReader& reader;
  std::span<const sBookDocument> documents;
  std::vector<eKind> kinds;
  std::unordered_map<std::string_view, const sZipEntry*> entries;   // the first entry of each name
  std::unordered_map<std::string_view, std::size_t> documentIndex;  // the first document of each entry
  std::unordered_set<std::string> handedOver;                       // source '\0' written, of otherReferences
};

std::string handedOverKey(std::string_view source, std::string_view written) {
  std::string key(source);
  key += '\0';
  key += written;
  return key;
}

// A reference whose fragment waits for its target's ids.
struct sPending {
  std::uint32_t ordinal;  // the reference's place among its document's references
  std::uint32_t target;   // the target document's index
  std::uint64_t fragment;
};

struct sOrderedFinding {
  std::uint32_t ordinal;
  sFinding finding;
};

struct sDocumentResult {
  bool read = false;               // its ids are known (up to where it could be read)
  std::vector<std::uint64_t> ids;  // sorted
  std::vector<sOrderedFinding> findings;
  std::vector<sPending> pending;
};

std::string missingMessage(std::string_view written, std::string_view entry) {
  return fmt::format("The reference \"{}\" names {}, which is not in the book.", visibleName(written),
                     visibleName(entry));
}

std::string outsideMessage(std::string_view written) {
  return fmt::format("The reference \"{}\" leads outside the book.", visibleName(written));
}

std::string fragmentMessage(std::string_view written, std::string_view fragment, std::string_view entry) {
  return fmt::format("The reference \"{}\" names the fragment \"{}\", which is no id in {}.", visibleName(written),
                     visibleName(fragment), visibleName(entry));
}

// Reads one document's references in order. The first reading notes ids,
// missing entries and the fragments to look up later; a second reading
// (`wanted` set) finds again the references whose fragments were not found,
// to name them as written.
class cReferenceScan : public cXmlHandler {
 public:
  cReferenceScan(const sContext& context, std::size_t index, sDocumentResult& result,
                 const std::vector<std::uint32_t>* wanted)
      : context_(context),
        base_(context.documents[index].entry),
        result_(result),
        wanted_(wanted),
        style_([this](std::string_view url) { reference(url, false); }) {}

  bool sawEvent = false;

  // One reference as written; `fragments`: its fragment is looked up.
  void reference(std::string_view written, bool fragments) {
    const std::uint32_t ordinal = next_++;
    written = trimmedReference(written);
    if (wanted_) {
      if (!std::binary_search(wanted_->begin(), wanted_->end(), ordinal)) return;
      const sResolvedReference target = resolveReference(base_, written);
      result_.findings.push_back(
          {ordinal,
           {"RSC-012", eSeverity::Error, std::string(base_), fragmentMessage(written, target.fragment, target.entry)}});
      return;
    }
    if (!context_.handedOver.empty() && context_.handedOver.count(handedOverKey(base_, written)) != 0) return;
    const sResolvedReference target = resolveReference(base_, written);
    // "//host/path" names a file of another host, not one above the container.
    if (target.kind == eReferenceKind::Outside && !startsWith(written, "//")) {
      result_.findings.push_back({ordinal, {"RSC-007", eSeverity::Error, std::string(base_), outsideMessage(written)}});
      return;
    }
    if (target.kind != eReferenceKind::InBook) return;
    const auto document = context_.documentIndex.find(target.entry);
    if (context_.entries.find(target.entry) == context_.entries.end()) {
      // A manifest item without its entry is the package check's finding.
      if (document == context_.documentIndex.end())
        result_.findings.push_back(
            {ordinal, {"RSC-007", eSeverity::Error, std::string(base_), missingMessage(written, target.entry)}});
      return;
    }
    if (!fragments || !target.hasFragment || target.fragment.empty() || startsWith(target.fragment, "epubcfi(")) return;
    if (document == context_.documentIndex.end() || !isXml(context_.kinds[document->second])) return;
    result_.pending.push_back({ordinal, static_cast<std::uint32_t>(document->second), idHash(target.fragment)});
  }

  void startElement(const sXmlName& name, std::span<const sXmlAttribute> attributes) override {
    sawEvent = true;
    const auto attribute = [&attributes](std::string_view ns, std::string_view local) -> const std::string_view* {
      for (const sXmlAttribute& a : attributes)
        if (a.name.is(ns, local)) return &a.value;
      return nullptr;
    };
    const auto check = [&](std::string_view local, bool fragments) {
      if (const std::string_view* value = attribute({}, local)) reference(*value, fragments);
    };
    if (!wanted_)
      for (const sXmlAttribute& a : attributes)
        if (a.name.is({}, "id")) result_.ids.push_back(idHash(a.value));
    const bool html = name.ns == kXhtmlNamespace;
    const bool svg = name.ns == kSvgNamespace;
    if (html) {
      const std::string_view e = name.local;
      if (e == "a")
        check("href", true);
      else if (e == "link")
        check("href", false);
      else if (e == "img") {
        check("src", true);
        if (const std::string_view* srcset = attribute({}, "srcset"))
          srcsetUrls(*srcset, [this](std::string_view url) { reference(url, false); });
      } else if (e == "iframe")
        check("src", true);
      else if (e == "input" || e == "embed" || e == "script" || e == "source" || e == "track" || e == "audio")
        check("src", false);
      else if (e == "video") {
        check("src", false);
        check("poster", false);
      } else if (e == "object")
        check("data", true);
    } else if (svg) {
      if (name.local == "a" || name.local == "use") {
        if (const std::string_view* href = attribute(kXlinkNamespace, "href")) reference(*href, true);
      } else if (name.local == "image") {
        if (const std::string_view* href = attribute(kXlinkNamespace, "href")) reference(*href, false);
      }
    }
    if (html || svg) {
      if (const std::string_view* style = attribute({}, "style")) {
        cCssUrlScanner inline_([this](std::string_view url) { reference(url, false); });
        inline_.feed(*style);
        inline_.finish();
      }
      if (name.local == "style") ++styleDepth_;
    }
  }

  void endElement(const sXmlName& name) override {
    sawEvent = true;
    if (styleDepth_ > 0 && name.local == "style" && (name.ns == kXhtmlNamespace || name.ns == kSvgNamespace)) {
      --styleDepth_;
      style_.finish();
    }
  }

  void text(std::string_view piece) override {
    sawEvent = true;
    if (styleDepth_ > 0) style_.feed(piece);
  }

 private:
  const sContext& context_;
  std::string_view base_;
  sDocumentResult& result_;
  const std::vector<std::uint32_t>* wanted_;
  std::uint32_t next_ = 0;
  int styleDepth_ = 0;
  cCssUrlScanner style_;
};

// Reads one document (the first reading, or the second when `wanted` is set).
void readDocument(const sContext& context, std::size_t index, sDocumentResult& result,
                  const std::vector<std::uint32_t>* wanted) {
  const sBookDocument& document = context.documents[index];
  const eKind kind = context.kinds[index];
  if (kind == eKind::Other) return;
  const auto found = context.documentIndex.find(document.entry);
  if (found == context.documentIndex.end() || found->second != index) return;  // listed twice: read once
  const auto located = context.entries.find(document.entry);
  if (located == context.entries.end()) return;  // the package check's RSC-001
  const sZipEntry& entry = *located->second;
  const cZipReader& reader = context.reader;
  const std::uint16_t method = entry.cdr.header.compressionMethod();
  // Data that cannot be read is the container check's finding.
  if (!fitsIn(reader.viewSize(), entry.dataOffset, entry.cdr.effectiveCompressedSize()) ||
      isEncrypted(entry.cdr, entry.lfh) || (method != kMethodStored && method != kMethodDeflated))
    return;
  const std::uint64_t limit = entry.cdr.effectiveUncompressedSize();
  cReferenceScan scan(context, index, result, wanted);
  if (kind == eKind::Css) {
    cCssUrlScanner css([&scan](std::string_view url) { scan.reference(url, false); });
    const eRead read = readEntryData(reader, entry, limit, [&css](const std::uint8_t* p, std::size_t n) {
      css.feed(std::string_view(reinterpret_cast<const char*>(p), n));
    });
    if (read == eRead::Ok) css.finish();
    return;
  }
  cXmlParser parser(scan);
  std::uint64_t sinceEvent = 0;
  bool tooLarge = false;
  const eRead read = readEntryData(reader, entry, limit, [&](const std::uint8_t* p, std::size_t n) {
    scan.sawEvent = false;
    if (!parser.feed(std::span(p, n), false)) return false;
    sinceEvent = scan.sawEvent ? 0 : sinceEvent + n;
    if (sinceEvent > kMostMarkupPiece) {
      tooLarge = true;
      return false;
    }
    return true;
  });
  // The last piece may hold elements that expat kept back until the end.
  if (read == eRead::Ok && !tooLarge) parser.feed(std::string_view(), true);
  result.read = true;
  if (wanted) return;
  std::sort(result.ids.begin(), result.ids.end());
  result.ids.erase(std::unique(result.ids.begin(), result.ids.end()), result.ids.end());
  result.ids.shrink_to_fit();
  if (tooLarge)
    result.findings.push_back(
        {kAfterReferences,
         {kCodeNotChecked, eSeverity::Warning, document.entry,
          fmt::format("The document was not checked past line {}: one piece of its markup is larger than {} MiB.",
                      parser.line(), kMostMarkupPiece >> 20)}});
  // A document whose data is damaged was cut short: the container check says so.
  else if (parser.failed() && read == eRead::Ok)
    result.findings.push_back(
        {kAfterReferences,
         {"RSC-016", eSeverity::Error, document.entry,
          fmt::format("The document is not well-formed XML: {}.", describeXmlError(parser.error()))}});
}

unsigned threadCount(unsigned threads, std::size_t work) {
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
  return static_cast<unsigned>(std::min<std::size_t>(threads, std::max<std::size_t>(work, 1)));
}

// Runs body(k) for k in [0, count) on up to `threads` threads. A body that
// runs out of memory gives outOfMemory(k).
template <typename Body, typename OutOfMemory>
void forEachParallel(std::size_t count, unsigned threads, Body&& body, OutOfMemory&& outOfMemory) {
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t k = next++; k < count; k = next++) {
      std::string failure;
      if (!failingOnOutOfMemory(&failure, [&] {
            body(k);
            return true;
          }))
        outOfMemory(k);
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threadCount(threads, count); ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads, the same findings
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

sOrderedFinding outOfMemoryFinding() {
  // Its entry's name would take memory too.
  return {kAfterReferences, {"PKG-008", eSeverity::Error, {}, kOutOfMemoryMessage}};
}

bool knowsId(const sDocumentResult& target, std::uint64_t fragment) {
  return std::binary_search(target.ids.begin(), target.ids.end(), fragment);
}

void checkAll(const cZipReader& reader, std::span<const sBookDocument> documents,
              std::span<const sBookReference> otherReferences, unsigned threads, std::vector<sFinding>& findings) {
  sContext context{reader, documents, {}, {}, {}, {}};
  context.kinds.reserve(documents.size());
  for (std::size_t i = 0; i < documents.size(); ++i) {
    context.kinds.push_back(kindOf(documents[i].mediaType));
    context.documentIndex.emplace(documents[i].entry, i);
  }
  context.entries.reserve(reader.entries().size());
  for (const sZipEntry& e : reader.entries()) context.entries.emplace(e.cdr.name, &e);
  for (const sBookReference& r : otherReferences) context.handedOver.insert(handedOverKey(r.source, r.written));

  std::vector<sDocumentResult> results(documents.size());
  // Set by a thread that ran out of memory (which allocates nothing more).
  std::vector<std::uint8_t> failed(documents.size(), 0);
  forEachParallel(
      documents.size(), threads, [&](std::size_t k) { readDocument(context, k, results[k], nullptr); },
      [&](std::size_t k) { failed[k] = 1; });
  for (std::size_t d = 0; d < documents.size(); ++d)
    if (failed[d]) {
      results[d] = {};
      results[d].findings.push_back(outOfMemoryFinding());
    }

  // The fragments, once every id is known; the documents that made a
  // reference to a missing one are read again to name it.
  std::vector<std::vector<std::uint32_t>> wanted(documents.size());
  std::vector<std::size_t> again;
  for (std::size_t d = 0; d < documents.size(); ++d) {
    for (const sPending& p : results[d].pending)
      if (results[p.target].read && !knowsId(results[p.target], p.fragment)) wanted[d].push_back(p.ordinal);
    results[d].pending = {};
    if (!wanted[d].empty()) again.push_back(d);
  }
  forEachParallel(
      again.size(), threads,
      [&](std::size_t k) {
        const std::size_t d = again[k];
        sDocumentResult second;
        readDocument(context, d, second, &wanted[d]);
        results[d].findings.reserve(results[d].findings.size() + second.findings.size());
        for (sOrderedFinding& f : second.findings) results[d].findings.push_back(std::move(f));
      },
      [&](std::size_t k) { failed[again[k]] = 2; });
  for (std::size_t d = 0; d < documents.size(); ++d)
    if (failed[d] == 2) results[d].findings.push_back(outOfMemoryFinding());

  // The other references' fragments go after their source document's findings.
  std::vector<std::vector<sFinding>> others(documents.size() + 1);
  for (const sBookReference& r : otherReferences) {
    const sResolvedReference& target = r.target;
    if (target.kind != eReferenceKind::InBook || !target.hasFragment || target.fragment.empty() ||
        startsWith(target.fragment, "epubcfi("))
      continue;
    const auto document = context.documentIndex.find(target.entry);
    if (document == context.documentIndex.end() || !isXml(context.kinds[document->second])) continue;
    const sDocumentResult& result = results[document->second];
    if (!result.read || knowsId(result, idHash(target.fragment))) continue;
    const auto source = context.documentIndex.find(r.source);
    others[source == context.documentIndex.end() ? documents.size() : source->second].push_back(
        {"RSC-012", eSeverity::Error, r.source, fragmentMessage(r.written, target.fragment, target.entry)});
  }

  for (std::size_t d = 0; d < documents.size(); ++d) {
    std::vector<sOrderedFinding>& list = results[d].findings;
    std::stable_sort(list.begin(), list.end(),
                     [](const sOrderedFinding& a, const sOrderedFinding& b) { return a.ordinal < b.ordinal; });
    for (sOrderedFinding& f : list) findings.push_back(std::move(f.finding));
    results[d] = {};
    for (sFinding& f : others[d]) findings.push_back(std::move(f));
  }
  for (sFinding& f : others.back()) findings.push_back(std::move(f));
}

}  // namespace

void checkContentDocuments(const cZipReader& reader, std::span<const sBookDocument> documents,
                           std::span<const sBookReference> otherReferences, unsigned threads,
                           std::vector<sFinding>& findings) {
  std::string failure;
  if (!failingOnOutOfMemory(&failure, [&] {
        checkAll(reader, documents, otherReferences, threads, findings);
        return true;
      }))
    findings.push_back({"PKG-008", eSeverity::Error, {}, failure});
}

}  // namespace plimsy
