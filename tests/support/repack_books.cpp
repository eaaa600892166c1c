#include "support/repack_books.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#include "core/text.h"
#include "engine/repack_job.h"
#include "engine/unzip_job.h"
#include "support/sample_data.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace plimsy::test {
namespace {

constexpr std::uint16_t kUtf8Flag = 0x0800;

std::size_t indexOf(const ArchivePlan& plan, const std::string& name) {
  for (std::size_t i = 0; i < plan.entries.size(); ++i)
    if (plan.entries[i].name == name) return i;
  return plan.entries.size();
}

EntryPlan& entryNamed(ArchivePlan& plan, const std::string& name) { return plan.entries.at(indexOf(plan, name)); }

// The sample book with a folder entry for OEBPS/images that only its
// attributes mark as one (no trailing "/"), as some writers make them.
ArchivePlan withAttributeFolder(const std::function<void(Cdr&)>& attributes) {
  ArchivePlan plan = sampleBookPlan();
  EntryPlan folder = storedEntry("OEBPS/images", "");
  folder.editCdr = attributes;
  plan.entries.insert(plan.entries.begin() + static_cast<std::ptrdiff_t>(indexOf(plan, "OEBPS/images/lighthouse.png")),
                      folder);
  return plan;
}

EntryPlan withUtf8Flag(EntryPlan entry) {
  entry.editLfh = [](Lfh& l) { l.setGeneralFlags(l.generalFlags() | kUtf8Flag); };
  entry.editCdr = [](Cdr& c) { c.setGeneralFlags(c.generalFlags() | kUtf8Flag); };
  return entry;
}

// A chapter whose deflated data does not inflate: its first block has the
// reserved block type.
ArchivePlan withDamagedChapter() {
  ArchivePlan plan = sampleBookPlan();
  entryNamed(plan, "OEBPS/text/chapter2.xhtml").data[0] = '\x07';
  return plan;
}

}  // namespace

ArchivePlan sampleBookPlan() {
  const fs::path book = sampleBook();
  std::vector<std::string> names;
  for (const auto& item : fs::recursive_directory_iterator(book))
    if (item.is_regular_file()) names.push_back(item.path().lexically_relative(book).generic_string());
  std::sort(names.begin(), names.end());
  ArchivePlan plan;
  plan.entries.push_back(storedEntry("mimetype", "application/epub+zip"));
  for (const std::string& name : names)
    if (name != "mimetype") plan.entries.push_back(deflatedEntry(name, readFile(book / fs::path(name))));
  return plan;
}

std::vector<RepackBook> repackBooks() {
  std::vector<RepackBook> books;
  const auto add = [&books](std::string label, ArchivePlan plan) -> RepackBook& {
    RepackBook& book = books.emplace_back();
    book.label = std::move(label);
    book.plan = std::move(plan);
    return book;
  };

  // Folders marked by their attributes alone: copied as 0-byte files, they
  // kept OEBPS/images/ from being made, and the book from unpacking.
  add("folder marked by its MS-DOS attribute", withAttributeFolder([](Cdr& c) { c.setExternalAttr(0x10); })).renamed = {
      {"OEBPS/images", "OEBPS/images/"}};
  add("folder marked by its Unix mode", withAttributeFolder([](Cdr& c) {
        c.setVersionMadeBy(0x031E);
        c.setExternalAttr(std::uint32_t{040755} << 16);
      }))
      .renamed = {{"OEBPS/images", "OEBPS/images/"}};

  // A mimetype in another letter case: kept beside the new mimetype entry, it
  // was a duplicate (OPF-060) the book did not have.
  {
    ArchivePlan plan = sampleBookPlan();
    plan.entries[0].name = "MIMETYPE";
    add("MIMETYPE, stored, first", std::move(plan)).dropped = {"MIMETYPE"};
  }
  {
    ArchivePlan plan = sampleBookPlan();
    plan.entries.erase(plan.entries.begin());
    plan.entries.push_back(deflatedEntry("MimeType", "application/epub+zip\n"));
    add("MimeType, deflated, last, with a line end", std::move(plan)).dropped = {"MimeType"};
  }
  {
    ArchivePlan plan = sampleBookPlan();
    plan.entries.push_back(storedEntry("MIMETYPE", "text/plain"));
    add("MIMETYPE beside mimetype, holding another type", std::move(plan)).refusal =
        formatText(kOtherMimetypeMessage, "MIMETYPE");
  }

  // An empty deflated file keeps its two-byte stream (it came out stored).
  {
    ArchivePlan plan = sampleBookPlan();
    plan.entries.insert(plan.entries.begin() + static_cast<std::ptrdiff_t>(indexOf(plan, "OEBPS/css/style.css")),
                        deflatedEntry("OEBPS/css/empty.css", ""));
    add("empty deflated file", std::move(plan));
  }

  // Names flagged UTF-8 keep the flag, copied or packed again: without it,
  // readers that go by it read "café" in another encoding.
  {
    ArchivePlan plan = sampleBookPlan();
    plan.entries.push_back(withUtf8Flag(
        deflatedEntry("OEBPS/text/caf\xC3\xA9.xhtml", readFile(sampleBook() / "OEBPS/text/chapter1.xhtml"))));
    add("UTF-8 flag", plan);
    add("UTF-8 flag, packed again at level 9", std::move(plan)).level = 9;
  }

  // Packed again, DOS date and time stay as they were, even ones that form no
  // valid time (month 15, 25:63:62).
  {
    ArchivePlan plan = sampleBookPlan();
    EntryPlan& chapter = entryNamed(plan, "OEBPS/text/chapter1.xhtml");
    chapter.dosDate = static_cast<std::uint16_t>((42 << 9) | (15 << 5) | 1);
    chapter.dosTime = static_cast<std::uint16_t>((25 << 11) | (63 << 5) | 31);
    add("invalid DOS date and time, packed again at level 1", std::move(plan)).level = 1;
  }

  // One entry of two names: a checker sees one chapter, a reader another.
  {
    ArchivePlan plan = sampleBookPlan();
    entryNamed(plan, "OEBPS/text/chapter2.xhtml").lfhName = "OEBPS/text/chapter9.xhtml";
    add("local header of another name", std::move(plan)).refusal =
        formatText(kTwoNamesMessage, "OEBPS/text/chapter2.xhtml", "OEBPS/text/chapter9.xhtml");
  }

  // Data that does not inflate is said to be so.
  const std::string damaged = formatText(kInflateFailedMessage, "OEBPS/text/chapter2.xhtml");
  add("deflated data that does not inflate", withDamagedChapter()).refusal = damaged;
  RepackBook& again = add("deflated data that does not inflate, packed again at level 6", withDamagedChapter());
  again.refusal = damaged;
  again.level = 6;
  return books;
}

std::vector<std::string> namesAfterRepack(const RepackBook& book) {
  std::vector<std::string> names;
  for (const EntryPlan& entry : book.plan.entries) {
    if (entry.name == "mimetype" ||
        std::find(book.dropped.begin(), book.dropped.end(), entry.name) != book.dropped.end())
      continue;
    const auto renamed = book.renamed.find(entry.name);
    names.push_back(renamed != book.renamed.end() ? renamed->second : entry.name);
  }
  return names;
}

}  // namespace plimsy::test
