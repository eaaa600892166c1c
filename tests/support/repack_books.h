#pragma once

// Books that repack once turned into broken ones, each crafted from the
// sample book: what repack must make of it (the entries it writes, what it
// leaves out) or the message it must refuse it with. The engine's tests run
// the table through the repack job and the container check; the interop
// tests through epubcheck too.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/zip_builder.h"

namespace plimsy::test {

struct RepackBook {
  std::string label;
  ArchivePlan plan;
  std::optional<std::uint32_t> level;  // repack --level
  // Entries written under another name (old name -> new name); every other
  // entry but mimetype keeps its own.
  std::map<std::string, std::string> renamed;
  // Entries left out besides mimetype (which is written anew), as the job reports them.
  std::vector<std::string> dropped;
  // When set, the job must refuse the book with this message.
  std::optional<std::string> refusal;
};

// The sample book as a plan: mimetype first and stored, every other file
// deflated, in name order.
ArchivePlan sampleBookPlan();

// The table.
std::vector<RepackBook> repackBooks();

// The names of the entries of a plan that the repacked book must hold after
// its mimetype, in order.
std::vector<std::string> namesAfterRepack(const RepackBook& book);

}  // namespace plimsy::test
