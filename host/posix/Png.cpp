#include "Png.h"
#include "PngChunks.h"
#include "PngPixels.h"

#include "Files.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

// libpng reports errors by longjmp. The functions below therefore make every
// C++ object before setjmp, so that a jump skips no destructor.

namespace {

struct Failure {
  std::string message;
  int ioError = 0; // errno of a failed write
  PngSink *sink = nullptr;
};

void OnError(png_structp png, png_const_charp message) {
  static_cast<Failure *>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

struct Reader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~Reader() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

struct Writer {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~Writer() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

void WriteData(png_structp png, png_bytep data, size_t length) {
  Failure *failure = static_cast<Failure *>(png_get_error_ptr(png));
  if (!failure->sink->Write(data, length)) {
    failure->ioError = failure->sink->Error();
    png_error(png, "write error");
  }
}

void FlushData(png_structp) {}

// Reads the checked chunks (PngChunks.h) instead of the file.
void ReadData(png_structp png, png_bytep data, size_t length) {
  PngStream *stream = static_cast<PngStream *>(png_get_io_ptr(png));
  if (stream->Read(data, length) == length)
    return;
  Failure *failure = static_cast<Failure *>(png_get_error_ptr(png));
  failure->message =
      stream->Error() != 0 ? ErrorText(stream->Error()) : "the PNG data is damaged or incomplete";
  png_longjmp(png, 1);
}

// One row of libpng's output (RGB or RGBA, 8 or 16 bits big-endian) as 8-bit
// RGB.
void Flatten(const uint8_t *in, uint32_t width, int depth, int channels, uint8_t *out) {
  const bool alpha = channels == 4;
  if (depth == 8) {
    for (uint32_t x = 0; x < width; ++x, in += channels, out += 3)
      for (int c = 0; c < 3; ++c)
        out[c] = OnWhite8(in[c], alpha ? in[3] : 255);
    return;
  }
  for (uint32_t x = 0; x < width; ++x, in += 2 * channels, out += 3)
    for (int c = 0; c < 3; ++c)
      out[c] = OnWhite16(in[2 * c] << 8 | in[2 * c + 1], alpha ? (in[6] << 8 | in[7]) : 65535);
}

} // namespace

bool DecodePng(PngStream &stream, RgbPicture *picture, std::string *error,
               const ReadProgress &progress) {
  Failure failure;
  Reader r;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, OnError, OnWarning);
  if (r.png)
    r.info = png_create_info_struct(r.png);
  if (!r.info)
    throw std::bad_alloc();
  std::vector<uint8_t> line;
  std::unique_ptr<uint8_t[]> whole;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(r.png))) {
    *error = failure.message;
    return false;
  }
  png_set_read_fn(r.png, &stream, ReadData);
  // The sizes were judged by `accept`, with this program's own limits, and
  // the chunks by the scan.
  png_set_user_limits(r.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(r.png, r.info);
  const uint32_t width = png_get_image_width(r.png, r.info);
  const uint32_t height = png_get_image_height(r.png, r.info);

  // Palettes become RGB, grey becomes RGB of 8 or 16 bits, a transparent
  // colour becomes alpha. No gamma handling: the values are taken as they are.
  png_set_expand(r.png);
  png_set_gray_to_rgb(r.png);
  const int passes = png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  const int depth = png_get_bit_depth(r.png, r.info);
  const int channels = png_get_channels(r.png, r.info);
  const size_t rowBytes = png_get_rowbytes(r.png, r.info);
  if (!picture->Allocate(width, height) ||
      (passes > 1 && rowBytes > std::numeric_limits<size_t>::max() / height)) {
    *error = "too large for this computer's memory addresses";
    return false;
  }
  const uint64_t total = uint64_t(passes) * height;
  if (passes == 1) {
    line.resize(rowBytes);
    for (uint32_t y = 0; y < height; ++y) {
      png_read_row(r.png, line.data(), nullptr);
      Flatten(line.data(), width, depth, channels, picture->Row(y));
      if (progress)
        progress(y + 1, total);
    }
  } else {
    // Interlaced rows arrive in passes over the whole picture.
    whole.reset(new uint8_t[rowBytes * height]);
    rows.resize(height);
    for (uint32_t y = 0; y < height; ++y)
      rows[y] = whole.get() + rowBytes * y;
    for (int pass = 0; pass < passes; ++pass)
      for (uint32_t y = 0; y < height; ++y) {
        png_read_row(r.png, rows[y], nullptr);
        if (progress)
          progress(uint64_t(pass) * height + y + 1, total);
      }
    for (uint32_t y = 0; y < height; ++y)
      Flatten(rows[y], width, depth, channels, picture->Row(y));
  }
  return true;
}

bool EncodePng(PngSink &sink, uint32_t width, uint32_t height, const RowSource &row,
               PngFilter filter, int *error) {
  Failure failure;
  failure.sink = &sink;
  Writer w;
  w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, OnError, OnWarning);
  if (w.png)
    w.info = png_create_info_struct(w.png);
  if (!w.info)
    throw std::bad_alloc();
  std::vector<uint8_t> line(size_t(width) * 3);
  if (setjmp(png_jmpbuf(w.png))) {
    *error = failure.ioError != 0 ? failure.ioError : EIO;
    return false;
  }
  png_set_write_fn(w.png, nullptr, WriteData, FlushData);
  // zlib's level 4 with libpng's adaptive filters: within about 1.5 % of the
  // default level 6 in size, and 1.3 (dithered pictures) to 3.3 (photos)
  // times quicker, where level 6 spends most of a large photo's write
  // searching for matches in noise.
  png_set_compression_level(w.png, 4);
  if (filter == PngFilter::None)
    png_set_filter(w.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(w.png, w.info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(w.png, w.info);
  for (uint32_t y = 0; y < height; ++y) {
    if (!row(y, line.data())) {
      *error = EINTR;
      return false;
    }
    png_write_row(w.png, line.data());
  }
  png_write_end(w.png, nullptr);
  return true;
}
