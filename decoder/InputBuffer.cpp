#include "InputBuffer.h"

#include "Allocation.h"

#include <algorithm>
#include <cstring>
#include <new>

void TInputBuffer::Start(TByteSource *source) {
  Source = source;
  Base = Pos = End = Data;
  Capacity = Size;
  Consumed = 0;
  StreamEnded = source == nullptr;
}

void TInputBuffer::ReadWhole() {
  if (!Whole)
    Whole.reset(allocation::NewBytes(StreamSize));
  if (!Whole)
    return; // the smaller buffer reads the same bytes
  const size_t held = static_cast<size_t>(End - Pos);
  Consumed += Pos - Data;
  std::memcpy(Whole.get(), Pos, held);
  Base = Pos = Whole.get();
  End = Pos + held;
  Capacity = StreamSize;
}

bool TInputBuffer::Refill(size_t want) {
  if (StreamEnded)
    return false;
  Consumed += End - Base;
  Pos = End = Base;
  size_t n = Source->Read(Base, std::min<size_t>(std::max<size_t>(want, 1), Capacity));
  End = Base + n;
  if (n == 0) {
    StreamEnded = true; // at the end, every further byte is missing, without asking again
    return false;
  }
  return true;
}

int32_t TInputBuffer::ReadBytes(uint8_t *buffer, int32_t count) {
  int32_t got = 0;
  while (got < count) {
    if (Pos == End && !Refill())
      break;
    int32_t n = static_cast<int32_t>(std::min<ptrdiff_t>(count - got, End - Pos));
    std::memcpy(buffer + got, Pos, static_cast<size_t>(n));
    Pos += n;
    got += n;
  }
  return got;
}

void TInputBuffer::ReadBlock(uint8_t *dst, size_t count) {
  while (count > 0) {
    size_t avail = static_cast<size_t>(End - Pos);
    if (avail == 0) {
      if (count >= Size && !StreamEnded) {
        Consumed += End - Base;
        Pos = End = Base;
        size_t n = Source->Read(dst, count);
        if (n == 0)
          StreamEnded = true;
        Consumed += static_cast<int64_t>(n);
        dst += n;
        count -= n;
        continue;
      }
      if (!Refill()) {
        std::memset(dst, MissingByte, count);
        return;
      }
      continue;
    }
    size_t n = std::min(avail, count);
    std::memcpy(dst, Pos, n);
    Pos += n;
    dst += n;
    count -= n;
  }
}

void TInputBuffer::Discard(int64_t count, size_t want) {
  for (;;) {
    int64_t n = std::min<int64_t>(count, End - Pos);
    Pos += n;
    count -= n;
    if (count == 0 || StreamEnded)
      return;
    if (count > Size) {
      Consumed += End - Base;
      Pos = End = Base;
      uint64_t passed = Source->Skip(static_cast<uint64_t>(count));
      Consumed += static_cast<int64_t>(passed);
      if (passed < static_cast<uint64_t>(count))
        StreamEnded = true;
      return;
    }
    if (!Refill(static_cast<size_t>(count) + std::min(want, Capacity)))
      return;
  }
}
