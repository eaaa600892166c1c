#pragma once

#include <cstddef>
#include <cstdint>

namespace plimsy {

// The CRC-32 of ZIP (IEEE 802.3 polynomial 0x04C11DB7, bit-reflected).
// Start with 0xFFFFFFFF, feed the data in any number of pieces, and complement
// the final value. Same results as zlib's crc32(). Uses carry-less
// multiplication where the processor has it (x86-64 PCLMULQDQ), and
// slicing-by-8 tables elsewhere.
std::uint32_t updateCrc32(std::uint32_t value, const void* data, std::size_t count);

// The table-driven path alone (what processors without carry-less
// multiplication run), for tests.
std::uint32_t updateCrc32Portable(std::uint32_t value, const void* data, std::size_t count);

// The finished CRC-32 of one buffer (start value and complement included).
inline std::uint32_t crc32Of(const void* data, std::size_t count) { return ~updateCrc32(0xFFFFFFFFu, data, count); }

}  // namespace plimsy
