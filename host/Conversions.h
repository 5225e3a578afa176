// The host's colour conversions: what tga-host does to a picture before the
// plug-in writes it, chosen by the host code that EXPORT_BeforeTransform
// reports. Plain C++ with no file formats, so that the unit tests build it on
// every platform.
#pragma once

#include "TargaPlugin.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A picture as the host holds it before conversion: rows top first, packed,
// three bytes per pixel in the order red, green, blue. Not owned.
struct RgbView {
  uint32_t width = 0, height = 0;
  const uint8_t *rgb = nullptr;
};

// A picture that owns its pixels, laid out as RgbView says. The block is not
// filled in advance: a reader that gives up early has touched only the rows
// it wrote.
struct RgbPicture {
  uint32_t width = 0, height = 0;
  std::unique_ptr<uint8_t[]> rgb;
  // False when width x height pixels do not fit in memory addresses; throws
  // std::bad_alloc when memory is short.
  bool Allocate(uint32_t w, uint32_t h);
  uint8_t *Row(uint32_t y) { return rgb.get() + size_t(y) * width * 3; }
  RgbView View() const { return {width, height, rgb.get()}; }
};

// A colour as 0x00RRGGBB: also how a palette entry reads as a little-endian
// 32-bit value.
using Colour = uint32_t;
inline Colour MakeColour(uint8_t r, uint8_t g, uint8_t b) {
  return (Colour(r) << 16) | (Colour(g) << 8) | b;
}
inline uint8_t Red(Colour c) { return static_cast<uint8_t>(c >> 16); }
inline uint8_t Green(Colour c) { return static_cast<uint8_t>(c >> 8); }
inline uint8_t Blue(Colour c) { return static_cast<uint8_t>(c); }

// A converted picture that owns its blocks, ready for EXPORT_WriteToFile.
// Rows are padded to a multiple of 4 bytes, as a Windows host keeps them; the
// plug-in writes only Width pixels of each.
struct ConvertedImage {
  int32_t kind = 0; // TLP_KIND_*
  uint32_t width = 0, height = 0;
  int32_t bytesPerRow = 0;
  std::vector<uint8_t> pixels;
  std::vector<Colour> palette; // kind 1 only

  // The record the plug-in reads; it points into this object, which must
  // outlive it and stay unchanged meanwhile.
  HostImage Record();

private:
  std::vector<uint8_t> paletteBlock_; // blue, green, red, 0 per entry
};

enum class ConvertStatus { Ok, UnknownCode, TooLarge };

// Told each step of a conversion as it goes ("error diffusion", 300 of 6000
// rows); `total` 0 for a step that cannot tell how far it is.
using ConvertProgress = std::function<void(const char *step, uint64_t done, uint64_t total)>;

// Converts `in` for the host code of a method (Methods.h; see Conversions.cpp).
// TooLarge when the pixel block would not fit in memory addresses.
ConvertStatus Convert(int32_t code, const RgbView &in, ConvertedImage *out,
                      const ConvertProgress &progress = nullptr);

// ---- The steps, for the tests ---------------------------------------------

// Bytes per row of `kind` for `width` pixels, rounded up to 4; nothing when
// the pixel block of `height` such rows does not fit in a size_t.
std::optional<size_t> PaddedBytesPerRow(int32_t kind, uint32_t width, uint32_t height);

// The nearest of the 32 levels of a 5-bit channel: v * 31 / 255, rounded.
uint8_t FiveBits(uint8_t v);
// A kind 2 word: blue in bits 0-4, green 5-9, red 10-14, bit 15 zero.
uint16_t HighColourWord(uint8_t r, uint8_t g, uint8_t b);


// The distinct colours of `in` in order of first appearance, when there are at
// most `limit`; nothing otherwise.
std::optional<std::vector<Colour>> DistinctColours(const RgbView &in, size_t limit);

// At most `limit` colours chosen by median cut; the picture's own colours when
// it has no more than `limit`.
std::vector<Colour> MedianCutPalette(const RgbView &in, size_t limit);

// Kind 1 against `palette`: with Floyd-Steinberg error diffusion, or each
// pixel simply its nearest colour (squared distance in RGB; the lowest index
// among equals).
ConvertedImage ToDitheredIndexed(const RgbView &in, const std::vector<Colour> &palette,
                                 const ConvertProgress &progress = nullptr);
ConvertedImage ToNearestIndexed(const RgbView &in, const std::vector<Colour> &palette,
                                const ConvertProgress &progress = nullptr);

// The host's 256-colour Windows palette (see Conversions.cpp for its table).
const std::vector<Colour> &WindowsPalette();

// A record's pixels as packed RGB, the palette applied; indices outside the
// palette read as black. False for a kind other than 1, 2 and 4, or a picture
// too large for memory addresses.
bool RgbFromRecord(const HostImage &image, RgbPicture *picture);
// Row `y` of a record of kind 1, 2 or 4 as Width packed RGB pixels.
void RgbRowFromRecord(const HostImage &image, uint32_t y, uint8_t *rgb);
bool KnownKind(int32_t kind);
// "8-bit colour-mapped", "16-bit true colour", "24-bit true colour" or
// "unknown kind".
const char *KindName(int32_t kind);
