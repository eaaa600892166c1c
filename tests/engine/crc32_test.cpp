#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "engine/crc32.h"

namespace plimsy {
namespace {

TEST(Crc32, MatchesZlibOverRandomBuffersLengthsAndSplits) {
  std::mt19937 gen(1234);
  std::vector<unsigned char> data(200'000);
  for (auto& b : data) b = static_cast<unsigned char>(gen());
  std::uniform_int_distribution<std::size_t> length(0, data.size());
  for (int round = 0; round < 200; ++round) {
    const std::size_t n = round < 40 ? static_cast<std::size_t>(round) : length(gen);
    const std::size_t offset = gen() % 8;  // unaligned starts too
    const std::size_t usable = std::min(n, data.size() - offset);
    const auto expected = static_cast<std::uint32_t>(::crc32(0, data.data() + offset, static_cast<uInt>(usable)));
    EXPECT_EQ(crc32Of(data.data() + offset, usable), expected) << "length " << usable;
    // Fed in two pieces, the running value carries over.
    const std::size_t split = usable / 3;
    std::uint32_t running = updateCrc32(0xFFFFFFFFu, data.data() + offset, split);
    running = updateCrc32(running, data.data() + offset + split, usable - split);
    EXPECT_EQ(~running, expected);
    EXPECT_EQ(~updateCrc32Portable(0xFFFFFFFFu, data.data() + offset, usable), expected);
  }
}

// Every length around the folding path's edges (64 bytes, then steps of 16)
// at every alignment, and a running value handed across them.
TEST(Crc32, MatchesZlibAtEveryShortLengthAndAlignment) {
  std::vector<unsigned char> data(400 + 16);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 167 + 13);
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (std::size_t n = 0; n <= 400; ++n) {
      const unsigned char* p = data.data() + offset;
      const auto expected = static_cast<std::uint32_t>(::crc32(0, p, static_cast<uInt>(n)));
      ASSERT_EQ(crc32Of(p, n), expected) << "offset " << offset << " length " << n;
      const std::size_t split = n > 70 ? 70 : n / 2;
      ASSERT_EQ(~updateCrc32(updateCrc32(0xFFFFFFFFu, p, split), p + split, n - split), expected)
          << "offset " << offset << " length " << n;
    }
  }
}

TEST(Crc32, KnownValues) {
  EXPECT_EQ(crc32Of("", 0), 0u);
  EXPECT_EQ(crc32Of("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32Of("application/epub+zip", 20), 0x2CAB616Fu);
}

}  // namespace
}  // namespace plimsy
