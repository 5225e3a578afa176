#include "ByteSource.h"

#include "Allocation.h"
#include "DecoderPlatform.h"
#include "InputBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

TFileSource::TFileSource(FILE *stream) { Adopt(stream); }

bool TFileSource::Open(const std::string &path) {
  Close();
  Adopt(std::fopen(path.c_str(), "rb"));
  return IsOpen();
}

void TFileSource::Adopt(FILE *stream) {
  Stream.reset(stream);
  Position = 0;
  Size = 0;
  What = Kind::NotAsked;
  // Unbuffered, so that the stream's position is always Position.
  if (Stream)
    std::setvbuf(Stream.get(), nullptr, _IONBF, 0);
}

void TFileSource::Close() { Stream.reset(); }

size_t TFileSource::Read(uint8_t *dst, size_t count) {
  if (!Stream || count == 0)
    return 0;
  const size_t piece = decoder_platform::ReadBufferBytes();
  // Reads of up to the size of the decoder's own buffers go straight: they
  // are touched already, and a few fresh pages more cost next to nothing.
  if (piece == 0 || count <= static_cast<size_t>(TInputBuffer::StreamSize))
    return ReadStream(dst, count);
  if (!Buffer)
    Buffer.reset(allocation::NewBytes(piece));
  if (!Buffer)
    return ReadStream(dst, count); // slower, but the same bytes
  size_t n = 0;
  while (n < count) {
    size_t ask = std::min(piece, count - n);
    size_t got = ReadStream(Buffer.get(), ask);
    std::memcpy(dst + n, Buffer.get(), got);
    n += got;
    if (got < ask)
      break;
  }
  return n;
}

size_t TFileSource::ReadStream(uint8_t *dst, size_t count) {
  size_t n = 0;
  if (What == Kind::RegularFile) {
    // A positioned read may come back short before the end: ask again.
    for (size_t got; n < count; n += got)
      if ((got = decoder_platform::ReadAt(Stream.get(), Position + n, dst + n, count - n)) == 0)
        break;
  } else {
    n = std::fread(dst, 1, count, Stream.get());
  }
  Position += n;
  Taken += n;
  return n;
}

uint64_t TFileSource::Skip(uint64_t count) {
  if (!Stream)
    return 0;
  if (What == Kind::NotAsked)
    What = decoder_platform::RegularFileSize(Stream.get(), &Size) ? Kind::RegularFile : Kind::NotRegular;
  if (What == Kind::RegularFile) {
    // The gap ends where the file ends.
    uint64_t gap = std::min(count, Size > Position ? Size - Position : 0);
    Position += gap;
    return gap;
  }
  uint8_t scratch[8192];
  uint64_t passed = 0;
  while (passed < count) {
    size_t n = Read(scratch, static_cast<size_t>(std::min<uint64_t>(sizeof scratch, count - passed)));
    if (n == 0)
      break;
    passed += n;
  }
  return passed;
}

size_t TMemorySource::Read(uint8_t *dst, size_t count) {
  size_t n = std::min(count, Size - Position);
  if (n)
    std::memcpy(dst, Data + Position, n);
  Position += n;
  Taken += n;
  return n;
}

uint64_t TMemorySource::Skip(uint64_t count) {
  size_t n = static_cast<size_t>(std::min<uint64_t>(count, Size - Position));
  Position += n;
  return n;
}
