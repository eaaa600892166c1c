#pragma once

// Made-up file contents for tests: the same seed gives the same bytes.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace plimsy::test {

// Text that deflates like prose in XHTML: words drawn from a small
// vocabulary, exactly `size` bytes.
std::string prose(std::size_t size, std::uint32_t seed);

// Bytes that do not compress, like those of images.
std::string noise(std::size_t size, std::uint32_t seed);

// The sample book of the source tree: examples/sample-book.
std::filesystem::path sampleBook();

}  // namespace plimsy::test
