// The PNG opening and closing both systems share, and the chunk check before
// any decoder; each system's decoder and encoder calls are in posix/ and
// win32/ Png.cpp.
#include "Png.h"

#include "Files.h"
#include "System.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE *)>;

// The rows the filters are tried on: all of a small picture, else bands of
// neighbouring rows spread over it, as the filters work on pairs of rows.
const uint32_t kBandRows = 16, kBands = 8;

// ---- The chunk check ---------------------------------------------------------

const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const uint32_t kMaxChunk = 0x7FFFFFFFu; // the most a PNG chunk may hold
const size_t kHeaderEnd = 8 + 8 + 13 + 4;

uint32_t BigEndian32(const unsigned char *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutBigEndian32(uint32_t v, std::string *to) {
  for (int shift = 24; shift >= 0; shift -= 8)
    to->push_back(static_cast<char>(v >> shift));
}

// The CRC of `n` more bytes after those whose CRC is `crc` (0 for none).
uint32_t Crc(uint32_t crc, const void *data, size_t n) {
  static const struct Table {
    uint32_t t[256];
    Table() {
      for (uint32_t k = 0; k < 256; ++k) {
        uint32_t c = k;
        for (int bit = 0; bit < 8; ++bit)
          c = c >> 1 ^ (0xEDB88320u & (0u - (c & 1)));
        t[k] = c;
      }
    }
  } table;
  const unsigned char *p = static_cast<const unsigned char *>(data);
  crc = ~crc;
  while (n--)
    crc = table.t[(crc ^ *p++) & 0xFF] ^ crc >> 8;
  return ~crc;
}

bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Which bit depths each colour type (0 to 6) allows, as a mask of (1 << depth).
const unsigned kLow = 1u << 1 | 1u << 2 | 1u << 4, k8 = 1u << 8, k16 = 1u << 16;
const unsigned kDepths[7] = {kLow | k8 | k16, 0, k8 | k16, kLow | k8, k8 | k16, 0, k8 | k16};

} // namespace

bool PngStream::ReadAt(uint64_t offset, void *data, size_t bytes) {
  errno = 0;
  const bool there = fileAt_ == offset || SeekFile(file_, offset);
  const size_t got = there ? std::fread(data, 1, bytes, file_) : 0;
  fileAt_ = there ? offset + got : UINT64_MAX;
  if (there && got == bytes)
    return true;
  // A file that shrank since its size was taken is an error of its own.
  error = (!there || std::ferror(file_)) && errno != 0 ? errno : EIO;
  return false;
}

std::string PngStream::ReadHeader() {
  const int64_t length = FileSize(file_);
  if (length < 0)
    return ErrorText(errno != 0 ? errno : EIO);
  fileSize_ = static_cast<uint64_t>(length);
  unsigned char h[kHeaderEnd] = {};
  const size_t got = static_cast<size_t>(std::min<uint64_t>(fileSize_, sizeof h));
  if (!ReadAt(0, h, got))
    return ErrorText(error);
  if (got < 8 || std::memcmp(h, kSignature, 8) != 0)
    return "not a PNG file";
  if (got < sizeof h)
    return "the file ends within the PNG header";
  if (BigEndian32(h + 8) != 13 || std::memcmp(h + 12, "IHDR", 4) != 0)
    return "the PNG file does not start with its header chunk";
  if (Crc(0, h + 12, 17) != BigEndian32(h + 29))
    return "the PNG header is damaged (CRC error)";
  width = BigEndian32(h + 16);
  height = BigEndian32(h + 20);
  depth_ = h[24];
  colourType_ = h[25];
  if (width == 0 || height == 0 || width > kMaxChunk || height > kMaxChunk)
    return "the PNG header gives an invalid size";
  if (depth_ > 16 || colourType_ > 6 || !(kDepths[colourType_] >> depth_ & 1))
    return "the PNG header gives an invalid colour type and bit depth";
  if (h[26] != 0 || h[27] != 0 || h[28] > 1)
    return "the PNG header names an unknown compression, filter or interlace method";
  parts_.clear();
  size = 0;
  Keep(0, kHeaderEnd);
  return {};
}

void PngStream::Keep(uint64_t offset, uint64_t length) {
  Part *last = parts_.empty() ? nullptr : &parts_.back();
  if (last && last->made.empty() && last->offset + last->length == offset)
    last->length += length;
  else
    parts_.push_back(Part{offset, length, size, {}});
  size += length;
}

void PngStream::Make(const std::string &chunk) {
  Part part{0, 0, size, {}};
  PutBigEndian32(static_cast<uint32_t>(chunk.size() - 4), &part.made);
  part.made += chunk;
  PutBigEndian32(Crc(0, chunk.data(), chunk.size()), &part.made);
  part.length = part.made.size();
  size += part.length;
  parts_.push_back(std::move(part));
}

// Empty when the chunk at `offset`, of `length` data bytes and called `name`,
// matches its CRC, else what is wrong; its type and data go to `chunk` when
// asked.
std::string PngStream::Check(uint64_t offset, uint32_t length, const std::string &name,
                             std::string *chunk) {
  unsigned char block[65536];
  uint32_t crc = 0;
  const uint64_t end = offset + 8 + length; // where the stored CRC is
  for (uint64_t at = offset + 4, n = 0; at < end; at += n) {
    n = std::min<uint64_t>(end - at, sizeof block);
    if (!ReadAt(at, block, static_cast<size_t>(n)))
      return ErrorText(error);
    crc = Crc(crc, block, static_cast<size_t>(n));
    if (chunk)
      chunk->append(reinterpret_cast<const char *>(block), static_cast<size_t>(n));
  }
  if (!ReadAt(end, block, 4))
    return ErrorText(error);
  return crc == BigEndian32(block) ? "" : name + " is damaged (CRC error)";
}

std::string PngStream::Scan() {
  uint64_t pos = kHeaderEnd;
  bool pictureData = false, transparency = false;
  uint32_t paletteEntries = 0;
  while (pos < fileSize_) {
    unsigned char head[8];
    if (fileSize_ - pos < 8)
      return "the file ends within a PNG chunk";
    if (!ReadAt(pos, head, sizeof head))
      return ErrorText(error);
    const uint32_t length = BigEndian32(head);
    const std::string type(reinterpret_cast<const char *>(head + 4), 4);
    if (!std::all_of(head + 4, head + 8, IsLetter))
      return "the PNG file is damaged: no chunk begins at byte " + std::to_string(pos);
    const std::string name = "the PNG chunk '" + type + "'";
    if (length > kMaxChunk)
      return name + " claims " + std::to_string(length) + " bytes, more than a chunk may hold";
    const uint64_t rest = fileSize_ - pos - 8; // its data and CRC, if whole
    if (uint64_t(length) + 4 > rest)
      return name + " claims " + std::to_string(length) +
             " bytes, more than the rest of the file (" + std::to_string(rest) +
             (rest == 1 ? " byte)" : " bytes)");
    const bool isData = type == "IDAT", isPalette = type == "PLTE", isTransparency = type == "tRNS";
    if (type == "IEND")
      break;
    if (head[4] <= 'Z' && !isData && !isPalette) // critical
      return name + (type == "IHDR" ? " comes twice" : " is of a kind tga-host does not read");
    // Chunks the picture needs only: a palette and transparency count before
    // the picture data, as decoders take them.
    const bool palette = isPalette && colourType_ == 3 && !pictureData && paletteEntries == 0;
    const bool wanted = isData || isPalette || (isTransparency && !pictureData && !transparency);
    if (palette && (length == 0 || length % 3 != 0 || length > 3 * 256))
      return name + " is not a valid palette";
    std::string chunk, bad = wanted ? Check(pos, length, name, palette ? &chunk : nullptr) : "";
    if (!bad.empty())
      return bad;
    if (palette) {
      // Exactly the entries the bit depth can index: missing ones black,
      // extra ones dropped, as libpng drops them.
      paletteEntries = std::min(length / 3, 1u << depth_);
      chunk.resize(4 + 3 * (size_t(1) << depth_), '\0');
      Make(chunk);
    } else if (isTransparency && wanted) {
      transparency = true;
      // Only a tRNS that fits the picture, as libpng keeps it.
      const bool fits = (colourType_ == 0 && length == 2) || (colourType_ == 2 && length == 6) ||
                        (colourType_ == 3 && length >= 1 && length <= paletteEntries);
      if (fits)
        Keep(pos, uint64_t(length) + 12);
    } else if (isData) {
      if (colourType_ == 3 && paletteEntries == 0)
        return "the indexed PNG has no palette before its picture data";
      pictureData = true;
      Keep(pos, uint64_t(length) + 12);
    }
    pos += uint64_t(length) + 12;
  }
  if (!pictureData)
    return "the PNG file holds no picture data";
  Make("IEND");
  position = 0;
  return {};
}

size_t PngStream::Read(void *data, size_t bytes) {
  unsigned char *to = static_cast<unsigned char *>(data);
  size_t done = 0;
  while (done < bytes && position < size) {
    // The last part that starts at or before the position.
    const Part &part = *(std::upper_bound(parts_.begin(), parts_.end(), position,
                                          [](uint64_t at, const Part &p) { return at < p.start; }) -
                         1);
    const uint64_t within = position - part.start;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(part.length - within, bytes - done));
    if (!part.made.empty())
      std::memcpy(to + done, part.made.data() + within, n);
    else if (!ReadAt(part.offset + within, to + done, n))
      return done;
    done += n;
    position += n;
  }
  return done;
}

bool PngSink::Write(const void *data, size_t bytes) {
  errno = 0;
  return Moved(!file || std::fwrite(data, 1, bytes, file) == bytes, position + bytes);
}

bool PngSink::Seek(uint64_t to) {
  errno = 0;
  return Moved(!file || SeekFile(file, to), to);
}

bool PngSink::Moved(bool done, uint64_t to) {
  if (done) {
    position = to;
    size = std::max(size, to);
  } else if (error == 0) {
    error = errno != 0 ? errno : EIO; // the first failure's
  }
  return done;
}

bool ReadPng(const std::string &path, const AcceptSize &accept, RgbPicture *picture,
             std::string *error, const ReadProgress &progress) {
  const std::string cannot = "cannot read '" + path + "': ";
  File f(std::fopen(path.c_str(), "rb"), std::fclose);
  // Judged before a decoder sees the file: it may take memory for the whole
  // picture as soon as it is handed it.
  PngStream stream(f.get());
  std::string bad = f ? stream.ReadHeader() : ErrorText(errno);
  if (bad.empty() && !accept(stream.width, stream.height, error))
    return false;
  if (bad.empty())
    bad = stream.Scan();
  if (bad.empty() && DecodePng(stream, picture, &bad, progress))
    return true;
  *error = cannot + bad;
  return false;
}

bool WritePng(std::FILE *file, uint32_t width, uint32_t height, const RowSource &row,
              int *error, const std::function<void(uint32_t y)> &written) {
  // The filter that makes the smaller file of the trial rows; adaptive on a tie.
  const uint32_t rows = std::min(height, kBandRows * kBands);
  const RowSource trial = [&](uint32_t i, uint8_t *rgb) {
    const uint64_t start = uint64_t(height - kBandRows) * (i / kBandRows) / (kBands - 1);
    return row(rows == height ? i : static_cast<uint32_t>(start) + i % kBandRows, rgb);
  };
  PngSink adaptive{nullptr}, none{nullptr};
  if (!EncodePng(adaptive, width, rows, trial, PngFilter::Adaptive, error) ||
      !EncodePng(none, width, rows, trial, PngFilter::None, error))
    return false;
  const PngFilter filter = none.size < adaptive.size ? PngFilter::None : PngFilter::Adaptive;
  PngSink sink{file};
  const RowSource told = [&](uint32_t y, uint8_t *rgb) {
    if (!row(y, rgb))
      return false;
    if (written)
      written(y);
    return true;
  };
  return EncodePng(sink, width, height, told, filter, error);
}
