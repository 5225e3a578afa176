// A PNG file's chunk list, checked by tga-host itself before a decoder sees
// any of it, so that libpng and the system's decoder get the same bytes and
// give the same answers. Every chunk length is held against the file's size
// and every chunk a decoder is given against its CRC, before anything is
// allocated for it. The decoder is then handed a stream of only what the
// picture needs: the signature, IHDR, PLTE (indexed pictures), tRNS, the
// IDAT chunks and IEND. Text, profiles and the rest never reach it; their
// compressed forms could inflate to far more than the file.
#pragma once

#include "Png.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class PngStream {
public:
  // Over `file`, which the caller keeps open while the stream is used.
  explicit PngStream(FILE *file) : file_(file) {}

  // Reads the signature and header chunk. Empty, or why the file is no PNG
  // tga-host reads ("the PNG header is damaged (CRC error)").
  std::string ReadHeader();
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }

  // Walks the remaining chunks and makes the stream. Empty, or what is wrong
  // ("the PNG chunk 'IDAT' is damaged (CRC error)"). A palette is always
  // handed on with an entry for every index its bit depth allows: indices
  // past the file's own entries read as opaque black on every system.
  std::string Scan();

  // The stream: whole chunks as a decoder reads them. Read returns fewer
  // bytes than asked only at its end or when the file fails (Error()).
  size_t Read(void *data, size_t size);
  bool Seek(uint64_t to);
  uint64_t Position() const { return position_; }
  uint64_t Size() const { return size_; }
  // errno of a failed read of the file, or 0.
  int Error() const { return error_; }

private:
  // A piece of the stream: bytes of the file, or bytes made here.
  struct Part {
    uint64_t offset = 0, length = 0; // in the file, when `made` is empty
    uint64_t start = 0;              // in the stream
    std::string made;
  };
  std::string Fail(int error);
  void Keep(uint64_t offset, uint64_t length);
  void Make(const char type[4], const std::string &data);
  bool ReadAt(uint64_t offset, void *data, size_t size);
  bool Checked(uint64_t offset, uint32_t length, bool *matches, std::string *data);

  FILE *file_;
  uint64_t fileSize_ = 0;
  uint64_t fileAt_ = UINT64_MAX; // where the file stands, when known
  uint32_t width_ = 0, height_ = 0;
  uint8_t depth_ = 0, colourType_ = 0;
  std::vector<Part> parts_;
  uint64_t size_ = 0, position_ = 0;
  int error_ = 0;
};

// Where an encoder's bytes go: a file, or nowhere (null) when only their
// count is wanted.
class PngSink {
public:
  explicit PngSink(FILE *file) : file_(file) {}
  // False with Error() set to an errno value.
  bool Write(const void *data, size_t size);
  bool Seek(uint64_t to);
  uint64_t Position() const { return position_; }
  uint64_t Size() const { return size_; }
  int Error() const { return error_; }

private:
  bool Failed();
  FILE *file_;
  uint64_t position_ = 0, size_ = 0;
  int error_ = 0;
};

// How rows are filtered before compression. A picture of few colours
// (dithered above all) compresses far better unfiltered, a photo or a smooth
// ramp filtered: WritePng tries both.
enum class PngFilter { Adaptive, None };

// What each system does with its own PNG decoder and encoder; the file
// itself is opened, checked and closed by the shared code (Png.cpp).
// Decodes the scanned stream into `picture`; false with `error` set to the
// reason.
bool DecodePng(PngStream &stream, RgbPicture *picture, std::string *error,
               const ReadProgress &progress);
// Encodes rows of 8-bit RGB into `sink`; false with `error` set to an errno
// value (EINTR: `row` stopped it).
bool EncodePng(PngSink &sink, uint32_t width, uint32_t height, const RowSource &row,
               PngFilter filter, int *error);
