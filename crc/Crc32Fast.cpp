#include "crc/Crc32Fast.h"

#include "crc/Crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VORNEL_CRC_X86 1
#endif

namespace vornel {

namespace {

using SlicingTables = std::array<std::array<std::uint32_t, 256>, 8>;

// Table k gives the register contribution of a byte that is followed by k more bytes.
SlicingTables BuildSlicingTables() {
  SlicingTables tables{};
  tables[0] = Crc32Table();
  for (std::size_t i = 0; i < 256; ++i)
    for (std::size_t k = 1; k < 8; ++k)
      tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
  return tables;
}

const SlicingTables& Slicing() {
  static const SlicingTables tables = BuildSlicingTables();
  return tables;
}

std::uint32_t LoadLittle32(const unsigned char* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

} // namespace

std::uint32_t Crc32UpdateTable(std::uint32_t reg, const unsigned char* bytes, std::size_t length) {
  const auto& table = Crc32Table();
  for (std::size_t i = 0; i < length; ++i)
    reg = table[(reg ^ bytes[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

std::uint32_t Crc32UpdateSlicing8(std::uint32_t reg, const unsigned char* bytes,
                                  std::size_t length) {
  const auto& t = Slicing();
  while (length >= 8) {
    std::uint32_t low = LoadLittle32(bytes) ^ reg;
    std::uint32_t high = LoadLittle32(bytes + 4);
    reg = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^
          t[0][high >> 24];
    bytes += 8;
    length -= 8;
  }
  return Crc32UpdateTable(reg, bytes, length);
}

#ifdef VORNEL_CRC_X86

bool Crc32HaveClmul() {
  static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return have;
}

namespace {

#define VORNEL_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

VORNEL_CLMUL_TARGET inline __m128i Load128(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x * k (both 64-bit halves, carry-less), folded onto the next 128 bits.
VORNEL_CLMUL_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// Folds 64-byte blocks with carry-less multiplication, then reduces to 32 bits (Barrett).
// length must be at least 64 and a multiple of 16. Constants are powers of x modulo the
// reflected polynomial.
VORNEL_CLMUL_TARGET std::uint32_t FoldClmul(std::uint32_t reg, const unsigned char* buf,
                                            std::size_t length) {
  alignas(16) static const std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static const std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static const std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static const std::uint64_t poly[] = {0x01db710641, 0x01f7011641};

  __m128i x1 = _mm_xor_si128(Load128(buf), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x2 = Load128(buf + 16);
  __m128i x3 = Load128(buf + 32);
  __m128i x4 = Load128(buf + 48);
  buf += 64;
  length -= 64;

  __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  while (length >= 64) {
    x1 = Fold(x1, k, Load128(buf));
    x2 = Fold(x2, k, Load128(buf + 16));
    x3 = Fold(x3, k, Load128(buf + 32));
    x4 = Fold(x4, k, Load128(buf + 48));
    buf += 64;
    length -= 64;
  }

  k = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x1 = Fold(x1, k, x2);
  x1 = Fold(x1, k, x3);
  x1 = Fold(x1, k, x4);
  while (length >= 16) {
    x1 = Fold(x1, k, Load128(buf));
    buf += 16;
    length -= 16;
  }

  // 128 bits down to 64.
  __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i t = _mm_clmulepi64_si128(x1, k, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
  k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  t = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x00), t);

  // Barrett reduction to 32 bits.
  k = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), k, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

} // namespace

std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const unsigned char* bytes, std::size_t length) {
  if (length >= 64) {
    std::size_t folded = length & ~std::size_t{15};
    reg = FoldClmul(reg, bytes, folded);
    bytes += folded;
    length -= folded;
  }
  return Crc32UpdateSlicing8(reg, bytes, length);
}

#else

bool Crc32HaveClmul() {
  return false;
}
std::uint32_t Crc32UpdateClmul(std::uint32_t reg, const unsigned char* bytes, std::size_t length) {
  return Crc32UpdateSlicing8(reg, bytes, length);
}

#endif

std::uint32_t Crc32UpdateFast(std::uint32_t reg, const unsigned char* bytes, std::size_t length) {
  static const bool clmul = Crc32HaveClmul();
  return clmul ? Crc32UpdateClmul(reg, bytes, length) : Crc32UpdateSlicing8(reg, bytes, length);
}

} // namespace vornel
