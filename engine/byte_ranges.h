#pragma once

// Bounds on byte ranges inside an archive, checked without a sum that could
// wrap whatever the (hostile) offsets and lengths an archive announces: every
// range is checked as offset + length <= size, written as two comparisons.

#include <cstdint>
#include <limits>

namespace plimsy {

// `length` bytes at `offset` lie inside a file of `size` bytes.
inline bool fitsIn(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
  return offset <= size && length <= size - offset;
}

// a + b, or the largest value when the sum would wrap (a range end that lies
// past any file).
inline std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  return b > kMost - a ? kMost : a + b;
}

}  // namespace plimsy
