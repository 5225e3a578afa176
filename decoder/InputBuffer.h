// The decoder's one buffer over its byte source: bytes are taken singly or a
// block at a time, and gaps are passed over, by the source where it can
// seek. It counts what it has consumed, so a run knows where reading stopped
// whatever the source.
#pragma once

#include "ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TInputBuffer {
public:
  // A gap larger than this is passed over by the source (a seek in a regular
  // file) rather than read.
  static constexpr int32_t Size = 16384;
  // What every byte past the end of the data reads as, on every path: a
  // pixel byte, a colour-map byte or a packet header (a run of 128).
  static constexpr uint8_t MissingByte = 0xFF;
  // Run-length data is walked from its start to its last delivered pixel,
  // previews too: its refills take up to this many bytes, in a buffer of
  // their own, so that the system is asked a quarter as often (under Wine a
  // read costs about as much again as the copy of 16 KiB).
  static constexpr int32_t StreamSize = 65536;

  TInputBuffer() = default;
  TInputBuffer(const TInputBuffer &) = delete;
  TInputBuffer &operator=(const TInputBuffer &) = delete;

  // A new run over `source`, nothing consumed yet. Without a source every
  // read finds the end.
  void Start(TByteSource *source);

  // The next byte; MissingByte at the end of the data.
  uint8_t ReadByte() {
    if (Pos == End && !Refill())
      return MissingByte;
    return *Pos++;
  }
  // Up to `count` bytes into `buffer`; how many there were.
  int32_t ReadBytes(uint8_t *buffer, int32_t count);
  // `count` bytes into dst; bytes past the end of the data are MissingByte. Long
  // reads go straight from the source into dst.
  void ReadBlock(uint8_t *dst, size_t count);
  // Passes over `count` bytes. A gap larger than Size goes to the source,
  // which seeks over it where it can; a shorter one is read through, with
  // `want` bytes more for what comes after it.
  void Discard(int64_t count, size_t want = SIZE_MAX);
  // Empties the buffer and asks the source for up to `want` bytes (at least
  // one, at most what the buffer holds); false at the end of the data, which
  // is then never asked again.
  bool Refill(size_t want = SIZE_MAX);
  // From here on the data is read whole: refills take up to StreamSize bytes
  // (Size where that buffer cannot be had). The bytes in hand move along.
  // Once after Start, at most.
  void ReadWhole();

  // The bytes in the buffer not yet taken, for loops that take them in place.
  const uint8_t *Next() const { return Pos; }
  ptrdiff_t Available() const { return End - Pos; }
  void Advance(ptrdiff_t n) { Pos += n; }

  // The data has no more bytes.
  bool Ended() const { return StreamEnded; }
  // Bytes of the data consumed or passed over since Start.
  int64_t BytesConsumed() const { return Consumed + (Pos - Base); }

private:
  TByteSource *Source = nullptr;
  uint8_t *Base = Data;     // the buffer in use: Data, or Whole's
  size_t Capacity = Size;
  uint8_t *Pos = Data;
  uint8_t *End = Data;
  int64_t Consumed = 0;     // bytes consumed or passed over before the buffer's contents
  bool StreamEnded = false; // the data has no more bytes; stop asking
  std::unique_ptr<uint8_t[]> Whole; // StreamSize bytes, once the data is read whole
  uint8_t Data[Size];
};
