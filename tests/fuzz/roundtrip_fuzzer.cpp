// Decode an input, write the image back with the encoder, decode that file:
// the pixels (and, for indexed images, the palette) must survive unchanged.
#include "Dtarga.h"
#include "Etarga.h"
#include "FuzzInput.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in = fuzz::Split(data, size);
  const std::string &path = fuzz::WriteFile(in.file, in.fileSize);

  TTargaDecoder first;
  first.MaxBlockBytes = fuzz::kMaxBlockBytes;
  if (in.mode & 1) {
    first.Preview = true;
    first.PreviewMaxWidth = in.boxW;
    first.PreviewMaxHeight = in.boxH;
  }
  if (!first.Decode(path))
    return 0;
  HostImage image{};
  image.Kind = first.TrueColor ? TLP_KIND_FULL24 : TLP_KIND_INDEXED8;
  image.Width = static_cast<uint32_t>(first.OutWidth);
  image.Height = static_cast<uint32_t>(first.OutHeight);
  image.BytesPerRow = first.RowBytes;
  image.Pixels = first.TakePixels();
  image.PaletteCount = static_cast<uint32_t>(first.PaletteCount);
  image.Palette = first.TakePalette();

  static const std::string out = path + ".out.tga";
  TTargaEncoder encoder;
  if (!encoder.SaveToFile(out, &image))
    std::abort();

  TTargaDecoder second;
  if (!second.Decode(out))
    std::abort();
  size_t n = static_cast<size_t>(image.BytesPerRow) * image.Height;
  uint8_t *pixels = second.TakePixels();
  uint8_t *palette = second.TakePalette();
  if (second.OutWidth != first.OutWidth || second.OutHeight != first.OutHeight ||
      second.TrueColor != first.TrueColor || (n && std::memcmp(pixels, image.Pixels, n) != 0))
    std::abort();
  if (image.Kind == TLP_KIND_INDEXED8) {
    // The encoder writes each entry's first three bytes; the decoder adds a 0.
    if (second.PaletteCount != first.PaletteCount ||
        (image.PaletteCount && std::memcmp(palette, image.Palette, 4 * image.PaletteCount) != 0))
      std::abort();
  }
  std::free(pixels);
  std::free(palette);
  std::free(image.Pixels);
  std::free(image.Palette);
  return 0;
}
