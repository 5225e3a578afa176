// Another source's bytes in reads of 1 to `longest` bytes, their lengths a
// repeatable sequence from `seed`, and skips in pieces: the decoder must give
// the same result however its reads are cut. For the tests and fuzzers only.
#pragma once

#include "ByteSource.h"

class TShortReadSource : public TByteSource {
public:
  TShortReadSource(TByteSource &inner, uint32_t seed, size_t longest)
      : Inner(inner), State(seed | 1), Longest(longest ? longest : 1) {}

  size_t Read(uint8_t *dst, size_t count) override;
  uint64_t Skip(uint64_t count) override;

private:
  size_t NextLength();

  TByteSource &Inner;
  uint32_t State;
  size_t Longest;
};
