// Where the decoder's bytes come from: a file named by a path (what the
// plug-in's entry points use) or a span of memory. The decoder keeps its own
// buffer; a source only hands bytes over and passes over the ones the decoder
// does not need.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class TByteSource {
public:
  virtual ~TByteSource() = default;

  // Up to `count` bytes into `dst`. 0 means the end of the data: the
  // decoder asks no more. Fewer than `count` is not the end.
  virtual size_t Read(uint8_t *dst, size_t count) = 0;

  // Passes over `count` bytes; answers how many there were (fewer only when
  // the data ends inside the gap).
  virtual uint64_t Skip(uint64_t count) = 0;

  // Bytes taken from the data so far: read, or read and dropped where the
  // source cannot pass over them without reading.
  uint64_t BytesRead() const { return Taken; }

protected:
  uint64_t Taken = 0;
};

// A C stream in binary read mode, read front to back until a gap is to be
// passed over. Then, in a regular file, the source reads at the position it
// keeps itself (the stream's own is of no account from then on): the gap
// costs no call, and the next read goes to its end. Pipes, FIFOs and devices
// are read through. Where the system reads slowly into fresh pages, long
// reads go through a buffer of the source's own.
class TFileSource : public TByteSource {
public:
  TFileSource() = default;
  // Takes over an open stream (a pipe's end, say); it is closed with the source.
  explicit TFileSource(FILE *stream);

  // Opens `path` with "rb". The stream is unbuffered: the decoder's buffer is
  // the only one.
  bool Open(const std::string &path);
  void Close();
  bool IsOpen() const { return Stream != nullptr; }

  size_t Read(uint8_t *dst, size_t count) override;
  uint64_t Skip(uint64_t count) override;

private:
  struct Closer {
    void operator()(FILE *f) const { std::fclose(f); }
  };
  void Adopt(FILE *stream);
  size_t ReadStream(uint8_t *dst, size_t count);

  std::unique_ptr<FILE, Closer> Stream;
  // Asked at the first gap, so that a run that skips nothing makes no call
  // for it. A regular file is read at Position from then on; Size is its
  // size at that moment.
  enum class Kind : uint8_t { NotAsked, RegularFile, NotRegular } What = Kind::NotAsked;
  uint64_t Size = 0;
  uint64_t Position = 0;
  // Made at the first long read, where the system wants one.
  std::unique_ptr<uint8_t[]> Buffer;
};

// Bytes already in memory; they must outlive the source.
class TMemorySource : public TByteSource {
public:
  TMemorySource(const uint8_t *data, size_t size) : Data(data), Size(size) {}

  size_t Read(uint8_t *dst, size_t count) override;
  uint64_t Skip(uint64_t count) override;

private:
  const uint8_t *Data;
  size_t Size;
  size_t Position = 0;
};
