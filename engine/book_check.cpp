#include "engine/book_check.h"

namespace plimsy {

std::vector<sFinding> checkBook(const std::string& path, const sContainerCheckOptions& options) {
  return checkContainer(path, options);
}

std::vector<sFinding> checkBook(std::span<const std::uint8_t> archive, const sContainerCheckOptions& options) {
  return checkContainer(archive, options);
}

}  // namespace plimsy
