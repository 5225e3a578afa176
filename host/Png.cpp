// The PNG opening and closing both systems share; each system's decoder and
// encoder calls are in posix/ and win32/ Png.cpp.
#include "Png.h"
#include "PngChunks.h"

#include "Files.h"
#include "System.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The rows the filters are tried on: all of a small picture, else bands of
// neighbouring rows spread over it, as the filters work on pairs of rows.
const uint32_t kBandRows = 16, kBands = 8;

// The filter that makes the smaller file of the trial rows; adaptive on a tie.
bool ChooseFilter(uint32_t width, uint32_t height, const RowSource &row, PngFilter *filter,
                  int *error) {
  const bool whole = height <= kBandRows * kBands;
  const uint32_t rows = whole ? height : kBandRows * kBands;
  const RowSource trial = [&](uint32_t i, uint8_t *rgb) {
    const uint64_t start = uint64_t(height - kBandRows) * (i / kBandRows) / (kBands - 1);
    return row(whole ? i : static_cast<uint32_t>(start) + i % kBandRows, rgb);
  };
  PngSink adaptive(nullptr), none(nullptr);
  if (!EncodePng(adaptive, width, rows, trial, PngFilter::Adaptive, error) ||
      !EncodePng(none, width, rows, trial, PngFilter::None, error))
    return false;
  *filter = none.Size() < adaptive.Size() ? PngFilter::None : PngFilter::Adaptive;
  return true;
}

} // namespace

bool PngSink::Write(const void *data, size_t size) {
  errno = 0;
  if (file_ && std::fwrite(data, 1, size, file_) != size)
    return Failed();
  position_ += size;
  size_ = std::max(size_, position_);
  return true;
}

bool PngSink::Seek(uint64_t to) {
  errno = 0;
  if (file_ && !SeekFile(file_, to))
    return Failed();
  position_ = to;
  size_ = std::max(size_, to);
  return true;
}

bool PngSink::Failed() {
  if (error_ == 0)
    error_ = errno != 0 ? errno : EIO;
  return false;
}

bool ReadPng(const std::string &path, const AcceptSize &accept, RgbPicture *picture,
             std::string *error, const ReadProgress &progress) {
  const std::string cannot = "cannot read '" + path + "': ";
  File f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    *error = cannot + ErrorText(errno);
    return false;
  }
  // Judged before a decoder sees the file: it may take memory for the whole
  // picture as soon as it is handed it.
  PngStream stream(f.get());
  std::string bad = stream.ReadHeader();
  if (bad.empty() && !accept(stream.Width(), stream.Height(), error))
    return false;
  if (bad.empty())
    bad = stream.Scan();
  if (bad.empty() && DecodePng(stream, picture, &bad, progress))
    return true;
  *error = cannot + bad;
  return false;
}

bool WritePng(const std::string &path, uint32_t width, uint32_t height, const RowSource &row,
              int *error, const std::function<void(uint32_t y)> &written) {
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) {
    *error = errno;
    return false;
  }
  PngFilter filter = PngFilter::Adaptive;
  if (!ChooseFilter(width, height, row, &filter, error))
    return false;
  PngSink sink(f.get());
  const RowSource told = [&](uint32_t y, uint8_t *rgb) {
    if (!row(y, rgb))
      return false;
    if (written)
      written(y);
    return true;
  };
  if (!EncodePng(sink, width, height, told, filter, error))
    return false;
  // Closed here, so that a failed flush counts.
  errno = 0;
  if (std::fclose(f.release()) != 0) {
    *error = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}
