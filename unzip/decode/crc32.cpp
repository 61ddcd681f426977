// CRC-32 over buffers. The decoders run it once per 32 KiB output chunk, so it is
// the one place where the byte-at-a-time table would cost real time: slicing by
// eight tables handles any machine, and on x86 processors with carry-less
// multiplication the bulk of a buffer is folded 64 bytes per step, 128 where the
// processor multiplies 256-bit registers and 256 where it multiplies 512-bit ones.
// All paths give the values of CrcStep.

#include "unzip/decode/crc32.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KESTREL_CRC_CLMUL 1
// GCC for 64-bit Windows may spill 256- and 512-bit registers with aligned moves to
// a stack that is only 16-byte aligned there: the wide paths are left to the other
// systems.
#ifndef _WIN32
#define KESTREL_CRC_WIDE 1
#endif
#endif

namespace kestrel {
namespace {

using TSliceTables = std::array<std::array<std::uint32_t, 256>, 8>;

// Table k gives the register change of a byte followed by k zero bytes: the
// change of the byte alone, run on through k empty steps.
constexpr TSliceTables MakeSliceTables() {
  TSliceTables t{};
  t[0] = CrcTable;
  for (int k = 1; k < 8; ++k)
    for (int n = 0; n < 256; ++n) t[k][n] = CrcStep(t[k - 1][n], 0);
  return t;
}
constexpr TSliceTables SliceTables = MakeSliceTables();
static_assert(SliceTables[0][1] == 0x77073096u);
static_assert(SliceTables[1][1] == CrcStep(CrcStep(0, 1), 0));

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

#ifdef KESTREL_CRC_CLMUL
// Folding, worked out from the polynomial arithmetic.
//
// The CRC of a message M with register R is (R x^|M| + M x^32) mod P. Putting R
// into the message's first 32 bits gives the same value with a zero register, so
// only M(x) x^32 mod P is left, and every part of M may be replaced by anything
// congruent to it mod P. A 16-byte block B at distance d bits before the point
// the message has reached can thus be carried forward: B x^d is congruent to a
// product of under 128 bits, which is XORed onto the block that lies there.
//
// Registers hold the reflected bit order of the CRC: bit 0 of byte 0 is the first
// message bit, the highest power. A 64-bit lane u stands for sum u_i x^(63-i), a
// 128-bit register v for sum v_i x^(127-i): its low lane (the first eight bytes)
// carries the upper half, lo x^64 + hi. Carry-less multiplication of two lanes
// gives, read as a 128-bit register, x times their product (the 127 bits of the
// product end one place short of the register's last bit). Hence, with
// c(n) = x^n mod P placed in a lane,
//   B x^d = lo x^(d+64) + hi x^d  ==  x lo c(d+63) + x hi c(d-1)  (mod P),
// two multiplications with constants computed below from the polynomial alone.
// The last block is not reduced here: a register congruent to what the message
// has left is itself a message of 16 bytes, and its CRC with a zero register is
// the answer, which the byte tables give.

// x^n mod P for the CRC's polynomial x^32 + 0x04C11DB7 (normal bit order: bit j
// is the coefficient of x^j).
constexpr std::uint32_t PowerOfXModP(unsigned n) {
  std::uint64_t r = 1;
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (std::uint64_t{1} << 32)) r ^= 0x104C11DB7u;
  }
  return static_cast<std::uint32_t>(r);
}

// A polynomial of degree below 32 as a lane: x^j goes to bit 63 - j.
constexpr std::uint64_t Lane(std::uint32_t poly) {
  std::uint64_t lane = 0;
  for (unsigned j = 0; j < 32; ++j)
    if (poly & (std::uint32_t{1} << j)) lane |= std::uint64_t{1} << (63 - j);
  return lane;
}

// The constant pair that carries a block d bits forward: low lane for the block's
// first eight bytes, high lane for its last eight.
struct TFoldConstants {
  std::uint64_t First, Last;
};
constexpr TFoldConstants FoldBy(unsigned d) { return {Lane(PowerOfXModP(d + 63)), Lane(PowerOfXModP(d - 1))}; }

constexpr TFoldConstants FoldBy512 = FoldBy(512);  // four blocks on, for the four running lanes
constexpr TFoldConstants FoldBy128 = FoldBy(128);  // one block on
// The reflected polynomial itself is x^32 mod P; its lane must be the table's
// entry 128 (0xEDB88320) moved to the lane's upper half.
static_assert(Lane(PowerOfXModP(32)) == std::uint64_t{0xEDB88320u} << 32);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i block, __m128i constants) {
  return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00), _mm_clmulepi64_si128(block, constants, 0x11));
}

__attribute__((target("pclmul,sse2"))) inline __m128i Constants(TFoldConstants k) {
  return _mm_set_epi64x(static_cast<long long>(k.Last), static_cast<long long>(k.First));
}

__attribute__((target("pclmul,sse2"))) inline __m128i LoadBlock(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The end of every folding path: count running blocks that stand one after the
// other, then the 16-byte blocks of the length left, into one block, whose CRC
// with a zero register the byte tables give.
__attribute__((target("pclmul,sse2"))) std::uint32_t FinishFolding(const __m128i* lane, int count,
                                                                   const unsigned char* p, std::size_t length) {
  const __m128i by128 = Constants(FoldBy128);
  __m128i folded = lane[0];
  for (int i = 1; i < count; ++i) folded = _mm_xor_si128(Fold(folded, by128), lane[i]);
  for (; length >= 16; p += 16, length -= 16) folded = _mm_xor_si128(Fold(folded, by128), LoadBlock(p));

  unsigned char rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), folded);
  return UpdateCrcSliced(0, rest, 16);
}

// length: a multiple of 16, at least 64.
__attribute__((target("pclmul,sse2"))) std::uint32_t UpdateCrcFolded(std::uint32_t crc, const unsigned char* p,
                                                                     std::size_t length) {
  // Four running lanes over consecutive blocks hide the multiplier's latency.
  __m128i lane[4];
  for (int i = 0; i < 4; ++i) lane[i] = LoadBlock(p + 16 * i);
  lane[0] = _mm_xor_si128(lane[0], _mm_cvtsi32_si128(static_cast<int>(crc)));
  p += 64;
  length -= 64;
  const __m128i by512 = Constants(FoldBy512);
  for (; length >= 64; p += 64, length -= 64)
    for (int i = 0; i < 4; ++i) lane[i] = _mm_xor_si128(Fold(lane[i], by512), LoadBlock(p + 16 * i));

  return FinishFolding(lane, 4, p, length);
}

bool HaveCarrylessMultiply() {
  // The compiler's runtime caches the processor's answer; the decoders ask once
  // per 32 KiB.
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

#ifdef KESTREL_CRC_WIDE
// The same folding on processors that multiply four lane pairs at once
// (VPCLMULQDQ with AVX-512): each 512-bit register holds four consecutive blocks,
// four registers run over 256 bytes a step, and their blocks are carried 2,048
// bits on. The registers are then folded into one, 512 bits at a time, and its
// four blocks into one as above. length: a multiple of 16, at least 256.
#define KESTREL_CRC_WIDE_TARGET "vpclmulqdq,avx512f,pclmul,sse2"
__attribute__((target(KESTREL_CRC_WIDE_TARGET))) inline __m512i FoldWide(__m512i blocks, __m512i constants) {
  return _mm512_xor_si512(_mm512_clmulepi64_epi128(blocks, constants, 0x00),
                          _mm512_clmulepi64_epi128(blocks, constants, 0x11));
}

__attribute__((target(KESTREL_CRC_WIDE_TARGET))) inline __m512i WideConstants(TFoldConstants k) {
  const auto first = static_cast<long long>(k.First), last = static_cast<long long>(k.Last);
  return _mm512_set_epi64(last, first, last, first, last, first, last, first);
}

__attribute__((target(KESTREL_CRC_WIDE_TARGET))) inline __m512i LoadWide(const unsigned char* p) {
  return _mm512_loadu_si512(p);
}

constexpr TFoldConstants FoldBy2048 = FoldBy(2048);  // four registers on

__attribute__((target(KESTREL_CRC_WIDE_TARGET))) std::uint32_t UpdateCrcFoldedWide(std::uint32_t crc,
                                                                                   const unsigned char* p,
                                                                                   std::size_t length) {
  __m512i reg[4];
  for (int i = 0; i < 4; ++i) reg[i] = LoadWide(p + 64 * i);
  reg[0] = _mm512_xor_si512(reg[0], _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
  p += 256;
  length -= 256;
  const __m512i by2048 = WideConstants(FoldBy2048);
  for (; length >= 256; p += 256, length -= 256)
    for (int i = 0; i < 4; ++i) reg[i] = _mm512_xor_si512(FoldWide(reg[i], by2048), LoadWide(p + 64 * i));

  const __m512i by512 = WideConstants(FoldBy512);
  __m512i wide = reg[0];
  for (int i = 1; i < 4; ++i) wide = _mm512_xor_si512(FoldWide(wide, by512), reg[i]);
  for (; length >= 64; p += 64, length -= 64) wide = _mm512_xor_si512(FoldWide(wide, by512), LoadWide(p));

  unsigned char blocks[64];
  _mm512_storeu_si512(blocks, wide);
  __m128i lane[4];
  for (int i = 0; i < 4; ++i) lane[i] = LoadBlock(blocks + 16 * i);
  return FinishFolding(lane, 4, p, length);
}

bool HaveWideCarrylessMultiply() {
  return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f") && HaveCarrylessMultiply();
}

// The same with 256-bit registers (VPCLMULQDQ with AVX2, on processors without
// AVX-512): two blocks a register, four registers over 128 bytes a step, carried
// 1,024 bits on. length: a multiple of 16, at least 128.
#define KESTREL_CRC_HALF_TARGET "vpclmulqdq,avx2,pclmul,sse2"
__attribute__((target(KESTREL_CRC_HALF_TARGET))) inline __m256i FoldHalf(__m256i blocks, __m256i constants) {
  return _mm256_xor_si256(_mm256_clmulepi64_epi128(blocks, constants, 0x00),
                          _mm256_clmulepi64_epi128(blocks, constants, 0x11));
}

__attribute__((target(KESTREL_CRC_HALF_TARGET))) inline __m256i HalfConstants(TFoldConstants k) {
  const auto first = static_cast<long long>(k.First), last = static_cast<long long>(k.Last);
  return _mm256_set_epi64x(last, first, last, first);
}

__attribute__((target(KESTREL_CRC_HALF_TARGET))) inline __m256i LoadHalf(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

constexpr TFoldConstants FoldBy1024 = FoldBy(1024);  // four registers on
constexpr TFoldConstants FoldBy256 = FoldBy(256);    // one register on

__attribute__((target(KESTREL_CRC_HALF_TARGET))) std::uint32_t UpdateCrcFoldedHalf(std::uint32_t crc,
                                                                                   const unsigned char* p,
                                                                                   std::size_t length) {
  __m256i reg[4];
  for (int i = 0; i < 4; ++i) reg[i] = LoadHalf(p + 32 * i);
  reg[0] = _mm256_xor_si256(reg[0], _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc))));
  p += 128;
  length -= 128;
  const __m256i by1024 = HalfConstants(FoldBy1024);
  for (; length >= 128; p += 128, length -= 128)
    for (int i = 0; i < 4; ++i) reg[i] = _mm256_xor_si256(FoldHalf(reg[i], by1024), LoadHalf(p + 32 * i));

  const __m256i by256 = HalfConstants(FoldBy256);
  __m256i half = reg[0];
  for (int i = 1; i < 4; ++i) half = _mm256_xor_si256(FoldHalf(half, by256), reg[i]);
  for (; length >= 32; p += 32, length -= 32) half = _mm256_xor_si256(FoldHalf(half, by256), LoadHalf(p));

  const __m128i lane[2] = {_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1)};
  return FinishFolding(lane, 2, p, length);
}

bool HaveHalfCarrylessMultiply() {
  return __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx2") && HaveCarrylessMultiply();
}
#endif
#endif

}  // namespace

std::uint32_t UpdateCrcSliced(std::uint32_t crc, const void* buffer, std::size_t length) {
  auto p = static_cast<const unsigned char*>(buffer);
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time: the register joins the first four, and every byte of
    // the word then changes the register independently of the others, by the
    // table of the number of bytes that follow it in the word.
    for (; length >= 8; p += 8, length -= 8) {
      const std::uint64_t word = Load64(p) ^ crc;
      std::uint32_t next = 0;
      for (int k = 0; k < 8; ++k) next ^= SliceTables[7 - k][(word >> (8 * k)) & 0xFF];
      crc = next;
    }
  }
  while (length-- > 0) crc = CrcStep(crc, *p++);
  return crc;
}

std::uint32_t UpdateCrc(std::uint32_t crc, const void* buffer, std::size_t length) {
  auto p = static_cast<const unsigned char*>(buffer);
#ifdef KESTREL_CRC_CLMUL
#ifdef KESTREL_CRC_WIDE
  if (length >= 256 && HaveWideCarrylessMultiply()) {
    const std::size_t folded = length & ~static_cast<std::size_t>(15);
    crc = UpdateCrcFoldedWide(crc, p, folded);
    p += folded;
    length -= folded;
  }
  if (length >= 128 && HaveHalfCarrylessMultiply()) {
    const std::size_t folded = length & ~static_cast<std::size_t>(15);
    crc = UpdateCrcFoldedHalf(crc, p, folded);
    p += folded;
    length -= folded;
  }
#endif
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
