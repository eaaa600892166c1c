#include "engine/crc32.h"

#include <array>

namespace plimsy {
namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

// tables[0] is the classic byte-at-a-time table; tables[k][b] is the CRC of
// byte b followed by k zero bytes, which lets eight bytes be folded per step.
// Built at compile time, so no thread ever sees it half made.
constexpr Tables makeTables() {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t c = b;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][b] = c;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
  return t;
}

constexpr Tables kTables = makeTables();

std::uint32_t loadLittle32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t updateCrc32(std::uint32_t value, const void* data, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (count >= 8) {
    const std::uint32_t one = loadLittle32(p) ^ value;
    const std::uint32_t two = loadLittle32(p + 4);
    value = kTables[7][one & 0xFF] ^ kTables[6][(one >> 8) & 0xFF] ^ kTables[5][(one >> 16) & 0xFF] ^
            kTables[4][one >> 24] ^ kTables[3][two & 0xFF] ^ kTables[2][(two >> 8) & 0xFF] ^
            kTables[1][(two >> 16) & 0xFF] ^ kTables[0][two >> 24];
    p += 8;
    count -= 8;
  }
  while (count-- > 0) value = (value >> 8) ^ kTables[0][(value ^ *p++) & 0xFF];
  return value;
}

}  // namespace plimsy
