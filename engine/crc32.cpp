#include "engine/crc32.h"

#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define PLIMSY_CRC32_CLMUL 1
#endif

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

std::uint32_t updateSliced(std::uint32_t value, const unsigned char* p, std::size_t count) {
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

#ifdef PLIMSY_CRC32_CLMUL

// Carry-less multiplication folds 64 bytes per step (the method of Gopal et
// al., "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ
// Instruction", Intel, 2009), with the constants of the bit-reflected
// polynomial: x^(4*128+64) and x^(4*128) mod P for folding 512 bits,
// x^(128+64) and x^128 for folding 128 bits, x^64 for the last 64 bits, then
// a Barrett reduction with P and floor(x^64 / P). `count` is a multiple of 16
// and at least 64.
#define PLIMSY_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

PLIMSY_CLMUL_TARGET inline __m128i load128(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x times the two constants of k (low and high halves), plus `next`.
PLIMSY_CLMUL_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

PLIMSY_CLMUL_TARGET std::uint32_t updateFolded(std::uint32_t value, const unsigned char* p, std::size_t count) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);

  __m128i x1 = _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(value)));
  __m128i x2 = load128(p + 16);
  __m128i x3 = load128(p + 32);
  __m128i x4 = load128(p + 48);
  p += 64;
  count -= 64;
  while (count >= 64) {
    x1 = fold(x1, k1k2, load128(p));
    x2 = fold(x2, k1k2, load128(p + 16));
    x3 = fold(x3, k1k2, load128(p + 32));
    x4 = fold(x4, k1k2, load128(p + 48));
    p += 64;
    count -= 64;
  }
  x1 = fold(x1, k3k4, x2);
  x1 = fold(x1, k3k4, x3);
  x1 = fold(x1, k3k4, x4);
  while (count >= 16) {
    x1 = fold(x1, k3k4, load128(p));
    p += 16;
    count -= 16;
  }

  // 128 bits to 64.
  __m128i x2b = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2b);
  x2b = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5k0, 0x00), x2b);

  // Barrett reduction to 32 bits.
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");

#endif

}  // namespace

std::uint32_t updateCrc32(std::uint32_t value, const void* data, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(data);
#ifdef PLIMSY_CRC32_CLMUL
  if (count >= 64 && kHaveClmul) {
    const std::size_t folded = count & ~std::size_t{15};
    value = updateFolded(value, p, folded);
    p += folded;
    count -= folded;
  }
#endif
  return updateSliced(value, p, count);
}

std::uint32_t updateCrc32Portable(std::uint32_t value, const void* data, std::size_t count) {
  return updateSliced(value, static_cast<const unsigned char*>(data), count);
}

}  // namespace plimsy
