// How both PNG readers turn a row into 8-bit RGB, so that every platform
// gives the same bytes: 16-bit values scale as v x 255 / 65535, rounded, and
// alpha is flattened onto white in the picture's own values (no gamma).
#pragma once

#include <cstdint>

// One 8-bit channel `v` of alpha `a`, onto white.
inline uint8_t OnWhite8(unsigned v, unsigned a) {
  return static_cast<uint8_t>((v * a + 255 * (255 - a) + 127) / 255);
}

// One 16-bit channel `v` of alpha `a`, onto white, as 8 bits: worked out in
// units of 65535 x 65535, then rounded once.
inline uint8_t OnWhite16(uint32_t v, uint32_t a) {
  const uint64_t one = 65535ull * 65535;
  const uint64_t x = uint64_t(v) * a + 65535ull * (65535 - a);
  return static_cast<uint8_t>((x * 255 + one / 2) / one);
}

// One row of `channels` a pixel (1 grey, 3 colour, 4 colour and alpha) of 8
// bits, or of 16 bits little-endian, as 8-bit RGB; `bgr` when the colour is
// stored blue first.
inline void FlattenRow(const uint8_t *in, uint32_t width, int depth, int channels, bool bgr,
                       uint8_t *out) {
  const bool deep = depth == 16;
  const auto at = [&in, deep](int c) -> uint32_t {
    return deep ? in[2 * c] | in[2 * c + 1] << 8 : in[c];
  };
  for (uint32_t x = 0; x < width; ++x, in += (deep ? 2 : 1) * channels, out += 3) {
    const uint32_t a = channels == 4 ? at(3) : deep ? 65535 : 255;
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = at(channels == 1 ? 0 : bgr ? 2 - c : c);
      out[c] = deep ? OnWhite16(v, a) : OnWhite8(v, a);
    }
  }
}
