// Which findings a repack mends: the rule against what the repack job really
// does to books that have the faults, and the offer that follows from it.

#include "engine/repair_rules.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/repack_job.h"
#include "support/repack_books.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kDescriptorFlag = 0x0008;

std::string findingsCodes(const std::vector<sFinding>& findings) {
  std::string codes;
  for (const sFinding& f : findings) codes += f.code + " " + f.message + "\n";
  return codes;
}

struct FaultyBook {
  const char* label;
  const char* code;  // the fault the book shows, which repack must mend
  test::ArchivePlan plan;
};

test::ArchivePlan withMimetype(test::EntryPlan mimetype) {
  test::ArchivePlan plan = test::sampleBookPlan();
  plan.entries[0] = std::move(mimetype);
  return plan;
}

std::vector<FaultyBook> faultyBooks() {
  std::vector<FaultyBook> books;
  books.push_back(
      {"mimetype deflated", "PKG-007", withMimetype(test::deflatedEntry("mimetype", "application/epub+zip"))});
  books.push_back(
      {"mimetype with a line end", "PKG-007", withMimetype(test::storedEntry("mimetype", "application/epub+zip\n"))});
  books.push_back({"mimetype of another type", "PKG-007", withMimetype(test::storedEntry("mimetype", "text/plain"))});
  {
    test::EntryPlan mimetype = test::storedEntry("mimetype", "application/epub+zip");
    mimetype.lfhExtra = test::extraRecord(0x5455, std::string(5, '\0'));
    books.push_back({"mimetype with an extra field", "PKG-005", withMimetype(std::move(mimetype))});
  }
  {
    test::ArchivePlan plan = test::sampleBookPlan();
    std::rotate(plan.entries.begin(), plan.entries.begin() + 1, plan.entries.end());
    books.push_back({"mimetype last", "PKG-006", std::move(plan)});
  }
  {
    test::ArchivePlan plan = test::sampleBookPlan();
    plan.entries.erase(plan.entries.begin());
    books.push_back({"no mimetype", "PKG-006", std::move(plan)});
  }
  {
    test::ArchivePlan plan = test::sampleBookPlan();
    test::EntryPlan& chapter = plan.entries.back();
    chapter.editLfh = [](Lfh& lfh) { lfh.setGeneralFlags(lfh.generalFlags() | kDescriptorFlag); };
    chapter.editCdr = [](Cdr& cdr) { cdr.setGeneralFlags(cdr.generalFlags() | kDescriptorFlag); };
    books.push_back({"data descriptor flagged", kCodeDataDescriptor, std::move(plan)});
  }
  {
    test::ArchivePlan plan = test::sampleBookPlan();
    plan.leading = "MZ a stub before the archive";
    books.push_back({"bytes before the first local header", "PKG-004", std::move(plan)});
  }
  return books;
}

class RepairRules : public ::testing::Test {
 protected:
  // The container's findings before and after a repack of `plan`; false when
  // the job refused the book.
  bool repackAndCheck(const test::ArchivePlan& plan, std::vector<sFinding>& before, std::vector<sFinding>& after) {
    const fs::path in = dir_.path() / "in.epub";
    const fs::path out = dir_.path() / "out.epub";
    fs::remove(out);
    test::writeFile(in, test::buildArchive(plan));
    before = checkContainer(in.string());
    sRepackOrder order;
    order.archivePath = in.string();
    order.outputPath = out.string();
    std::string message;
    sStatistics statistics;
    if (!repackJob(order, &message, statistics)) return false;
    after = checkContainer(out.string());
    return true;
  }

  // Every finding of `before` that the rule calls mended is gone from `after`.
  static void expectMendedGone(const std::vector<sFinding>& before, const std::vector<sFinding>& after) {
    for (const sFinding& finding : before) {
      if (!repackMends(finding)) continue;
      for (const sFinding& left : after)
        EXPECT_FALSE(left.code == finding.code && left.entry == finding.entry)
            << finding.code << " " << finding.message << " is still there: " << left.message;
    }
  }

  test::TempDir dir_;
};

TEST_F(RepairRules, EveryFaultCalledMendedIsGoneAfterARepack) {
  for (const FaultyBook& book : faultyBooks()) {
    SCOPED_TRACE(book.label);
    std::vector<sFinding> before;
    std::vector<sFinding> after;
    ASSERT_TRUE(repackAndCheck(book.plan, before, after));
    // The book shows its fault, and no error that repack leaves: Repair is
    // offered for it (unless it is a warning alone).
    EXPECT_TRUE(std::any_of(before.begin(), before.end(), [&](const sFinding& f) { return f.code == book.code; }));
    EXPECT_EQ(repairOffered(before), countFindings(before, eSeverity::Error) > 0) << findingsCodes(before);
    expectMendedGone(before, after);
    EXPECT_EQ(countFindings(after, eSeverity::Error), 0u) << findingsCodes(after);
  }
}

TEST_F(RepairRules, TheRepackBooksKeepNoFindingCalledMended) {
  for (const test::RepackBook& book : test::repackBooks()) {
    SCOPED_TRACE(book.label);
    std::vector<sFinding> before;
    std::vector<sFinding> after;
    // A refused book keeps whatever it had: Repair on it says why repack refuses.
    if (!repackAndCheck(book.plan, before, after)) continue;
    expectMendedGone(before, after);
  }
}

TEST(RepairOffer, OnlyWhenEveryErrorIsOneRepackMends) {
  const auto error = [](const char* code, std::string message = "m") {
    return sFinding{code, eSeverity::Error, "", std::move(message)};
  };
  const auto warning = [](const char* code) { return sFinding{code, eSeverity::Warning, "", "m"}; };
  const struct {
    const char* label;
    std::vector<sFinding> findings;
    bool offered;
  } cases[] = {
      {"nothing found", {}, false},
      {"warnings alone", {warning("PKG-010"), warning(kCodeDataDescriptor)}, false},
      {"a mimetype fault", {error("PKG-006")}, true},
      {"mimetype faults and a warning repack leaves", {error("PKG-007"), error("PKG-005"), warning("PKG-010")}, true},
      {"mimetype cut short with the file", {error("PKG-007", "mimetype's data runs past the end of the file.")}, false},
      {"a mimetype fault and a missing container.xml", {error("PKG-006"), error("RSC-002")}, false},
      {"a damaged entry", {error(kCodeDamagedData)}, false},
      {"an unsafe name", {error(kCodeUnsafeName)}, false},
      {"overlapping entries", {error(kCodeOverlap)}, false},
      {"two names for one entry", {error(kCodeHeadersDisagree)}, false},
      {"a duplicate name", {error("OPF-060")}, false},
      {"an unreadable archive", {error("PKG-008")}, false},
      {"a forbidden character", {error("PKG-009")}, false},
      {"a package without its identifier", {error("PKG-006"), error("OPF-030")}, false},
      {"a missing manifest file", {error("RSC-001")}, false},
      {"a missing resource", {error("RSC-007")}, false},
      {"an undefined fragment", {error("RSC-012")}, false},
      {"a document that is not well-formed", {error("RSC-016")}, false},
      {"an NCX of another identifier", {error("NCX-001")}, false},
      {"an extension against its media type", {error("HTM-014")}, false},
      {"a date that is no date", {error("OPF-054")}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(repairOffered(c.findings), c.offered) << c.label;
}

}  // namespace
}  // namespace plimsy
