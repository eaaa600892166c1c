#include "fuzz/fuzz_targets.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <span>
#include <string>

#include "core/paths.h"
#include "core/settings.h"
#include "core/text.h"
#include "engine/analysis_log.h"
#include "engine/book_check.h"
#include "engine/container_check.h"
#include "engine/container_xml.h"
#include "engine/unzip_job.h"
#include "engine/xml_reader.h"
#include "engine/zip_reader.h"

namespace fs = std::filesystem;

namespace plimsy::fuzz {
namespace {

// A folder of this process's own below the temporary folder, removed when
// the process ends normally.
class cScratch {
 public:
  cScratch() {
    std::random_device seed;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
      const fs::path candidate = base / ("plimsy-fuzz-" + std::to_string(seed()) + std::to_string(seed()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) root_ = candidate;
    }
    if (root_.empty()) std::abort();
  }
  ~cScratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  const fs::path& root() const { return root_; }

 private:
  fs::path root_;
};

const cScratch& scratch() {
  static const cScratch instance;
  return instance;
}

// Whether the folder holds nothing but the unpacked files.
bool onlyFiles(const fs::path& folder) {
  for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
    if (item.path().filename() != "files") return false;
  }
  return true;
}

}  // namespace

sReaderOutcome zipReaderOutcome(const std::uint8_t* data, std::size_t size) {
  cZipReader reader;
  sReaderOutcome outcome;
  outcome.opened = reader.open(&outcome.message, std::span<const std::uint8_t>(data, size));
  if (outcome.opened) {
    outcome.entries = reader.cdrCount();
    std::string log;
    writeAnalysisText(reader, &outcome.message, log);
  } else if (outcome.message.empty()) {
    std::abort();  // a refusal must say why
  }
  return outcome;
}

std::string settingsReaderOutcome(const std::uint8_t* data, std::size_t size) {
  cSettings settings;
  settings.readXml(std::string(reinterpret_cast<const char*>(data), size));
  std::string text;
  settings.writeXml(text);
  return text;
}

sUnzipOutcome unzipJobOutcome(const std::uint8_t* data, std::size_t size) {
  // A folder of its own, which must hold nothing else afterwards. The archive
  // is read from memory; its path names a file that is never made.
  const fs::path folder = scratch().root() / "unzip";
  const std::string files = (folder / "files").string();
  std::error_code ignored;
  fs::remove_all(files, ignored);
  fs::create_directory(folder, ignored);
  EpubWorkOrder order;
  order.ZipPath = (folder / "input.zip").string();
  order.FilesDir = files;
  order.RealFileCreationTimes = false;
  sUnzipOutcome outcome;
  sStatistics statistics;
  outcome.unzipped = unzipJobFromMemory(order, std::span<const std::uint8_t>(data, size), &outcome.message, statistics);
  if (!outcome.unzipped && outcome.message.empty()) std::abort();
  if (!onlyFiles(folder)) std::abort();
  if (outcome.unzipped) outcome.files = statistics.files;
  return outcome;
}

int zipReaderOneInput(const std::uint8_t* data, std::size_t size) {
  zipReaderOutcome(data, size);
  // The book check reads the same bytes, data and all (container, package
  // document, navigation, content documents and their links); what it says
  // must be text a terminal and a JSON reader can take.
  const sContainerCheckOptions deep{true, 1};
  for (const sFinding& finding : checkBook(std::span<const std::uint8_t>(data, size), deep)) {
    if (finding.code.empty() || !isValidUtf8(finding.message) || !isValidUtf8(visibleName(finding.entry))) std::abort();
  }
  return 0;
}

std::string containerXmlOutcome(const std::uint8_t* data, std::size_t size) {
  const sContainerXml xml = readContainerXml(std::string_view(reinterpret_cast<const char*>(data), size));
  std::string outcome;
  if (xml.rootfilesUnread)
    outcome = "unread";
  else if (xml.wellFormed)
    outcome = "well-formed";
  else
    outcome = "not well-formed: " + describeXmlError({xml.problem, xml.line, xml.column});
  if (!xml.rootfilesUnread)
    outcome += ", " + std::to_string(xml.rootfiles.size()) + (xml.rootfiles.size() == 1 ? " rootfile" : " rootfiles");
  if (!xml.refusedEncoding.empty()) outcome += "; encoding " + visibleName(xml.refusedEncoding) + " refused";
  return outcome;
}

int containerXmlOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const sContainerXml xml = readContainerXml(bytes);
  if (xml.wellFormed != xml.problem.empty() || (!xml.wellFormed && xml.line == 0)) std::abort();
  for (const sRootfile& r : xml.rootfiles) {
    if (!isValidUtf8(r.fullPath) || !isValidUtf8(r.mediaType)) std::abort();
  }
  // Fed in two pieces, the parser comes to the same answer.
  if (xml.refusedEncoding.empty() && size > 0) {
    struct cNothing : cXmlHandler {
    } nothing;
    const std::size_t split = data[0] % size;
    cXmlParser parser(nothing);
    const bool whole = parser.feed(bytes.substr(0, split), false) && parser.feed(bytes.substr(split), true);
    if (whole != xml.wellFormed) std::abort();
  }
  return 0;
}

int settingsReaderOneInput(const std::uint8_t* data, std::size_t size) {
  settingsReaderOutcome(data, size);
  return 0;
}

int unzipJobOneInput(const std::uint8_t* data, std::size_t size) {
  unzipJobOutcome(data, size);
  return 0;
}

}  // namespace plimsy::fuzz
