#include "Dtarga.h"

#include "Allocation.h"
#include "DecoderPlatform.h"
#include "RowConverters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

using namespace row_converters;

namespace {

using targa::TTargaStatus;

const char kTitle[] = "* TARGA FILE (decoder records) *\n\n";

// Size of a block of `a` × `b` × `c` bytes, or nothing when it does not fit
// in size_t (12.9 GB for the largest header, beyond a 32-bit address space).
// The sides come from 16-bit fields and `c` is a pixel's bytes: the product
// cannot wrap in 64 bits.
std::optional<size_t> BlockSize(uint64_t a, uint64_t b, uint64_t c) {
  const uint64_t n = a * b * c;
  if (n > static_cast<uint64_t>(SIZE_MAX))
    return std::nullopt;
  return static_cast<size_t>(n);
}

// Uncompressed data at full size is read a band of rows of about this many
// bytes at a time.
const size_t kBandBytes = size_t(256) << 10;

// The bytes PacketsInPlace needs in the buffer for one more packet: its
// header, 128 stored pixels, and the 15 a 16-byte copy may read past them.
template <class Conv> constexpr ptrdiff_t kPacketsInPlaceMargin = 1 + 128 * Conv::In + 15;

// What a pixel reads as when the data has ended.
template <class Conv> void FillMissing(uint8_t *d, int32_t count) {
  const uint8_t missing[4] = {TInputBuffer::MissingByte, TInputBuffer::MissingByte, TInputBuffer::MissingByte,
                              TInputBuffer::MissingByte};
  uint8_t value[4];
  Conv::One(missing, value);
  FillPixels<Conv>(d, value, count);
}

} // namespace

TTargaDecoder::TTargaDecoder() = default;

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
  Source = nullptr; // OpenFile opens the named file
  bool ok = OpenFile() && Run();
  CloseFile();
  return ok;
}

bool TTargaDecoder::Decode(TByteSource &source) {
  InfoText = kTitle;
  FileName.clear();
  Source = &source;
  bool ok = OpenFile() && Run();
  CloseFile();
  return ok;
}

bool TTargaDecoder::Run() { return ReadHeader() && (HeaderOnly || ReadImage()); }

bool TTargaDecoder::Fail(TTargaStatus status) {
  Status = status;
  return false;
}

bool TTargaDecoder::OpenFile() {
  PaletteCount = 0;
  ImageBuffer = nullptr;
  RowBuffer = nullptr;
  std::free(Pixels);
  Pixels = nullptr;
  std::free(Palette);
  Palette = nullptr;
  Status = TTargaStatus::Accepted;
  if (!Source && File.Open(FileName))
    Source = &File;
  Input.Start(Source); // without one, nothing is read
  return Source ? true : Fail(TTargaStatus::CannotOpen);
}

void TTargaDecoder::CloseFile() {
  File.Close();
  Source = nullptr;
}

void TTargaDecoder::ReadPixelValue() {
  for (int32_t i = 0; i < PixelBytes; ++i)
    Pixel[i] = ReadByte();
}

// ------------------------------------------------------------ header

bool TTargaDecoder::ReadHeader() {
  if (!ReadHeaderBytes())
    return false;
  AppendInfoLines(); // before any check: a rejected header has them too
  if (!CheckImageFields())
    return false;
  ChoosePreviewStep();
  if (!SizePixelBlock())
    return false;
  SkipIdField();
  return TakeColorMap();
}

bool TTargaDecoder::ReadHeaderBytes() {
  uint8_t bytes[targa::kHeaderSize];
  if (ReadBytes(bytes, static_cast<int32_t>(targa::kHeaderSize)) < static_cast<int32_t>(targa::kHeaderSize))
    return Fail(TTargaStatus::TooShort);
  Header = targa::TTargaHeader::Parse(bytes);
  PixelBytes = Header.PixelBytes();
  return true;
}

void TTargaDecoder::AppendInfoLines() {
  const targa::TTargaHeader &h = Header;
  const std::pair<const char *, unsigned> lines[] = {
      {"ColorMapType : ", h.ColorMapType}, {"SubType : ", h.ImageType},
      {"ColorMapLen : ", h.ColorMapLen},   {"Width : ", h.ImageWidth},
      {"Height : ", h.ImageHeight},        {"PixelSize : ", static_cast<unsigned>(PixelBytes)},
      {"Flags : ", h.ImageDescriptor}};
  InfoText.reserve(InfoText.size() + 128); // one allocation for the seven lines
  for (const auto &line : lines)
    InfoText.append(line.first).append(std::to_string(line.second)).push_back('\n');
}

bool TTargaDecoder::CheckImageFields() {
  const TTargaStatus status = targa::CheckImageFields(Header);
  if (status != TTargaStatus::Accepted)
    return Fail(status);
  RunLength = Header.RunLength();
  if (RunLength) {
    RepeatLeft = 0;
    RawLeft = 0;
  }
  Indexed = Header.BaseType() == targa::kColorMapped;
  Grey = Header.BaseType() == targa::kGrey;
  OutBytes = Indexed ? 1 : 3;
  PixelBits = PixelBytes * 8;
  FileWidth = Header.ImageWidth;
  FileHeight = Header.ImageHeight;
  BottomUp = Header.BottomUp();
  ImageDecoded = false;
  return true;
}

void TTargaDecoder::ChoosePreviewStep() {
  Step = 1;
  StepShift = 0;
  RowMask = 0;
  if (Preview) {
    // A box of 0 is outside the interface; as 1 the search still ends.
    uint32_t boxW = PreviewMaxWidth == 0 ? 1u : static_cast<uint32_t>(PreviewMaxWidth);
    uint32_t boxH = PreviewMaxHeight == 0 ? 1u : static_cast<uint32_t>(PreviewMaxHeight);
    while (static_cast<uint32_t>(FileWidth / Step) >= boxW || static_cast<uint32_t>(FileHeight / Step) >= boxH)
      Step *= 2;
    Step /= 2;
    if (Step == 0)
      Step = 1;
    while ((Step & (1 << StepShift)) == 0) {
      RowMask |= 1 << StepShift;
      ++StepShift;
    }
  }
  OutWidth = (FileWidth + Step - 1) >> StepShift;
  OutHeight = (FileHeight + Step - 1) >> StepShift;
}

bool TTargaDecoder::SizePixelBlock() {
  if (HeaderOnly)
    return true;
  std::optional<size_t> bytes = BlockSize(static_cast<uint64_t>(OutWidth), static_cast<uint64_t>(OutHeight),
                                          static_cast<uint64_t>(OutBytes));
  if (!bytes || *bytes > MaxBlockBytes)
    return Fail(TTargaStatus::TooLarge);
  BlockBytes = *bytes;
  return true;
}

void TTargaDecoder::SkipIdField() { Input.Discard(Header.IdLength); }

// Header-only runs check the colour map's fields and leave the entries unread.
bool TTargaDecoder::TakeColorMap() {
  const TTargaStatus status = targa::CheckColorMapFields(Header);
  if (status != TTargaStatus::Accepted)
    return Fail(status);
  const int32_t length = Header.ColorMapLen;
  if (length != 0 && !HeaderOnly) {
    Palette = static_cast<uint8_t *>(allocation::Malloc(static_cast<size_t>(length) * 4));
    if (!Palette)
      return Fail(TTargaStatus::OutOfMemory);
    if (!ReadColorMap(length, Header.ColorMapEntrySize))
      return Fail(TTargaStatus::ColorMapEntrySize);
  }
  PaletteCount = length;
  return true;
}

bool TTargaDecoder::ReadColorMap(int32_t count, int32_t entryBits) {
  if (entryBits != targa::kColorMapEntryBits)
    return false;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t *entry = Palette + 4 * i;
    entry[0] = ReadByte(); // blue
    entry[1] = ReadByte(); // green
    entry[2] = ReadByte(); // red
    entry[3] = 0;
  }
  return true;
}

// ------------------------------------------------------------ image

bool TTargaDecoder::ReadImage() {
  TrueColor = !Indexed;
  OutBits = TrueColor ? 24 : 8;
  RowBytes = OutBits / 8 * OutWidth;
  // Never null, also for an empty image: null means "cannot be read".
  Pixels = static_cast<uint8_t *>(allocation::Malloc(BlockBytes ? BlockBytes : 1));
  if (!Pixels)
    return Fail(TTargaStatus::OutOfMemory);
  decoder_platform::AdviseLargeBlock(Pixels, BlockBytes);
  SourceRow = 0;
  SourceColumn = 0;
  PendingSkip = 0;
  PixelsLeft = static_cast<int64_t>(OutWidth) * OutHeight;
  if (RunLength)
    Input.ReadWhole(); // every packet up to the last delivered pixel is read
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

// Uncompressed data at full size goes straight from the source into the
// block, a band of rows per read. Where a delivered pixel takes at least the
// bytes of a stored one, each band's stored bytes are read into the end of
// the band's place in the block and widened in place from the front (the
// writes never overtake the bytes still to be read); a bottom-up band's rows
// are then swapped end for end while they are still in the cache. 32-bit
// pixels shrink, and go through a band buffer of their own.
bool TTargaDecoder::ReadStoredImage() {
  if (RunLength || Step != 1 || PixelByPixel)
    return false;
  const bool read = WithRowConverter(PixelBits, Indexed, [this](auto conv) {
    using Conv = decltype(conv);
    if constexpr (Conv::In > Conv::Out) {
      return ReadShrinkingBands<Conv>();
    } else {
      ReadBands<Conv>();
      return true;
    }
  });
  if (read)
    PixelsLeft = 0;
  return read;
}

template <class Conv> void TTargaDecoder::ReadBands() {
  static_assert(Conv::In <= Conv::Out, "widening in place needs room");
  if (RowBytes <= 0 || OutHeight <= 0)
    return;
  const size_t row = static_cast<size_t>(RowBytes);
  const size_t stored = static_cast<size_t>(OutWidth) * Conv::In;
  const int32_t band = static_cast<int32_t>(std::max<size_t>(1, kBandBytes / row));
  for (int32_t done = 0; done < OutHeight; done += band) {
    const int32_t rows = std::min(band, OutHeight - done);
    uint8_t *first = Pixels + static_cast<size_t>(BottomUp ? OutHeight - done - rows : done) * row;
    uint8_t *tail = first + static_cast<size_t>(rows) * (row - stored);
    Input.ReadBlock(tail, static_cast<size_t>(rows) * stored);
    if (!Conv::Copy)
      for (int32_t r = 0; r < rows; ++r) {
        const uint8_t *from = tail + static_cast<size_t>(r) * stored;
        uint8_t *to = first + static_cast<size_t>(r) * row;
        // Only the band's last rows overlap their own stored bytes; the others
        // may be widened as separate memory.
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

template <class Conv> bool TTargaDecoder::ReadShrinkingBands() {
  if (RowBytes <= 0 || OutHeight <= 0)
    return true;
  const size_t row = static_cast<size_t>(RowBytes);
  const size_t stored = static_cast<size_t>(OutWidth) * Conv::In;
  const int32_t band = static_cast<int32_t>(
      std::min<size_t>(static_cast<size_t>(OutHeight), std::max<size_t>(1, kBandBytes / stored)));
  std::unique_ptr<uint8_t, void (*)(void *)> buffer(
      static_cast<uint8_t *>(allocation::Malloc(static_cast<size_t>(band) * stored)), std::free);
  if (!buffer)
    return false; // the row-by-row path needs no buffer
  for (int32_t done = 0; done < OutHeight; done += band) {
    const int32_t rows = std::min(band, OutHeight - done);
    Input.ReadBlock(buffer.get(), static_cast<size_t>(rows) * stored);
    for (int32_t r = 0; r < rows; ++r) {
      const int32_t y = BottomUp ? OutHeight - 1 - (done + r) : done + r;
      ManyApart<Conv>(buffer.get() + static_cast<size_t>(r) * stored, Pixels + static_cast<size_t>(y) * row,
                      OutWidth);
    }
  }
  return true;
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
  WithRowConverter(PixelBits, Indexed, [this](auto conv) { ConvertRowWith<decltype(conv)>(); });
}

// At full size whole runs and spans of raw pixels are converted at once; a
// preview of uncompressed data picks its pixels out of the buffer; a
// preview of run-length data takes its pixels one at a time and passes over
// the packets between them whole. One function per converter, never folded
// into ConvertRow: each row loop keeps the registers to itself (measured: 4 %
// fewer instructions in run-length rows than with all five in one function).
template <class Conv> void TTargaDecoder::ConvertRowWith() {
  if (PixelByPixel)
    ConvertRowByPixel<Conv>();
  else if (Step == 1)
    ConvertRowFast<Conv>();
  else if (!RunLength)
    ConvertPreviewRow<Conv>();
  else
    ConvertPackedPreviewRow<Conv>();
}

template <class Conv> void TTargaDecoder::ConvertRowByPixel() {
  uint8_t *d = RowBuffer;
  for (int32_t x = 0; x < OutWidth; ++x) {
    NextPixel();
    Conv::One(Pixel, d);
    d += Conv::Out;
  }
}

// One delivered row of a preview of uncompressed data: every Step-th stored
// pixel of a stored row, picked out of the buffer. The bytes consumed are
// those of the one-pixel path: the gaps between delivered pixels are passed
// over, and nothing after the image's last delivered pixel is touched. When
// the gap after the row is larger than the buffer, a refill asks for no
// more than the row still needs, so the bytes read stay close to those
// delivered.
template <class Conv> void TTargaDecoder::ConvertPreviewRow() {
  const int64_t stride = static_cast<int64_t>(Step) * Conv::In; // from one delivered pixel to the next
  const int64_t tail = (static_cast<int64_t>(FileWidth) - (static_cast<int64_t>(OutWidth) - 1) * Step - 1) * Conv::In;
  const int64_t skippedRows = static_cast<int64_t>(Step - 1) * FileWidth * Conv::In;
  const bool lastRow = PixelsLeft <= OutWidth;
  const bool farApart = stride - Conv::In > TInputBuffer::Size;
  const bool rowAlone = lastRow || tail + skippedRows > TInputBuffer::Size;
  uint8_t *d = RowBuffer;
  for (int32_t x = 0; x < OutWidth;) {
    const int64_t need = (static_cast<int64_t>(OutWidth) - x - 1) * stride + Conv::In;
    const size_t want = farApart ? Conv::In
                        : rowAlone ? static_cast<size_t>(std::min<int64_t>(need, TInputBuffer::Size))
                                   : TInputBuffer::Size;
    if (PendingSkip != 0) {
      Input.Discard(PendingSkip, want);
      PendingSkip = 0;
    }
    const ptrdiff_t avail = Input.Available();
    if (avail >= Conv::In) {
      const int32_t k = static_cast<int32_t>(std::min<int64_t>(OutWidth - x, 1 + (avail - Conv::In) / stride));
      for (int32_t i = 0; i < k; ++i, d += Conv::Out)
        Conv::One(Input.Next() + i * stride, d);
      Input.Advance((k - 1) * stride + Conv::In);
      x += k;
      PendingSkip = stride - Conv::In;
    } else if (avail == 0) {
      if (!Input.Refill(want)) {
        FillMissing<Conv>(d, OutWidth - x);
        break;
      }
    } else { // a pixel split by the buffer's end
      ReadPixelValue();
      Conv::One(Pixel, d);
      d += Conv::Out;
      ++x;
      PendingSkip = stride - Conv::In;
    }
  }
  PixelsLeft -= OutWidth;
  PendingSkip = PixelsLeft == 0 ? 0 : tail + skippedRows; // the rest of the row and the rows left out
}

// One delivered row of a preview of run-length data: a pixel, the Step - 1
// after it passed over, and so on; after the row's last pixel the rest of
// the stored row and the rows left out. Nothing after the image's last
// delivered pixel is read, as on the one-pixel path.
template <class Conv> void TTargaDecoder::ConvertPackedPreviewRow() {
  const int64_t tail = static_cast<int64_t>(FileWidth) - (static_cast<int64_t>(OutWidth) - 1) * Step - 1;
  const int64_t skippedRows = static_cast<int64_t>(Step - 1) * FileWidth;
  uint8_t *d = RowBuffer;
  for (int32_t x = 0; x + 1 < OutWidth; ++x, d += Conv::Out) {
    TakePackedPixel<Conv>(d);
    SkipPacked<Conv>(Step - 1);
  }
  if (OutWidth > 0)
    TakePackedPixel<Conv>(d);
  PixelsLeft -= OutWidth;
  if (PixelsLeft > 0)
    SkipPacked<Conv>(tail + skippedRows);
}

// The next stored pixel of run-length data into d: from the current run,
// from the buffer when the pixel (and its packet's header) lies there whole,
// else through the one-pixel fetch. A preview's path: the decode fuzzer's
// previews (mode bit 0 set), its short reads for the fetch, and
// Decoder.RandomFilesFastPathsMatchTheModelAndTheOnePixelPath.
template <class Conv> void TTargaDecoder::TakePackedPixel(uint8_t *d) {
  if (RepeatLeft > 0) {
    --RepeatLeft;
    Conv::One(RunPixel, d);
    return;
  }
  const uint8_t *p = Input.Next();
  if (RawLeft > 0) {
    if (Input.Available() >= Conv::In) {
      --RawLeft;
      Conv::One(p, d);
      Input.Advance(Conv::In);
      return;
    }
  } else if (Input.Available() >= 1 + Conv::In) {
    const targa::TPacket packet = targa::PacketOf(p[0]);
    if (packet.Run())
      std::memcpy(RunPixel, p + 1, Conv::In);
    Enter(packet, 1);
    Conv::One(p + 1, d);
    Input.Advance(1 + Conv::In);
    return;
  }
  FetchPackedPixel(false);
  Conv::One(Pixel, d);
}

// Passes over `count` stored pixels of run-length data: what is left of the
// current packet, then whole packets where they lie in the buffer, with the
// position and the count in registers; a packet cut by the buffer's end, or
// the one the count ends in, has its header taken singly. The bytes consumed
// are those of the one-pixel path. A preview's path, as TakePackedPixel's;
// Preview.LongRunsAreSkippedWhole and Import.MissingBytesReadAs255 (past the
// end) too.
template <class Conv> void TTargaDecoder::SkipPacked(int64_t count) {
  const int32_t in = Conv::In;
  for (;;) {
    if (RepeatLeft > 0) {
      const int32_t k = static_cast<int32_t>(std::min<int64_t>(RepeatLeft, count));
      RepeatLeft -= k;
      count -= k;
    } else if (RawLeft > 0) {
      const int32_t k = static_cast<int32_t>(std::min<int64_t>(RawLeft, count));
      Input.Discard(static_cast<int64_t>(k) * in);
      RawLeft -= k;
      count -= k;
    }
    if (count == 0)
      return;
    if (Input.Ended()) {
      // Past the end every packet header is the missing byte: runs of the
      // missing pixel, however many are passed over.
      const targa::TPacket missing = targa::PacketOf(TInputBuffer::MissingByte);
      std::memset(RunPixel, TInputBuffer::MissingByte, sizeof RunPixel);
      const int32_t rest = static_cast<int32_t>(count % missing.Count());
      Enter(missing, rest ? rest : missing.Count());
      return;
    }
    const uint8_t *const start = Input.Next();
    const uint8_t *const end = start + Input.Available();
    const uint8_t *p = start;
    // The walk is a chain of dependent loads: each header says where the
    // next one is. The pixel size is a constant here, so that a raw packet
    // costs the load and two additions, and a run nothing that waits for it.
    while (p < end) {
      const targa::TPacket packet = targa::PacketOf(*p);
      const ptrdiff_t bytes = 1 + (packet.Run() ? Conv::In : packet.Count() * Conv::In);
      if (packet.Count() >= count || bytes > end - p)
        break;
      p += bytes;
      count -= packet.Count();
    }
    Input.Advance(p - start);
    // The next packet's header, and a run's value: what is left of it is
    // passed over above.
    const targa::TPacket packet = targa::PacketOf(ReadByte());
    if (packet.Run())
      for (int32_t i = 0; i < in; ++i)
        RunPixel[i] = ReadByte();
    Enter(packet, 0);
  }
}

// A full decode's row: what is left of the current packet, whole packets in
// place, else the one-pixel fetch near the buffer's end. The decode fuzzer's
// full decodes (mode bit 0 clear; its short reads for the fetch) and
// Import.RunPacketsCrossRows.
template <class Conv> void TTargaDecoder::ConvertRowFast() {
  uint8_t *d = RowBuffer;
  int32_t count = OutWidth;
  if (!RunLength) {
    // Only 32-bit rows come here uncompressed, when the band path could not
    // have its buffer.
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
      } else if (Input.Available() >= kPacketsInPlaceMargin<Conv>) {
        const int32_t left = PacketsInPlace<Conv>(d, count);
        d += static_cast<ptrdiff_t>(count - left) * Conv::Out;
        count = left;
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

// Whole packets taken where they lie in the buffer, while a longest packet
// and the 16 bytes a copy may read past it are there: the position, the
// row and the count stay in registers (a store through the row could alias
// the members). Returns how many of the row's `count` pixels are still to
// come; a packet that runs past the row leaves its remainder in RawLeft or
// RepeatLeft. The SSE2 loop takes 24-bit rows of 144 pixels and more: the
// fuzzer's full decodes of such rows, and the wide files (130 to 1629
// pixels) of Decoder.RandomFilesFastPathsMatchTheModelAndTheOnePixelPath.
template <class Conv> int32_t TTargaDecoder::PacketsInPlace(uint8_t *d, int32_t count) {
  const uint8_t *const start = Input.Next();
  const uint8_t *p = start;
  const uint8_t *const last = start + (Input.Available() - kPacketsInPlaceMargin<Conv>);
#if defined(__SSE2__)
  if constexpr (Conv::Copy && Conv::In == 3) {
    // While the row has room for a longest packet and the 16-byte stores
    // past it, no packet is cut by the row's end and no store needs a bound:
    // a packet costs a fixed number of stores and, past ten pixels, a loop.
    while (count >= 128 + 16 && p <= last) {
      const targa::TPacket packet = targa::PacketOf(*p++);
      const int32_t n = packet.Count();
      const ptrdiff_t bytes = static_cast<ptrdiff_t>(n) * 3;
      if (packet.Run()) {
        // Five pixels and the first byte of a sixth in one register, stored
        // every 15 bytes.
        __m128i x = _mm_cvtsi32_si128(static_cast<int>(Load32(p) & 0xFFFFFFu));
        x = _mm_or_si128(x, _mm_slli_si128(x, 3));
        x = _mm_or_si128(x, _mm_slli_si128(x, 6));
        x = _mm_or_si128(x, _mm_slli_si128(x, 12));
        Store128(d, x);
        Store128(d + 15, x);
        for (ptrdiff_t at = 30; at < bytes; at += 15)
          Store128(d + at, x);
        p += 3;
      } else {
        Store128(d, Load128(p));
        Store128(d + 16, Load128(p + 16));
        Store128(d + 32, Load128(p + 32));
        Store128(d + 48, Load128(p + 48));
        for (ptrdiff_t at = 64; at < bytes; at += 16)
          Store128(d + at, Load128(p + at));
        p += bytes;
      }
      d += bytes;
      count -= n;
    }
  }
#endif
  while (count > 0 && p <= last) {
    const targa::TPacket packet = targa::PacketOf(*p++);
    const int32_t n = packet.Count();
    const int32_t k = std::min(n, count);
    const size_t room = static_cast<size_t>(count) * Conv::Out;
    if (packet.Run()) {
      uint8_t value[4] = {0, 0, 0, 0};
      Conv::One(p, value);
      if (Conv::Out == 3 && k <= 8 && room > static_cast<size_t>(k) * 3) {
        // Short runs, most runs of a photograph: a 4-byte store per pixel,
        // the next one overwriting the spare byte (no 64-bit patterns, which
        // cost the 32-bit build register pairs). A stored pixel that is
        // delivered as it is loads from the buffer, which holds a byte after
        // it: a word load from the three bytes just stored would wait for them.
        uint32_t v;
        std::memcpy(&v, Conv::Copy ? p : value, 4);
        for (int32_t i = 0; i < k; ++i)
          std::memcpy(d + 3 * i, &v, 4);
      } else if (Conv::Out == 3)
        FillThree(d, value, k, room);
      else
        FillPixels<Conv>(d, value, k);
      if (n > k) {
        std::memcpy(RunPixel, p, Conv::In);
        Enter(packet, k);
      }
      p += Conv::In;
    } else {
      if (Conv::Copy)
        CopyWithSlack(d, p, static_cast<size_t>(k) * Conv::In, room);
      else
        Conv::Many(p, d, k);
      p += static_cast<ptrdiff_t>(k) * Conv::In;
      if (n > k)
        Enter(packet, k);
    }
    d += static_cast<ptrdiff_t>(k) * Conv::Out;
    count -= k;
  }
  Input.Advance(p - start);
  return count;
}

// `count` consecutive stored pixels, converted straight from the buffer.
template <class Conv> void TTargaDecoder::RawPixels(uint8_t *d, int32_t count) {
  if (Conv::Copy) {
    Input.ReadBlock(d, static_cast<size_t>(count) * Conv::In);
    return;
  }
  while (count > 0) {
    ptrdiff_t avail = Input.Available();
    if (avail < Conv::In) {
      if (avail == 0 && !Input.Refill()) {
        FillMissing<Conv>(d, count);
        return;
      }
      if (Input.Available() < Conv::In) { // a pixel split by the buffer's end
        ReadPixelValue();
        Conv::One(Pixel, d);
        d += Conv::Out;
        --count;
      }
      continue;
    }
    int32_t n = static_cast<int32_t>(std::min<ptrdiff_t>(count, avail / Conv::In));
    Conv::Many(Input.Next(), d, n);
    Input.Advance(static_cast<ptrdiff_t>(n) * Conv::In);
    d += static_cast<ptrdiff_t>(n) * Conv::Out;
    count -= n;
  }
}

void TTargaDecoder::NextPixel() {
  if (RunLength)
    FetchPackedPixel(false);
  else
    FetchRawPixel();
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

// Delivered pixels only: SkipPixels passes over a raw span with one deferred
// addition for the whole span, merged with every other skip.
void TTargaDecoder::FetchRawPixel() {
  if (PendingSkip != 0) {
    Input.Discard(PendingSkip);
    PendingSkip = 0;
  }
  ReadPixelValue();
}

// A skipped pixel of run-length data is decoded like a delivered one: the
// packets must be walked to find the next value. Only a delivered pixel lands
// in Pixel, so that a preview shows the stored pixel it stands for; a run's
// value is kept apart for the deliveries still to come. The one-pixel path:
// the decode fuzzer's pixel-by-pixel run, which every fast path is checked
// against, as the random files' test does.
void TTargaDecoder::FetchPackedPixel(bool skip) {
  if (RepeatLeft > 0) {
    --RepeatLeft;
    if (!skip)
      std::memcpy(Pixel, RunPixel, sizeof Pixel);
    return;
  }
  if (--RawLeft < 0) {
    const targa::TPacket packet = targa::PacketOf(ReadByte());
    Enter(packet, 1);
    if (packet.Run()) {
      for (int32_t i = 0; i < PixelBytes; ++i)
        RunPixel[i] = ReadByte();
      if (!skip)
        std::memcpy(Pixel, RunPixel, sizeof Pixel);
      return;
    }
  }
  if (skip)
    Input.Discard(PixelBytes);
  else
    ReadPixelValue();
}

// The one-pixel path's skip: run-length pixels fetched and dropped one by
// one, the pixels of uncompressed data added to the gap before the next read.
void TTargaDecoder::SkipPixels(int64_t count) {
  if (!RunLength) {
    PendingSkip += count * PixelBytes;
    return;
  }
  for (int64_t i = 0; i < count; ++i)
    FetchPackedPixel(true);
}
