// Decode an input, write the image back with the encoder, decode that file:
// the pixels (and, for indexed images, the palette) must survive unchanged.
// The mode byte also chooses how the record reaches the encoder: as 16-bit
// pixels, at padded or negative row pitches, stopped by the progress
// callback, or as a record the encoder must refuse without touching the file.
#include "Dtarga.h"
#include "Etarga.h"
#include "FuzzInput.h"

#include <cstring>

namespace {

using fuzz::Bytes;

int32_t g_stopAt = 0; // the row at which the progress callback answers stop; 0: never
int32_t g_lastRow = 0;
int32_t Progress(int32_t row) {
  if (row != g_lastRow + 1)
    std::abort(); // rows are announced in order, from 1
  g_lastRow = row;
  return row == g_stopAt ? -1 : 0;
}

uint8_t Widen5(unsigned c) { return static_cast<uint8_t>((c * 255 + 15) / 31); }

struct Decoded {
  bool ok = false, trueColor = false;
  uint32_t w = 0, h = 0;
  Bytes pixels, palette;
};

Decoded Decode(TByteSource &source, size_t cap, bool preview, int32_t boxW, int32_t boxH) {
  TTargaDecoder d;
  d.MaxBlockBytes = cap;
  d.Preview = preview;
  d.PreviewMaxWidth = boxW;
  d.PreviewMaxHeight = boxH;
  Decoded r;
  r.ok = d.Decode(source);
  if (!r.ok)
    return r;
  r.trueColor = d.TrueColor;
  r.w = static_cast<uint32_t>(d.OutWidth);
  r.h = static_cast<uint32_t>(d.OutHeight);
  uint8_t *px = d.TakePixels(), *pal = d.TakePalette();
  r.pixels.assign(px, px + static_cast<size_t>(d.RowBytes) * r.h);
  if (pal)
    r.palette.assign(pal, pal + 4 * static_cast<size_t>(d.PaletteCount));
  std::free(px);
  std::free(pal);
  return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::Input in = fuzz::Split(data, size);
  TMemorySource source(in.file, in.fileSize);
  const size_t cap = fuzz::BlockCap(data, size);
  const Decoded first = Decode(source, cap, (in.mode & 1) != 0, in.boxW, in.boxH);
  if (!first.ok)
    return 0;
  // A large image costs its size several times over (copies, the file, the
  // second decode): one in sixteen of them makes the round trip.
  if (uint64_t(first.w) * first.h > (1u << 14) && (fuzz::Hash(data, size) >> 8) % 16 != 0)
    return 0;
  const int kindChoice = (in.mode >> 1) & 3;  // 1: 16-bit, 2: refused, else as decoded
  const int pitchChoice = (in.mode >> 3) & 3; // bit 0: padded rows, bit 1: negative pitch
  const int stopChoice = in.mode >> 5;        // 0: no stop
  const uint32_t w = first.w, h = first.h;

  // The rows the encoder gets, and the pixels the second decode must give.
  int32_t kind = first.trueColor ? TLP_KIND_FULL24 : TLP_KIND_INDEXED8;
  uint32_t bpp = first.trueColor ? 3 : 1;
  Bytes rows = first.pixels, expect = first.pixels;
  if (kindChoice == 1 && first.trueColor) {
    kind = TLP_KIND_HIGH16;
    bpp = 2;
    rows.clear();
    expect.clear();
    for (size_t i = 0; i < first.pixels.size(); i += 3) {
      const unsigned b = first.pixels[i] >> 3, g = first.pixels[i + 1] >> 3, r = first.pixels[i + 2] >> 3;
      const unsigned v = r << 10 | g << 5 | b | (first.pixels[i] & 1u) << 15; // bit 15 carries no colour
      rows.insert(rows.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
      expect.insert(expect.end(), {Widen5(b), Widen5(g), Widen5(r)});
    }
  }
  const size_t rowLen = static_cast<size_t>(w) * bpp;
  const size_t pitch = rowLen + ((pitchChoice & 1) ? 1 + in.boxByteW % 7 : 0);
  const bool negative = (pitchChoice & 2) != 0;
  Bytes memory(pitch * h + 1, 0xEE); // padding that must never reach the file
  for (uint32_t r = 0; r < h; ++r)
    if (rowLen)
      std::memcpy(memory.data() + (negative ? h - 1 - r : r) * pitch, rows.data() + r * rowLen, rowLen);
  Bytes palette = first.palette;
  for (size_t i = 3; i < palette.size(); i += 4)
    palette[i] = 0xAB; // the reserved byte never reaches the file
  HostImage record{};
  record.Kind = kind;
  record.Pixels = memory.data() + (negative && h ? (h - 1) * pitch : 0);
  record.BytesPerRow = negative ? -static_cast<int32_t>(pitch) : static_cast<int32_t>(pitch);
  record.Width = w;
  record.Height = h;
  record.Palette = palette.empty() ? nullptr : palette.data();
  record.PaletteCount = static_cast<uint32_t>(palette.size() / 4);

  // Records a Targa file cannot hold: refused before the file is touched.
  const bool refused = kindChoice == 2;
  if (refused) {
    switch (in.boxByteH % 4) {
    case 0:
      record.Kind = 3;
      break;
    case 1:
      record.Kind = 0;
      break;
    case 2:
      record.Width += 65536;
      break;
    default:
      if (kind == TLP_KIND_INDEXED8)
        record.PaletteCount = 65536;
      else
        record.Height += 65536;
    }
  }

  static fuzz::MemFile out;
  const uint8_t before[] = {'k', 'e', 'e', 'p'};
  out.Write(before, sizeof before);
  g_stopAt = stopChoice && h ? static_cast<int32_t>(1 + (in.boxByteH + stopChoice) % h) : 0;
  g_lastRow = 0;
  TTargaEncoder encoder;
  encoder.Progress = Progress;
  const bool ok = encoder.SaveToFile(out.Path(), &record);
  if (refused) {
    if (ok || out.Read() != Bytes(before, before + sizeof before) || g_lastRow != 0)
      std::abort();
    return 0;
  }
  if (!ok || g_lastRow != (g_stopAt ? g_stopAt : static_cast<int32_t>(h)))
    std::abort();

  // The file: the header the record describes, the colour map, the rows
  // before the stop.
  const Bytes file = out.Read();
  const uint32_t written = g_stopAt ? static_cast<uint32_t>(g_stopAt) - 1 : h;
  const size_t mapBytes = kind == TLP_KIND_INDEXED8 ? 3 * palette.size() / 4 : 0;
  if (file.size() != targa::kHeaderSize + mapBytes + written * rowLen)
    std::abort();
  const targa::TTargaHeader header = targa::TTargaHeader::Parse(file.data());
  if (header.ImageWidth != w || header.ImageHeight != h || header.PixelDepth != bpp * 8 ||
      header.ImageType != (kind == TLP_KIND_INDEXED8 ? targa::kColorMapped : targa::kTrueColor) ||
      header.ImageDescriptor != targa::kTopLeftOriginBit || header.IdLength != 0 ||
      header.ColorMapLen != mapBytes / 3)
    std::abort();

  // Read back, rows after the stop missing: they read as bytes of 255.
  TMemorySource back(file.data(), file.size());
  const Decoded second = Decode(back, cap, false, 0, 0);
  const size_t outRow = static_cast<size_t>(w) * (kind == TLP_KIND_INDEXED8 ? 1 : 3);
  if (!second.ok || second.w != w || second.h != h || second.trueColor != first.trueColor)
    std::abort();
  for (size_t i = 0; i < second.pixels.size(); ++i)
    if (second.pixels[i] != (i < written * outRow ? expect[i] : 0xFF))
      std::abort();
  if (kind == TLP_KIND_INDEXED8) {
    // The encoder writes each entry's first three bytes; the decoder adds a 0.
    if (second.palette != first.palette)
      std::abort();
  }
  return 0;
}
