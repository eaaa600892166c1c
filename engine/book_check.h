#pragma once

// The check of a whole book: its ZIP container (container_check.h), then the
// package document that container.xml names, the package's navigation (the
// EPUB 3 navigation document, the EPUB 2 NCX) and, with `deep`, every content
// document and the links between them. Findings carry epubcheck's codes.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/container_check.h"

namespace plimsy {

// The codes of Plimsy's own findings about the package, where epubcheck
// reports the fault only as a schema error (RSC-005).
inline constexpr const char* kCodeDuplicateItemId = "PLM-009";
inline constexpr const char* kCodeEmptySpine = "PLM-010";
inline constexpr const char* kCodeNavItemCount = "PLM-011";
inline constexpr const char* kCodeItemWithoutHref = "PLM-012";

// Checks the epub at `path` (UTF-8); what checkContainer says of a path that
// names nothing or no archive holds here too.
std::vector<sFinding> checkBook(const std::string& path, const sContainerCheckOptions& options = {});

// Checks an epub held in memory.
std::vector<sFinding> checkBook(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options = {});

}  // namespace plimsy
