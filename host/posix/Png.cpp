#include "Png.h"

#include "Files.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

// libpng reports errors by longjmp. The functions below therefore make every
// C++ object before setjmp, so that a jump skips no destructor.

namespace {

void OnError(png_structp png, png_const_charp message) {
  *static_cast<std::string *>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng's structures for one read or write, its error messages going to
// `failure`; `info` is null when libpng cannot make them.
struct Session {
  Session(bool writes, std::string *failure) : write(writes) {
    png = write ? png_create_write_struct(PNG_LIBPNG_VER_STRING, failure, OnError, OnWarning)
                : png_create_read_struct(PNG_LIBPNG_VER_STRING, failure, OnError, OnWarning);
    info = png ? png_create_info_struct(png) : nullptr;
  }
  ~Session() {
    write ? png_destroy_write_struct(&png, &info) : png_destroy_read_struct(&png, &info, nullptr);
  }
  const bool write;
  png_structp png = nullptr;
  png_infop info = nullptr;
};

// A failed write keeps its errno value in the sink.
void WriteData(png_structp png, png_bytep data, size_t length) {
  if (!static_cast<PngSink *>(png_get_io_ptr(png))->Write(data, length))
    png_error(png, "write error");
}

void FlushData(png_structp) {}

// Reads the checked chunks (PngStream) instead of the file.
void ReadData(png_structp png, png_bytep data, size_t length) {
  PngStream *stream = static_cast<PngStream *>(png_get_io_ptr(png));
  if (stream->Read(data, length) == length)
    return;
  *static_cast<std::string *>(png_get_error_ptr(png)) =
      stream->error != 0 ? ErrorText(stream->error) : "the PNG data is damaged or incomplete";
  png_longjmp(png, 1);
}

} // namespace

bool DecodePng(PngStream &stream, RgbPicture *picture, std::string *error,
               const ReadProgress &progress) {
  Session r(false, error);
  if (!r.info)
    throw std::bad_alloc();
  std::vector<uint8_t> rows;
  if (setjmp(png_jmpbuf(r.png)))
    return false;
  png_set_read_fn(r.png, &stream, ReadData);
  // The sizes were judged by `accept`, with this program's own limits, and
  // the chunks by the scan.
  png_set_user_limits(r.png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_read_info(r.png, r.info);
  const uint32_t width = stream.width, height = stream.height; // as libpng read them

  // Palettes become RGB, grey becomes RGB of 8 or 16 bits (little-endian), a
  // transparent colour becomes alpha. No gamma handling: the values are taken
  // as they are.
  png_set_expand(r.png);
  png_set_gray_to_rgb(r.png);
  png_set_swap(r.png);
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
  // One row, or the whole picture when its rows arrive in passes over it; a
  // row is whole once the last pass has read it.
  rows.resize(rowBytes * (passes > 1 ? height : 1));
  const uint64_t total = uint64_t(passes) * height;
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < height; ++y) {
      uint8_t *row = rows.data() + (passes > 1 ? rowBytes * y : 0);
      png_read_row(r.png, row, nullptr);
      if (pass == passes - 1)
        FlattenRow(row, width, depth, channels, false, picture->Row(y));
      if (progress)
        progress(uint64_t(pass) * height + y + 1, total);
    }
  return true;
}

bool EncodePng(PngSink &sink, uint32_t width, uint32_t height, const RowSource &row,
               PngFilter filter, int *error) {
  std::string failure; // libpng's message, which says no more than EIO
  Session w(true, &failure);
  if (!w.info)
    throw std::bad_alloc();
  std::vector<uint8_t> line(size_t(width) * 3);
  if (setjmp(png_jmpbuf(w.png))) {
    *error = sink.error != 0 ? sink.error : EIO;
    return false;
  }
  png_set_write_fn(w.png, &sink, WriteData, FlushData);
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
