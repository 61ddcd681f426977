// CRC-32 over buffers. The decoders run it once per 32 KiB output chunk, so it is
// the one place where the byte-at-a-time table would cost real time: slicing by
// eight tables handles any machine, and carry-less multiplication folds 64 bytes
// per step on x86 processors that have it. All paths give the values of CrcStep.

#include "unzip/decode/crc32.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KESTREL_CRC_CLMUL 1
#endif

namespace kestrel {
namespace {

using TSliceTables = std::array<std::array<std::uint32_t, 256>, 8>;

// Table k gives the change of a byte followed by k zero bytes.
constexpr TSliceTables MakeSliceTables() {
  TSliceTables t{};
  t[0] = CrcTable;
  for (int k = 1; k < 8; ++k)
    for (int n = 0; n < 256; ++n) t[k][n] = (t[k - 1][n] >> 8) ^ CrcTable[t[k - 1][n] & 0xFF];
  return t;
}
constexpr TSliceTables SliceTables = MakeSliceTables();
static_assert(SliceTables[0][1] == 0x77073096u);

std::uint32_t Load32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint32_t UpdateCrcSliced(std::uint32_t crc, const unsigned char* p, std::size_t length) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto& t = SliceTables;
    while (length >= 8) {
      const std::uint32_t lo = Load32(p) ^ crc;
      const std::uint32_t hi = Load32(p + 4);
      crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
      p += 8;
      length -= 8;
    }
  }
  while (length-- > 0) crc = CrcStep(crc, *p++);
  return crc;
}

#ifdef KESTREL_CRC_CLMUL
// Folds a whole number of 16-byte blocks, at least 64 bytes, with the constants
// of the reflected polynomial: x^(4*128+32), x^(4*128-32) for the four-lane fold,
// x^(128+32), x^(128-32) for the single fold, x^64 for the 64-bit step, and the
// Barrett pair (the polynomial and its quotient) for the final reduction.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t UpdateCrcFolded(std::uint32_t crc,
                                                                         const unsigned char* buf,
                                                                         std::size_t length) {
  alignas(16) static constexpr std::uint64_t k1k2[] = {0x0154442bd4, 0x01c6e41596};
  alignas(16) static constexpr std::uint64_t k3k4[] = {0x01751997d0, 0x00ccaa009e};
  alignas(16) static constexpr std::uint64_t k5k0[] = {0x0163cd6124, 0x0000000000};
  alignas(16) static constexpr std::uint64_t poly[] = {0x01db710641, 0x01f7011641};

  __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8, y5, y6, y7, y8;
  x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  length -= 64;

  while (length >= 64) {
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    y5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    y6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    y7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
    buf += 64;
    length -= 64;
  }

  // Four lanes into one.
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
  x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
  x1 = _mm_xor_si128(_mm_xor_si128(x1, x3), x5);
  x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
  x1 = _mm_xor_si128(_mm_xor_si128(x1, x4), x5);

  while (length >= 16) {
    x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
    x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
    buf += 16;
    length -= 16;
  }

  // 128 bits to 64, then the Barrett reduction to 32.
  x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
  x3 = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_srli_si128(x1, 8);
  x1 = _mm_xor_si128(x1, x2);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, x3);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2 = _mm_and_si128(x1, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
  x2 = _mm_and_si128(x2, x3);
  x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HaveCarrylessMultiply() {
  // Asked once per call: the answer is cached by the compiler's runtime, and the
  // decoders call this once per 32 KiB.
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}
#endif

}  // namespace

std::uint32_t UpdateCrc(std::uint32_t crc, const void* buffer, std::size_t length) {
  auto p = static_cast<const unsigned char*>(buffer);
#ifdef KESTREL_CRC_CLMUL
  if (length >= 64 && HaveCarrylessMultiply()) {
    const std::size_t folded = length & ~static_cast<std::size_t>(15);
    crc = UpdateCrcFolded(crc, p, folded);
    p += folded;
    length -= folded;
  }
#endif
  return UpdateCrcSliced(crc, p, length);
}

}  // namespace kestrel
