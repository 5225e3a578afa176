#include "ShortReadSource.h"

#include <algorithm>

size_t TShortReadSource::NextLength() {
  State ^= State << 13; // xorshift: any repeatable spread of lengths will do
  State ^= State >> 17;
  State ^= State << 5;
  return 1 + State % Longest;
}

size_t TShortReadSource::Read(uint8_t *dst, size_t count) {
  size_t n = Inner.Read(dst, std::min(count, NextLength()));
  Taken += n;
  return n;
}

uint64_t TShortReadSource::Skip(uint64_t count) {
  uint64_t passed = 0;
  while (passed < count) {
    uint64_t piece = std::min<uint64_t>(count - passed, NextLength() * 4096);
    uint64_t n = Inner.Skip(piece);
    passed += n;
    if (n < piece)
      break;
  }
  return passed;
}
