#include "Dtarga.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

const uint8_t ExpandFive[32] = {0,   8,   16,  25,  33,  41,  49,  58,  66,  74,  82,
                                90,  99,  107, 115, 123, 132, 140, 148, 156, 165, 173,
                                181, 189, 197, 206, 214, 222, 230, 239, 247, 255};

namespace {

const char kTitle[] = "* TARGA FILE (decoder records) *\n\n";

// Header byte offsets and descriptor bits.
enum : int {
  IdLengthOffset = 0,
  ColorMapTypeOffset = 1,
  ImageTypeOffset = 2,
  ColorMapFirstOffset = 3,
  ColorMapLengthOffset = 5,
  ColorMapEntrySizeOffset = 7,
  WidthOffset = 12,
  HeightOffset = 14,
  PixelDepthOffset = 16,
  DescriptorOffset = 17,
  HeaderSize = 18,
};
const uint8_t TOP_LEFT_ORIGIN_BIT = 0x20;
const uint8_t INTERLEAVE_BITS_MASK = 0xC0;
const uint8_t RLE_TYPE_OFFSET = 8;
const uint8_t RUN_PACKET_BIT = 0x80;
const uint8_t PACKET_COUNT_MASK = 0x7F;
const int32_t MaxColorMapLength = 256;

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Size of a block of `a` × `b` × `c` bytes, or nothing when it does not fit
// in size_t (12.9 GB for the largest header, beyond a 32-bit address space).
std::optional<size_t> BlockSize(uint64_t a, uint64_t b, uint64_t c) {
  uint64_t n = a * b; // both at most 2^17: cannot wrap
  if (c != 0 && n > UINT64_MAX / c)
    return std::nullopt;
  n *= c;
  if (n > static_cast<uint64_t>(SIZE_MAX))
    return std::nullopt;
  return static_cast<size_t>(n);
}

// Row converters: one stored pixel of In bytes to Out delivered bytes
// (One), or n pixels in a row (Many). Where a pixel widens to 3 bytes, Many
// stores 4 and lets the next pixel overwrite the fourth; the last pixel of a
// span is stored exactly, so nothing is written past the span.
struct IndexedConv {
  static constexpr int In = 1, Out = 1;
  static constexpr bool Copy = true;
  static void One(const uint8_t *s, uint8_t *d) { d[0] = s[0]; }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) { std::memcpy(d, s, static_cast<size_t>(n)); }
};
// Four pixels at a time as 32-bit words, where words are little-endian.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kWordsLittleEndian = true;
#else
constexpr bool kWordsLittleEndian = false;
#endif
inline uint32_t Load32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

struct GreyConv {
  static constexpr int In = 1, Out = 3;
  static constexpr bool Copy = false;
  static void One(const uint8_t *s, uint8_t *d) { d[0] = d[1] = d[2] = s[0]; }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) {
    if (kWordsLittleEndian) {
      for (; n >= 4; n -= 4, s += 4, d += 12) { // g0 g1 g2 g3 -> g0g0g0g1 g1g1g2g2 g2g3g3g3
        uint32_t g = Load32(s);
        uint32_t g0 = g & 0xFF, g1 = (g >> 8) & 0xFF, g2 = (g >> 16) & 0xFF, g3 = g >> 24;
        Store32(d, g0 * 0x010101u | g1 << 24);
        Store32(d + 4, g1 * 0x0101u | g2 * 0x01010000u);
        Store32(d + 8, g2 | g3 * 0x01010100u);
      }
    }
    for (int32_t i = 0; i + 1 < n; ++i, d += 3) {
      uint32_t v = s[i] * 0x01010101u;
      std::memcpy(d, &v, 4);
    }
    if (n > 0)
      One(s + n - 1, d);
  }
};
// 16-bit pixels widened through one look-up per pixel: entry v holds the
// blue, green and red bytes of the 15 colour bits of v.
struct Wide16Table {
  uint8_t bgr[32768][4];
  Wide16Table() {
    for (unsigned v = 0; v < 32768; ++v) {
      bgr[v][0] = ExpandFive[v & 31];
      bgr[v][1] = ExpandFive[(v >> 5) & 31];
      bgr[v][2] = ExpandFive[(v >> 10) & 31];
      bgr[v][3] = 0;
    }
  }
};
const Wide16Table &Wide16() {
  static const Wide16Table table;
  return table;
}
struct High16Conv {
  static constexpr int In = 2, Out = 3;
  static constexpr bool Copy = false;
  // Bit 15 carries no colour.
  static void One(const uint8_t *s, uint8_t *d) {
    unsigned v = s[0] | (s[1] << 8);
    d[0] = ExpandFive[v & 31];
    d[1] = ExpandFive[(v >> 5) & 31];
    d[2] = ExpandFive[(v >> 10) & 31];
  }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) {
    const Wide16Table &t = Wide16();
    for (int32_t i = 0; i + 1 < n; ++i, s += 2, d += 3)
      std::memcpy(d, t.bgr[(s[0] | (s[1] << 8)) & 0x7FFF], 4);
    if (n > 0)
      One(s, d);
  }
};
struct Bgr24Conv {
  static constexpr int In = 3, Out = 3;
  static constexpr bool Copy = true;
  static void One(const uint8_t *s, uint8_t *d) { std::memcpy(d, s, 3); }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) { std::memcpy(d, s, 3 * static_cast<size_t>(n)); }
};
struct Bgra32Conv {
  static constexpr int In = 4, Out = 3;
  static constexpr bool Copy = false;
  // The fourth byte (alpha or attribute) is dropped.
  static void One(const uint8_t *s, uint8_t *d) { std::memcpy(d, s, 3); }
  static void Many(const uint8_t *s, uint8_t *d, int32_t n) {
    if (kWordsLittleEndian) {
      for (; n >= 4; n -= 4, s += 16, d += 12) { // BGRA x4 -> BGR x4 in three words
        uint32_t p0 = Load32(s), p1 = Load32(s + 4), p2 = Load32(s + 8), p3 = Load32(s + 12);
        Store32(d, (p0 & 0xFFFFFFu) | p1 << 24);
        Store32(d + 4, ((p1 >> 8) & 0xFFFFu) | p2 << 16);
        Store32(d + 8, ((p2 >> 16) & 0xFFu) | p3 << 8);
      }
    }
    for (int32_t i = 0; i + 1 < n; ++i, s += 4, d += 3)
      std::memcpy(d, s, 4);
    if (n > 0)
      One(s, d);
  }
};

// Many() for a source and destination known not to overlap.
template <class Conv> void ManyApart(const uint8_t *__restrict s, uint8_t *__restrict d, int32_t n) {
  Conv::Many(s, d, n);
}

// `count` copies of one delivered pixel.
template <class Conv> void FillPixels(uint8_t *d, const uint8_t *value, int32_t count) {
  if (Conv::Out == 1) {
    std::memset(d, value[0], static_cast<size_t>(count));
    return;
  }
  if (count <= 8) { // short runs are the common case in photographs
    for (int32_t i = 0; i < count; ++i, d += Conv::Out)
      std::memcpy(d, value, Conv::Out);
    return;
  }
  std::memcpy(d, value, Conv::Out);
  size_t done = Conv::Out, total = static_cast<size_t>(count) * Conv::Out;
  while (done < total) { // doubling copies
    size_t n = std::min(done, total - done);
    std::memcpy(d + done, d, n);
    done += n;
  }
}

} // namespace

TTargaDecoder::TTargaDecoder() : BufStart(StreamBuffer), BufPos(StreamBuffer), BufEnd(StreamBuffer) {}

TTargaDecoder::~TTargaDecoder() {
  std::free(Pixels);
  std::free(Palette);
}

uint8_t *TTargaDecoder::TakePixels() {
  uint8_t *p = Pixels;
  Pixels = nullptr;
  return p;
}

uint8_t *TTargaDecoder::TakePalette() {
  uint8_t *p = Palette;
  Palette = nullptr;
  return p;
}

bool TTargaDecoder::Decode(const std::string &fileName) {
  InfoText = kTitle;
  FileName = fileName;
  bool ok = OpenFile() && ReadHeader() && (HeaderOnly || ReadImage());
  CloseFile();
  return ok;
}

bool TTargaDecoder::OpenFile() {
  PaletteCount = 0;
  ImageBuffer = nullptr;
  RowBuffer = nullptr;
  std::free(Pixels);
  Pixels = nullptr;
  std::free(Palette);
  Palette = nullptr;
  BufPos = BufEnd = BufStart;
  Consumed = 0;
  StreamEnded = false;
  Stream.reset(std::fopen(FileName.c_str(), "rb"));
  if (!Stream)
    return false;
  // Our own buffer is the only one: the C library's would be a second copy.
  std::setvbuf(Stream.get(), nullptr, _IONBF, 0);
  return true;
}

void TTargaDecoder::CloseFile() { Stream.reset(); }

bool TTargaDecoder::Refill() {
  if (StreamEnded || !Stream)
    return false;
  Consumed += BufEnd - BufStart;
  size_t chunk = std::min<size_t>(std::max<size_t>(ReadChunk, 1), StreamBufferSize);
  size_t n = std::fread(StreamBuffer, 1, chunk, Stream.get());
  BufPos = BufStart;
  BufEnd = BufStart + n;
  if (n == 0) {
    StreamEnded = true; // at the end, every further byte reads as 255 without asking again
    return false;
  }
  return true;
}

int32_t TTargaDecoder::ReadBytes(uint8_t *buffer, int32_t count) {
  int32_t got = 0;
  while (got < count) {
    if (BufPos == BufEnd && !Refill())
      break;
    int32_t n = static_cast<int32_t>(std::min<ptrdiff_t>(count - got, BufEnd - BufPos));
    std::memcpy(buffer + got, BufPos, static_cast<size_t>(n));
    BufPos += n;
    got += n;
  }
  return got;
}

// `count` bytes into dst; bytes past the end of the file are 255. Long reads
// go straight from the file into dst.
void TTargaDecoder::ReadBlock(uint8_t *dst, size_t count) {
  while (count > 0) {
    size_t avail = static_cast<size_t>(BufEnd - BufPos);
    if (avail == 0) {
      if (count >= std::min<size_t>(ReadChunk, StreamBufferSize) && !StreamEnded && Stream) {
        size_t n = std::fread(dst, 1, count, Stream.get());
        Consumed += static_cast<int64_t>(n);
        dst += n;
        count -= n;
        if (count > 0)
          StreamEnded = true;
        continue;
      }
      if (!Refill()) {
        std::memset(dst, 0xFF, count);
        return;
      }
      continue;
    }
    size_t n = std::min(avail, count);
    std::memcpy(dst, BufPos, n);
    BufPos += n;
    dst += n;
    count -= n;
  }
}

// Passed-over bytes are read and dropped, never sought over.
void TTargaDecoder::DiscardBytes(int64_t count) {
  while (count > 0) {
    if (BufPos == BufEnd && !Refill())
      return;
    int64_t n = std::min<int64_t>(count, BufEnd - BufPos);
    BufPos += n;
    count -= n;
  }
}

void TTargaDecoder::ReadPixelValue() {
  for (int32_t i = 0; i < PixelBytes; ++i)
    Pixel[i] = static_cast<uint8_t>(ReadByte());
}

bool TTargaDecoder::ReadHeader() {
  uint8_t h[HeaderSize];
  if (ReadBytes(h, HeaderSize) < HeaderSize)
    return false;
  uint8_t depth = h[PixelDepthOffset];
  if (depth == 15)
    depth = 16; // 15-bit pixels are stored in two bytes like 16-bit ones
  PixelBytes = depth / 8;

  const uint8_t colorMapType = h[ColorMapTypeOffset];
  uint8_t imageType = h[ImageTypeOffset];
  const int32_t colorMapLength = Le16(h + ColorMapLengthOffset);
  const uint8_t descriptor = h[DescriptorOffset];
  // The lines are written before any check, so a rejected header has them too.
  InfoText += "ColorMapType : " + std::to_string(colorMapType) + "\n";
  InfoText += "SubType : " + std::to_string(imageType) + "\n";
  InfoText += "ColorMapLen : " + std::to_string(colorMapLength) + "\n";
  InfoText += "Width : " + std::to_string(Le16(h + WidthOffset)) + "\n";
  InfoText += "Height : " + std::to_string(Le16(h + HeightOffset)) + "\n";
  InfoText += "PixelSize : " + std::to_string(PixelBytes) + "\n";
  InfoText += "Flags : " + std::to_string(descriptor) + "\n";

  const bool bottomUp = (descriptor & TOP_LEFT_ORIGIN_BIT) == 0;
  if (colorMapType > 1 || PixelBytes < 1 || PixelBytes > 4 || depth % 8 != 0 ||
      (descriptor & INTERLEAVE_BITS_MASK) != 0)
    return false;

  if (imageType > RLE_TYPE_OFFSET) {
    RunLength = true;
    RepeatLeft = 0;
    RawLeft = 0;
    imageType -= RLE_TYPE_OFFSET;
  } else {
    RunLength = false;
  }

  OutBytes = 3;
  Grey = false;
  Indexed = false;
  switch (imageType) {
  case 1: // colour-mapped
    if (PixelBytes != 1 || colorMapType != 1)
      return false;
    Indexed = true;
    OutBytes = 1;
    PixelBits = 8;
    break;
  case 2: // true colour
    if (PixelBytes == 1)
      return false;
    PixelBits = PixelBytes * 8;
    break;
  case 3: // grey
    if (PixelBytes != 1)
      return false;
    Grey = true;
    PixelBits = 8;
    break;
  default:
    return false;
  }

  FileWidth = Le16(h + WidthOffset);
  FileHeight = Le16(h + HeightOffset);

  Step = 1;
  StepShift = 0;
  RowMask = 0;
  if (Preview) {
    // A box of 0 is outside the interface; as 1 the search still ends.
    uint32_t boxW = PreviewMaxWidth == 0 ? 1u : static_cast<uint32_t>(PreviewMaxWidth);
    uint32_t boxH = PreviewMaxHeight == 0 ? 1u : static_cast<uint32_t>(PreviewMaxHeight);
    while (static_cast<uint32_t>(FileWidth / Step) >= boxW ||
           static_cast<uint32_t>(FileHeight / Step) >= boxH)
      Step *= 2;
    Step /= 2;
    if (Step == 0)
      Step = 1;
    while ((Step & (1 << StepShift)) == 0) {
      RowMask |= 1 << StepShift;
      ++StepShift;
    }
  }
  const int32_t outWidth = (FileWidth + Step - 1) >> StepShift;
  const int32_t outHeight = (FileHeight + Step - 1) >> StepShift;

  BottomUp = bottomUp;
  ImageDecoded = false;
  if (!HeaderOnly) {
    std::optional<size_t> bytes = BlockSize(static_cast<uint64_t>(outWidth),
                                            static_cast<uint64_t>(outHeight),
                                            static_cast<uint64_t>(OutBytes));
    if (!bytes || *bytes > MaxBlockBytes)
      return false;
    BlockBytes = *bytes;
  }

  DiscardBytes(h[IdLengthOffset]);

  if (colorMapLength != 0) {
    if (colorMapLength > MaxColorMapLength || Le16(h + ColorMapFirstOffset) != 0)
      return false;
    if (!HeaderOnly) {
      Palette = static_cast<uint8_t *>(std::malloc(static_cast<size_t>(colorMapLength) * 4));
      if (!Palette || !ReadColorMap(colorMapLength, h[ColorMapEntrySizeOffset]))
        return false;
    }
  } else {
    if (colorMapType != 0)
      return false;
    Palette = nullptr;
  }

  PaletteCount = colorMapLength;
  OutWidth = outWidth;
  OutHeight = outHeight;
  return true;
}

bool TTargaDecoder::ReadColorMap(int32_t count, int32_t entryBits) {
  if (entryBits != 24)
    return false;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t *entry = Palette + 4 * i;
    entry[0] = static_cast<uint8_t>(ReadByte()); // blue
    entry[1] = static_cast<uint8_t>(ReadByte()); // green
    entry[2] = static_cast<uint8_t>(ReadByte()); // red
    entry[3] = 0;
  }
  return true;
}

bool TTargaDecoder::ReadImage() {
  TrueColor = !Indexed;
  OutBits = TrueColor ? 24 : 8;
  RowBytes = OutBits / 8 * OutWidth;
  // Never null, also for an empty image: null means "cannot be read".
  Pixels = static_cast<uint8_t *>(std::malloc(BlockBytes ? BlockBytes : 1));
  if (!Pixels)
    return false;
  SourceRow = 0;
  SourceColumn = 0;
  PendingSkip = 0;
  PixelsLeft = static_cast<int64_t>(OutWidth) * OutHeight;
  if (ReadStoredImage())
    return true;
  for (int32_t i = 0; i < OutHeight; ++i) {
    if (BottomUp) {
      NextBottomUpRow();
    } else {
      RowBuffer = Pixels + static_cast<size_t>(i) * static_cast<size_t>(RowBytes);
    }
    ConvertRow();
  }
  return true;
}

// Uncompressed data at full size goes straight from the file into the block,
// a band of rows per read: each band's stored bytes are read into the end of
// the band's place in the block and widened in place from the front (a
// delivered pixel never takes fewer bytes than a stored one, so the writes
// never overtake the bytes still to be read). A bottom-up band's rows are
// then swapped end for end while they are still in the cache. 32-bit pixels
// shrink, and go through the row buffer instead.
bool TTargaDecoder::ReadStoredImage() {
  if (RunLength || Step != 1 || PixelByPixel)
    return false;
  switch (PixelBits) {
  case 8:
    if (Indexed)
      ReadBands<IndexedConv>();
    else
      ReadBands<GreyConv>();
    break;
  case 16:
    ReadBands<High16Conv>();
    break;
  case 24:
    ReadBands<Bgr24Conv>();
    break;
  default:
    return false;
  }
  PixelsLeft = 0;
  return true;
}

template <class Conv> void TTargaDecoder::ReadBands() {
  static_assert(Conv::In <= Conv::Out, "widening in place needs room");
  if (RowBytes <= 0 || OutHeight <= 0)
    return;
  const size_t row = static_cast<size_t>(RowBytes);
  const size_t stored = static_cast<size_t>(OutWidth) * Conv::In;
  const int32_t band = static_cast<int32_t>(std::max<size_t>(1, (size_t(256) << 10) / row));
  for (int32_t done = 0; done < OutHeight; done += band) {
    const int32_t rows = std::min(band, OutHeight - done);
    uint8_t *first = Pixels + static_cast<size_t>(BottomUp ? OutHeight - done - rows : done) * row;
    uint8_t *tail = first + static_cast<size_t>(rows) * (row - stored);
    ReadBlock(tail, static_cast<size_t>(rows) * stored);
    if (!Conv::Copy)
      for (int32_t r = 0; r < rows; ++r) {
        const uint8_t *from = tail + static_cast<size_t>(r) * stored;
        uint8_t *to = first + static_cast<size_t>(r) * row;
        // Only the band's last rows overlap their own stored bytes; the others
        // may be widened as separate memory, which the compiler vectorises.
        if (to + row <= from)
          ManyApart<Conv>(from, to, OutWidth);
        else
          Conv::Many(from, to, OutWidth);
      }
    if (BottomUp)
      for (int32_t a = 0, b = rows - 1; a < b; ++a, --b)
        SwapRows(first + static_cast<size_t>(a) * row, first + static_cast<size_t>(b) * row, row);
  }
}

void TTargaDecoder::SwapRows(uint8_t *a, uint8_t *b, size_t bytes) {
  uint8_t swap[1024];
  for (size_t at = 0; at < bytes; at += sizeof swap) {
    size_t n = std::min(sizeof swap, bytes - at);
    std::memcpy(swap, a + at, n);
    std::memcpy(a + at, b + at, n);
    std::memcpy(b + at, swap, n);
  }
}

// Stored rows of a bottom-up file come bottom row first: the first goes to
// the last row of the block, and so on up.
void TTargaDecoder::NextBottomUpRow() {
  if (!ImageDecoded) {
    ImageBuffer = Pixels;
    RowsDelivered = 0;
    ImageDecoded = true;
  }
  RowBuffer = ImageBuffer + static_cast<size_t>(OutHeight - RowsDelivered - 1) * static_cast<size_t>(RowBytes);
  ++RowsDelivered;
}

void TTargaDecoder::ConvertRow() {
  switch (PixelBits) {
  case 8:
    if (Indexed)
      ConvertIndexedRow();
    else if (Grey)
      ConvertGreyRow();
    break;
  case 16:
    Convert16Row();
    break;
  case 24:
  case 32:
    ConvertTrueColorRow();
    break;
  }
}

// At full size whole runs and spans of raw pixels are converted at once;
// a preview goes one delivered pixel at a time.
#define TLP_DISPATCH_ROW(Conv)                                                                     \
  do {                                                                                             \
    if (Step == 1 && !PixelByPixel)                                                                \
      ConvertRowFast<Conv>();                                                                      \
    else                                                                                           \
      ConvertRowByPixel<Conv>();                                                                   \
  } while (0)

void TTargaDecoder::ConvertIndexedRow() { TLP_DISPATCH_ROW(IndexedConv); }
void TTargaDecoder::ConvertGreyRow() { TLP_DISPATCH_ROW(GreyConv); }
void TTargaDecoder::Convert16Row() { TLP_DISPATCH_ROW(High16Conv); }
void TTargaDecoder::ConvertTrueColorRow() {
  if (PixelBits == 32)
    TLP_DISPATCH_ROW(Bgra32Conv);
  else
    TLP_DISPATCH_ROW(Bgr24Conv);
}
#undef TLP_DISPATCH_ROW

template <class Conv> void TTargaDecoder::ConvertRowByPixel() {
  uint8_t *d = RowBuffer;
  for (int32_t x = 0; x < OutWidth; ++x) {
    NextPixel();
    Conv::One(Pixel, d);
    d += Conv::Out;
  }
}

template <class Conv> void TTargaDecoder::ConvertRowFast() {
  uint8_t *d = RowBuffer;
  int32_t count = OutWidth;
  if (!RunLength) {
    RawPixels<Conv>(d, count);
  } else {
    // Packets run on across rows: their state lives in RawLeft and RepeatLeft.
    while (count > 0) {
      if (RepeatLeft > 0) {
        int32_t k = std::min(RepeatLeft, count);
        uint8_t value[4];
        Conv::One(RunPixel, value);
        FillPixels<Conv>(d, value, k);
        RepeatLeft -= k;
        d += k * Conv::Out;
        count -= k;
      } else if (RawLeft > 0) {
        int32_t k = std::min(RawLeft, count);
        RawPixels<Conv>(d, k);
        RawLeft -= k;
        d += k * Conv::Out;
        count -= k;
      } else if (BufEnd - BufPos > 128 * Conv::In) {
        // The whole packet is in the buffer: take it from there directly.
        const uint8_t h = *BufPos++;
        const int32_t n = (h & PACKET_COUNT_MASK) + 1;
        const int32_t k = std::min(n, count);
        if (h & RUN_PACKET_BIT) {
          std::memcpy(RunPixel, BufPos, Conv::In);
          BufPos += Conv::In;
          uint8_t value[4];
          Conv::One(RunPixel, value);
          FillPixels<Conv>(d, value, k);
          RepeatLeft = n - k;
          RawLeft = 0;
        } else {
          Conv::Many(BufPos, d, k);
          BufPos += static_cast<ptrdiff_t>(k) * Conv::In;
          RawLeft = n - k;
        }
        d += static_cast<ptrdiff_t>(k) * Conv::Out;
        count -= k;
      } else {
        FetchPackedPixel(false); // a packet header and its first value
        Conv::One(Pixel, d);
        d += Conv::Out;
        --count;
      }
    }
  }
  PixelsLeft -= OutWidth;
}

// `count` consecutive stored pixels, converted straight from the buffer.
template <class Conv> void TTargaDecoder::RawPixels(uint8_t *d, int32_t count) {
  if (Conv::Copy) {
    ReadBlock(d, static_cast<size_t>(count) * Conv::In);
    return;
  }
  while (count > 0) {
    ptrdiff_t avail = BufEnd - BufPos;
    if (avail < Conv::In) {
      if (avail == 0 && !Refill()) {
        const uint8_t missing[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        uint8_t value[4];
        Conv::One(missing, value);
        FillPixels<Conv>(d, value, count);
        return;
      }
      if (BufEnd - BufPos < Conv::In) { // a pixel split by the buffer's end
        ReadPixelValue();
        Conv::One(Pixel, d);
        d += Conv::Out;
        --count;
      }
      continue;
    }
    int32_t n = static_cast<int32_t>(std::min<ptrdiff_t>(count, avail / Conv::In));
    Conv::Many(BufPos, d, n);
    BufPos += static_cast<ptrdiff_t>(n) * Conv::In;
    d += static_cast<ptrdiff_t>(n) * Conv::Out;
    count -= n;
  }
}

void TTargaDecoder::NextPixel() {
  if (RunLength)
    FetchPackedPixel(false);
  else
    FetchRawPixel(false);
  if (--PixelsLeft == 0)
    return; // nothing after the last delivered pixel is read
  ++SourceColumn;
  int32_t n = std::min(FileWidth - SourceColumn, Step - 1);
  if (n > 0) {
    SkipPixels(n);
    SourceColumn += n;
  }
  if (SourceColumn < FileWidth)
    return;
  ++SourceRow;
  SourceColumn = 0;
  while ((SourceRow & RowMask) != 0) {
    SkipPixels(FileWidth);
    ++SourceRow;
  }
}

void TTargaDecoder::FetchRawPixel(bool skip) {
  if (skip) {
    PendingSkip += PixelBytes; // deferred: merged with every other skip
    return;
  }
  if (PendingSkip != 0) {
    DiscardBytes(PendingSkip);
    PendingSkip = 0;
  }
  ReadPixelValue();
}

// A skipped pixel of run-length data is decoded like a delivered one: the
// packets must be walked to find the next value. Only a delivered pixel lands
// in Pixel, so that a preview shows the stored pixel it stands for; a run's
// value is kept apart for the deliveries still to come.
void TTargaDecoder::FetchPackedPixel(bool skip) {
  if (RepeatLeft > 0) {
    --RepeatLeft;
    if (!skip)
      std::memcpy(Pixel, RunPixel, sizeof Pixel);
    return;
  }
  if (--RawLeft < 0) {
    uint8_t h = static_cast<uint8_t>(ReadByte());
    if (h & RUN_PACKET_BIT) {
      RepeatLeft = h & PACKET_COUNT_MASK;
      RawLeft = 0;
      for (int32_t i = 0; i < PixelBytes; ++i)
        RunPixel[i] = static_cast<uint8_t>(ReadByte());
      if (!skip)
        std::memcpy(Pixel, RunPixel, sizeof Pixel);
      return;
    }
    RawLeft = h & PACKET_COUNT_MASK;
  }
  if (skip)
    DiscardBytes(PixelBytes);
  else
    ReadPixelValue();
}

void TTargaDecoder::SkipPixels(int64_t count) {
  if (!RunLength) {
    PendingSkip += count * PixelBytes;
    return;
  }
  if (PixelByPixel) {
    for (int64_t i = 0; i < count; ++i)
      FetchPackedPixel(true);
    return;
  }
  // Whole runs and raw spans at once; the bytes read are the same.
  while (count > 0) {
    if (StreamEnded && RepeatLeft == 0 && RawLeft == 0) {
      // Past the end every packet header reads as 255: runs of 128 pixels
      // of 255 bytes, however many are passed over.
      std::memset(RunPixel, 0xFF, sizeof RunPixel);
      int64_t rest = count % 128;
      RepeatLeft = rest ? static_cast<int32_t>(128 - rest) : 0;
      return;
    }
    if (RepeatLeft > 0) {
      int32_t k = static_cast<int32_t>(std::min<int64_t>(RepeatLeft, count));
      RepeatLeft -= k;
      count -= k;
    } else if (RawLeft > 0) {
      int32_t k = static_cast<int32_t>(std::min<int64_t>(RawLeft, count));
      DiscardBytes(static_cast<int64_t>(k) * PixelBytes);
      RawLeft -= k;
      count -= k;
    } else {
      FetchPackedPixel(true);
      --count;
    }
  }
}
