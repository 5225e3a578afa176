// How both PNG readers turn a pixel into 8-bit RGB, so that every platform
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
