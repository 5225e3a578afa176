// The row converters of the decoder: one stored pixel, or a span of them, to
// delivered bytes, for each kind of stored pixel the header lets through, and
// the one place that picks the converter for a file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace row_converters {

// Widens a 5-bit channel to 8 bits: entry i is i * 255 / 31, rounded.
inline constexpr uint8_t ExpandFive[32] = {0,   8,   16,  25,  33,  41,  49,  58,  66,  74,  82,
                                           90,  99,  107, 115, 123, 132, 140, 148, 156, 165, 173,
                                           181, 189, 197, 206, 214, 222, 230, 239, 247, 255};

// The rest have internal linkage, as in a file of their own: the decoder's
// loops instantiated over them are the decoder's alone, and the compiler may
// fold each one into its only caller.
namespace {

// Four pixels at a time as 32-bit words, where words are little-endian.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kWordsLittleEndian = true;
#else
constexpr bool kWordsLittleEndian = false;
#endif
inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

#if defined(__SSE2__)
// Sixteen 4-byte pixels at a time in SSE2 registers (every x86 processor a
// supported Windows runs on has them): measured faster than what the
// compiler makes of the word loop. The sixteen stored pixels are loaded
// before their 48 delivered bytes are stored, so that the in-place widening
// of ReadBands stays safe.
inline __m128i Load128(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void Store128(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

// Four 4-byte pixels to their first three bytes each, in bytes 0 to 11.
inline __m128i DropFourthBytes(__m128i x) {
  const __m128i low = _mm_set1_epi64x(0x0000000000FFFFFF), high = _mm_set1_epi64x(0x0000FFFFFF000000);
  const __m128i lane0 = _mm_set_epi64x(0, -1);
  __m128i six = _mm_or_si128(_mm_and_si128(x, low), _mm_and_si128(_mm_srli_epi64(x, 8), high));
  return _mm_or_si128(_mm_and_si128(six, lane0), _mm_srli_si128(_mm_andnot_si128(lane0, six), 2));
}
#endif

// Row converters: one stored pixel of In bytes to Out delivered bytes
// (One), or n pixels in a row (Many). Where a pixel widens to 3 bytes, Many
// stores 4 and lets the next pixel overwrite the fourth; the last pixel of a
// span is stored exactly, so nothing is written past the span. Most loops are
// plain word operations, which the compiler turns into SSE2 code where the
// target has it.
struct IndexedConv {
  static constexpr int In = 1, Out = 1;
  static constexpr bool Copy = true;
  static void One(const uint8_t *s, uint8_t *d) { d[0] = s[0]; }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) { std::memcpy(d, s, static_cast<size_t>(n)); }
};

struct GreyConv {
  static constexpr int In = 1, Out = 3;
  static constexpr bool Copy = false;
  static void One(const uint8_t *s, uint8_t *d) { d[0] = d[1] = d[2] = s[0]; }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) {
    if (kWordsLittleEndian) {
      for (; n >= 4; n -= 4, s += 4, d += 12) { // g0 g1 g2 g3 -> g0g0g0g1 g1g1g2g2 g2g3g3g3
        uint32_t g = Load32(s);
        uint32_t g0 = g & 0xFF, g1 = (g >> 8) & 0xFF, g2 = (g >> 16) & 0xFF, g3 = g >> 24;
        Store32(d, g0 * 0x010101u | g1 << 24);
        Store32(d + 4, g1 * 0x0101u | g2 * 0x01010000u);
        Store32(d + 8, g2 | g3 * 0x01010100u);
      }
    }
    for (int32_t i = 0; i + 1 < n; ++i, d += 3) {
      uint32_t v = s[i] * 0x01010101u;
      std::memcpy(d, &v, 4);
    }
    if (n > 0)
      One(s + n - 1, d);
  }
};

// 16-bit pixels widened through one look-up per pixel: entry v holds the
// blue, green and red bytes of the 15 colour bits of v.
struct Wide16Table {
  uint8_t bgr[32768][4];
  Wide16Table() {
    for (unsigned v = 0; v < 32768; ++v) {
      bgr[v][0] = ExpandFive[v & 31];
      bgr[v][1] = ExpandFive[(v >> 5) & 31];
      bgr[v][2] = ExpandFive[(v >> 10) & 31];
      bgr[v][3] = 0;
    }
  }
};
inline const Wide16Table &Wide16() {
  static const Wide16Table table;
  return table;
}
struct High16Conv {
  static constexpr int In = 2, Out = 3;
  static constexpr bool Copy = false;
  // Bit 15 carries no colour.
  static void One(const uint8_t *s, uint8_t *d) {
    unsigned v = s[0] | (s[1] << 8);
    d[0] = ExpandFive[v & 31];
    d[1] = ExpandFive[(v >> 5) & 31];
    d[2] = ExpandFive[(v >> 10) & 31];
  }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) {
    const Wide16Table &t = Wide16();
    for (int32_t i = 0; i + 1 < n; ++i, s += 2, d += 3)
      std::memcpy(d, t.bgr[(s[0] | (s[1] << 8)) & 0x7FFF], 4);
    if (n > 0)
      One(s, d);
  }
};

struct Bgr24Conv {
  static constexpr int In = 3, Out = 3;
  static constexpr bool Copy = true;
  static void One(const uint8_t *s, uint8_t *d) { std::memcpy(d, s, 3); }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) { std::memcpy(d, s, 3 * static_cast<size_t>(n)); }
};

struct Bgra32Conv {
  static constexpr int In = 4, Out = 3;
  static constexpr bool Copy = false;
  // The fourth byte (alpha or attribute) is dropped.
  static void One(const uint8_t *s, uint8_t *d) { std::memcpy(d, s, 3); }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) {
#if defined(__SSE2__)
    for (; n >= 16; n -= 16, s += 64, d += 48) {
      __m128i a = DropFourthBytes(Load128(s)), b = DropFourthBytes(Load128(s + 16));
      __m128i c = DropFourthBytes(Load128(s + 32)), e = DropFourthBytes(Load128(s + 48));
      Store128(d, _mm_or_si128(a, _mm_slli_si128(b, 12)));
      Store128(d + 16, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
      Store128(d + 32, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
    }
#endif
    if (kWordsLittleEndian) {
      for (; n >= 4; n -= 4, s += 16, d += 12) { // BGRA x4 -> BGR x4 in three words
        uint32_t p0 = Load32(s), p1 = Load32(s + 4), p2 = Load32(s + 8), p3 = Load32(s + 12);
        Store32(d, (p0 & 0xFFFFFFu) | p1 << 24);
        Store32(d + 4, ((p1 >> 8) & 0xFFFFu) | p2 << 16);
        Store32(d + 8, ((p2 >> 16) & 0xFFu) | p3 << 8);
      }
    }
    for (int32_t i = 0; i + 1 < n; ++i, s += 4, d += 3)
      std::memcpy(d, s, 4);
    if (n > 0)
      One(s, d);
  }
};

// Calls `convert` with the converter for stored pixels of `pixelBits`, an
// object of its type. A header that passed its checks leaves four depths:
// 8-bit pixels that are not palette indices are grey levels, and 24 and 32
// bits are true colour with and without a fourth byte.
template <class F> decltype(auto) WithRowConverter(int32_t pixelBits, bool indexed, F &&convert) {
  if (pixelBits == 8)
    return indexed ? convert(IndexedConv{}) : convert(GreyConv{});
  if (pixelBits == 16)
    return convert(High16Conv{});
  if (pixelBits == 24)
    return convert(Bgr24Conv{});
  return convert(Bgra32Conv{});
}

// Many() for a source and destination known not to overlap: the compiler
// may then turn the loops into vector code (SSE2 on x86).
template <class Conv> void ManyApart(const uint8_t *__restrict s, uint8_t *__restrict d, int32_t n) {
  Conv::Many(s, d, n);
}

// `count` copies of one delivered pixel.
template <class Conv> void FillPixels(uint8_t *d, const uint8_t *value, int32_t count) {
  if (Conv::Out == 1) {
    std::memset(d, value[0], static_cast<size_t>(count));
    return;
  }
  if (count <= 8) { // short runs are the common case in photographs
    for (int32_t i = 0; i < count; ++i, d += Conv::Out)
      std::memcpy(d, value, Conv::Out);
    return;
  }
  std::memcpy(d, value, Conv::Out);
  size_t done = Conv::Out, total = static_cast<size_t>(count) * Conv::Out;
  while (done < total) { // doubling copies
    size_t n = std::min(done, total - done);
    std::memcpy(d + done, d, n);
    done += n;
  }
}

// `count` copies of a 3-byte pixel at d, in fixed-size stores of a repeating
// pattern rather than calls of the library's copy (slow for short runs in the
// 32-bit build). Up to `room` bytes from d may be written (at least the
// 3 × count filled): bytes past the last copy are left for the pixels after it
// to overwrite. Near the end of the room the copies are exact.
inline void FillThree(uint8_t *d, const uint8_t *value, int32_t count, size_t room) {
  const uint64_t v = value[0] | static_cast<uint64_t>(value[1]) << 8 | static_cast<uint64_t>(value[2]) << 16;
  const uint64_t w0 = v | v << 24 | v << 48;             // bytes 0-7: the pattern from a pixel's first byte
  const uint64_t w1 = v >> 16 | v << 8 | v << 32 | v << 56; // bytes 8-15: from a pixel's third byte
  size_t at = 0;
  const size_t bytes = static_cast<size_t>(count) * 3;
  if (bytes >= 48) { // 48 bytes: sixteen pixels in three 16-byte stores
    uint8_t pattern[64];
    for (size_t j = 0; j < 64 - 15; j += 15) {
      std::memcpy(pattern + j, &w0, 8);
      std::memcpy(pattern + j + 8, &w1, 8);
    }
    for (; at + 48 <= bytes; at += 48)
      std::memcpy(d + at, pattern, 48);
    if (at == bytes)
      return;
  }
  // The rest, five pixels per 16-byte store.
  const size_t stores = (bytes - at + 14) / 15;
  if (room - at >= stores * 15 + 1) {
    for (size_t j = 0; j < stores; ++j, at += 15) {
      std::memcpy(d + at, &w0, 8);
      std::memcpy(d + at + 8, &w1, 8);
    }
    return;
  }
  for (; at < bytes; at += 3)
    std::memcpy(d + at, value, 3);
}

// `bytes` bytes from s to d in 16-byte copies, where `room` bytes from d may
// be written and s has the bytes up to the next multiple of 16; bytes past
// the copy are left for what comes after it to overwrite.
inline void CopyWithSlack(uint8_t *d, const uint8_t *s, size_t bytes, size_t room) {
  const size_t rounded = (bytes + 15) & ~size_t(15);
  if (room < rounded) {
    std::memcpy(d, s, bytes);
    return;
  }
  for (size_t at = 0; at < rounded; at += 16)
    std::memcpy(d + at, s + at, 16);
}

} // namespace
} // namespace row_converters
