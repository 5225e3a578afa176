// PNG files for the host's own use (the plug-in itself never sees them).
#pragma once

#include "Conversions.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Whether to go on with a picture of width x height, asked right after the
// PNG header is read and before anything is allocated; false with the
// message set to refuse it.
using AcceptSize = std::function<bool(uint32_t width, uint32_t height, std::string *error)>;

// Told how far a read has come: `done` of `total` rows (an interlaced
// picture's passes count each row again).
using ReadProgress = std::function<void(uint64_t done, uint64_t total)>;

// Reads any PNG as 8-bit RGB in the picture's own values: 16-bit channels
// scale to 8 bits as v x 255 / 65535, rounded, and alpha is flattened onto
// white. The chunk list is checked first (PngStream below) and the decoder sees
// only the chunks the picture needs. False with `error` set ("cannot read
// 'X': ...") when the file is no PNG, is damaged, cannot be read or is
// refused by `accept`.
bool ReadPng(const std::string &path, const AcceptSize &accept, RgbPicture *picture,
             std::string *error, const ReadProgress &progress = nullptr);

// Fills `rgb` with row `y` (width x 3 bytes); false stops the write. A row
// may be asked for more than once.
using RowSource = std::function<bool(uint32_t y, uint8_t *rgb)>;

// Writes an 8-bit RGB PNG of width x height to `file`, a row at a time,
// telling `written` of each row as it goes out; the caller closes `file`.
// False with `error` set to an errno value when the file cannot be written,
// or to EINTR when `row` stopped it. The same pixels make the same file,
// whatever record they came from.
bool WritePng(std::FILE *file, uint32_t width, uint32_t height, const RowSource &row,
              int *error, const std::function<void(uint32_t y)> &written = nullptr);

// ---- For Png.cpp and each system's decoder and encoder -------------------

// A PNG file's chunk list, checked by tga-host itself before a decoder sees
// any of it, so that libpng and the system's decoder get the same bytes and
// give the same answers. Every chunk length is held against the file's size
// and every chunk a decoder is given against its CRC, before anything is
// allocated for it. The decoder is then handed a stream of only what the
// picture needs: the signature, IHDR, PLTE (indexed pictures), tRNS, the
// IDAT chunks and IEND. Text, profiles and the rest never reach it; their
// compressed forms could inflate to far more than the file.
class PngStream {
public:
  // Over `file`, which the caller keeps open while the stream is used.
  explicit PngStream(FILE *file) : file_(file) {}

  // Reads the signature and header chunk, and the picture's size. Empty, or
  // why the file is no PNG tga-host reads ("the PNG header is damaged (CRC
  // error)").
  std::string ReadHeader();

  // Walks the remaining chunks and makes the stream. Empty, or what is wrong
  // ("the PNG chunk 'IDAT' is damaged (CRC error)"). A palette is always
  // handed on with an entry for every index its bit depth allows: indices
  // past the file's own entries read as opaque black on every system.
  std::string Scan();

  // The stream: whole chunks as a decoder reads them, from `position`, which
  // its users may set anywhere. Read returns fewer bytes than asked only at
  // its end or when the file fails (`error`).
  size_t Read(void *data, size_t bytes);

  // Read only, by the stream's users.
  uint32_t width = 0, height = 0;
  uint64_t size = 0, position = 0; // of the stream
  int error = 0;                   // errno of a failed read of the file, or 0

private:
  // A piece of the stream: bytes of the file, or bytes made here.
  struct Part {
    // In the file when `made` is empty, and where it starts in the stream.
    uint64_t offset = 0, length = 0, start = 0;
    std::string made;
  };
  void Keep(uint64_t offset, uint64_t length);
  void Make(const std::string &chunk); // of its type and data
  bool ReadAt(uint64_t offset, void *data, size_t bytes);
  std::string Check(uint64_t offset, uint32_t length, const std::string &name, std::string *chunk);

  FILE *file_;
  uint64_t fileSize_ = 0;
  uint64_t fileAt_ = UINT64_MAX; // where the file stands, when known
  uint8_t depth_ = 0, colourType_ = 0;
  std::vector<Part> parts_;
};

// Where an encoder's bytes go: a file, or nowhere (null) when only their
// count is wanted.
struct PngSink {
  FILE *file;
  uint64_t position = 0, size = 0;
  int error = 0; // errno of the first failed write or seek
  // False with `error` set.
  bool Write(const void *data, size_t size);
  bool Seek(uint64_t to);
  bool Moved(bool done, uint64_t to);
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

// How both PNG readers turn a row into 8-bit RGB, so that every platform
// gives the same bytes: 16-bit values scale as v x 255 / 65535, rounded, and
// alpha is flattened onto white in the picture's own values (no gamma).
// One channel `v` of alpha `a`, both of 0 to `max` (255 or 65535), onto
// white, as 8 bits: worked out in units of max x max, then rounded once. `T`
// holds max x max x 256.
template <class T, T max> inline uint8_t OnWhite(T v, T a) {
  const T one = max * max;
  return static_cast<uint8_t>(((v * a + max * (max - a)) * 255 + one / 2) / one);
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
      out[c] = deep ? OnWhite<uint64_t, 65535>(v, a) : OnWhite<uint32_t, 255>(v, a);
    }
  }
}
