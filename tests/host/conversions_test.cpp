// The host's colour conversions (tga-host export): kinds, palettes, pixels,
// padded rows, and their way through the plug-in's export and import.
#include "Conversions.h"
#include "Methods.h"
#include "TestSupport.h"

#include <cstdlib>
#include <functional>
#include <random>
#include <set>

namespace {

// A packed RGB picture made by `colour(x, y)`.
struct Rgb {
  uint32_t width, height;
  Bytes rgb;
  Rgb(uint32_t w, uint32_t h, const std::function<Colour(uint32_t, uint32_t)> &colour)
      : width(w), height(h) {
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const Colour c = colour(x, y);
        rgb.insert(rgb.end(), {Red(c), Green(c), Blue(c)});
      }
  }
  RgbView View() const { return {width, height, rgb.data()}; }
  Colour At(uint32_t x, uint32_t y) const {
    const uint8_t *p = &rgb[(size_t(y) * width + x) * 3];
    return MakeColour(p[0], p[1], p[2]);
  }
};

// n distinct colours, one per pixel along rows of `width`.
Rgb Distinct(uint32_t n, uint32_t width) {
  return Rgb(width, (n + width - 1) / width, [n, width](uint32_t x, uint32_t y) {
    const uint32_t i = std::min(y * width + x, n - 1);
    return MakeColour(static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i / 37 * 11),
                      static_cast<uint8_t>(i));
  });
}

// A smooth picture of many colours.
Rgb Gradient(uint32_t w, uint32_t h) {
  return Rgb(w, h, [w, h](uint32_t x, uint32_t y) {
    return MakeColour(static_cast<uint8_t>(x * 255 / (w - 1)), static_cast<uint8_t>(y * 255 / (h - 1)),
                      static_cast<uint8_t>((x + y) * 255 / (w + h - 2)));
  });
}

// The decoder's widening of a 5-bit channel.
uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v * 255 + 15) / 31); }

int ChannelError(Colour a, Colour b) {
  return std::max({std::abs(Red(a) - Red(b)), std::abs(Green(a) - Green(b)),
                   std::abs(Blue(a) - Blue(b))});
}

// The plain search the nearest-colour conversion must agree with: squared
// distance in RGB, the lowest index among equals.
size_t NearestIndex(const std::vector<Colour> &palette, Colour c) {
  size_t best = 0;
  uint32_t bestDistance = UINT32_MAX;
  for (size_t i = 0; i < palette.size(); ++i) {
    const int dr = Red(palette[i]) - Red(c), dg = Green(palette[i]) - Green(c),
              db = Blue(palette[i]) - Blue(c);
    if (uint32_t(dr * dr + dg * dg + db * db) < bestDistance) {
      bestDistance = uint32_t(dr * dr + dg * dg + db * db);
      best = i;
    }
  }
  return best;
}

// The index the nearest-colour conversion gives one pixel of colour `c`.
size_t NearestOfOne(const std::vector<Colour> &palette, Colour c) {
  const Rgb one(1, 1, [c](uint32_t, uint32_t) { return c; });
  return ToNearestIndexed(one.View(), palette).pixels[0];
}

// A record as packed RGB, as tga-host reads it back.
bool RgbFromRecord(const HostImage &image, Bytes *rgb) {
  RgbPicture picture;
  if (!RgbFromRecord(image, &picture))
    return false;
  rgb->assign(picture.rgb.get(), picture.rgb.get() + size_t(picture.width) * picture.height * 3);
  return true;
}

} // namespace

TEST(Conversions, RowsArePaddedToFourBytes) {
  struct Case {
    int32_t kind;
    uint32_t width;
    size_t pitch;
  } cases[] = {{1, 1, 4}, {1, 4, 4}, {1, 5, 8}, {2, 1, 4}, {2, 2, 4}, {2, 3, 8},
               {4, 1, 4}, {4, 4, 12}, {4, 5, 16}, {4, 0, 0}};
  for (const Case &c : cases)
    EXPECT_EQ(PaddedBytesPerRow(c.kind, c.width, 3), c.pitch) << c.kind << " " << c.width;
  // The record's pitch is a signed 32-bit field.
  EXPECT_FALSE(PaddedBytesPerRow(4, 0x2AAAAAAB, 1));
  EXPECT_TRUE(PaddedBytesPerRow(4, 65535, 1));

  Rgb five = Gradient(5, 3);
  ConvertedImage out;
  ASSERT_EQ(Convert(2, five.View(), &out), ConvertStatus::Ok);
  HostImage r = out.Record();
  EXPECT_EQ(r.Kind, TLP_KIND_FULL24);
  EXPECT_EQ(r.BytesPerRow, 16);
  EXPECT_EQ(r.Width, 5u);
  EXPECT_EQ(r.Height, 3u);
  EXPECT_EQ(r.Palette, nullptr);
  EXPECT_EQ(r.PaletteCount, 0u);
}

TEST(Conversions, UnknownCodesAndHugePicturesAreRefused) {
  Rgb one(1, 1, [](uint32_t, uint32_t) { return Colour(0x123456); });
  ConvertedImage out;
  for (int32_t code : {-1, 0, 1, 3, 5, 7, 11, 256 + 2})
    EXPECT_EQ(Convert(code, one.View(), &out), ConvertStatus::UnknownCode) << code;
  // Refused before a pixel is read.
  EXPECT_EQ(Convert(2, RgbView{0x40000000, 1, nullptr}, &out), ConvertStatus::TooLarge);
}

TEST(Conversions, FullColourKeepsEveryPixel) {
  Rgb in = Gradient(7, 5);
  ConvertedImage out;
  ASSERT_EQ(Convert(2, in.View(), &out), ConvertStatus::Ok);
  ASSERT_EQ(out.kind, TLP_KIND_FULL24);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 7; ++x) {
      const uint8_t *p = &out.pixels[y * 24 + x * 3];
      EXPECT_EQ(MakeColour(p[2], p[1], p[0]), in.At(x, y)) << x << "," << y;
    }
}

TEST(Conversions, HighColourWordLayout) {
  struct Case {
    Colour colour;
    uint16_t word;
  } cases[] = {{0x000000, 0x0000}, {0xFFFFFF, 0x7FFF}, {0xFF0000, 0x7C00}, {0x00FF00, 0x03E0},
               {0x0000FF, 0x001F}, {0x080808, 0x0421}, {0x040404, 0x0000}, {0x050505, 0x0421}};
  for (const Case &c : cases) {
    EXPECT_EQ(HighColourWord(Red(c.colour), Green(c.colour), Blue(c.colour)), c.word)
        << std::hex << c.colour;
    Rgb in(1, 1, [&](uint32_t, uint32_t) { return c.colour; });
    ConvertedImage out;
    ASSERT_EQ(Convert(4, in.View(), &out), ConvertStatus::Ok);
    EXPECT_EQ(out.kind, TLP_KIND_HIGH16);
    EXPECT_EQ(out.pixels[0] | (out.pixels[1] << 8), c.word); // little-endian
  }
}

TEST(Conversions, FiveBitsIsTheNearestLevel) {
  for (int v = 0; v < 256; ++v) {
    const int q = FiveBits(static_cast<uint8_t>(v));
    ASSERT_LE(q, 31);
    const int error = std::abs(Widen5(q) - v);
    EXPECT_LE(error, 4) << v;
    if (q > 0) {
      EXPECT_LE(error, std::abs(Widen5(q - 1) - v)) << v;
    }
    if (q < 31) {
      EXPECT_LE(error, std::abs(Widen5(q + 1) - v)) << v;
    }
  }
}

TEST(Conversions, ExactPaletteUpTo256Colours) {
  for (int32_t code : {6, 8}) {
    Rgb in = Distinct(256, 13); // 13 x 20, the last row repeating the last colour
    ConvertedImage out;
    ASSERT_EQ(Convert(code, in.View(), &out), ConvertStatus::Ok);
    ASSERT_EQ(out.kind, TLP_KIND_INDEXED8) << code;
    ASSERT_EQ(out.palette.size(), 256u);
    EXPECT_EQ(out.bytesPerRow, 16);
    // Palette in order of first appearance, and every pixel exact.
    for (uint32_t i = 0; i < 256; ++i)
      EXPECT_EQ(out.palette[i], in.At(i % 13, i / 13)) << i;
    for (uint32_t y = 0; y < in.height; ++y)
      for (uint32_t x = 0; x < in.width; ++x)
        EXPECT_EQ(out.palette[out.pixels[y * 16 + x]], in.At(x, y));
  }
}

TEST(Conversions, MoreThan256ColoursFallBackByCode) {
  Rgb in = Distinct(257, 16);
  ConvertedImage out;
  ASSERT_EQ(Convert(6, in.View(), &out), ConvertStatus::Ok);
  EXPECT_EQ(out.kind, TLP_KIND_FULL24);
  ASSERT_EQ(Convert(8, in.View(), &out), ConvertStatus::Ok);
  EXPECT_EQ(out.kind, TLP_KIND_HIGH16);
  EXPECT_FALSE(DistinctColours(in.View(), 256));
  ASSERT_TRUE(DistinctColours(in.View(), 257));
  EXPECT_EQ(DistinctColours(in.View(), 257)->size(), 257u);
}

TEST(Conversions, EmptyPicturesStayReadable) {
  const RgbView empty{0, 0, nullptr};
  for (const Method &m : kMethods) {
    const int32_t code = m.hostCode;
    ConvertedImage out;
    ASSERT_EQ(Convert(code, empty, &out), ConvertStatus::Ok) << code;
    EXPECT_TRUE(out.pixels.empty());
    if (out.kind == TLP_KIND_INDEXED8) {
      EXPECT_GE(out.palette.size(), 1u) << code; // a colour map of no entries is refused
    }
  }
}

TEST(Conversions, MedianCutIsExactWhenColoursFit) {
  Rgb in = Distinct(200, 20);
  std::vector<Colour> palette = MedianCutPalette(in.View(), 256);
  EXPECT_EQ(std::set<Colour>(palette.begin(), palette.end()).size(), 200u);
  ConvertedImage out;
  ASSERT_EQ(Convert(9, in.View(), &out), ConvertStatus::Ok);
  ASSERT_EQ(out.kind, TLP_KIND_INDEXED8);
  for (uint32_t y = 0; y < in.height; ++y)
    for (uint32_t x = 0; x < in.width; ++x)
      ASSERT_EQ(out.palette[out.pixels[size_t(y) * out.bytesPerRow + x]], in.At(x, y));
}

TEST(Conversions, MedianCutFindsClusters) {
  // Two clusters of equal weight far apart on red: the first cut falls
  // between them, and each box gives its mean.
  Rgb in(8, 4, [](uint32_t x, uint32_t y) {
    if (x < 4)
      return MakeColour(10, 20, static_cast<uint8_t>(30 + y * 2)); // blue 30..36
    return MakeColour(200, static_cast<uint8_t>(100 + 2 * x), 50); // green 108..114
  });
  std::vector<Colour> palette = MedianCutPalette(in.View(), 2);
  ASSERT_EQ(palette.size(), 2u);
  std::set<Colour> got(palette.begin(), palette.end());
  EXPECT_EQ(got, (std::set<Colour>{MakeColour(10, 20, 33), MakeColour(200, 111, 50)}));
}

TEST(Conversions, OptimisedPaletteErrorIsBounded) {
  Rgb in = Gradient(64, 48); // thousands of colours
  ConvertedImage out;
  ASSERT_EQ(Convert(9, in.View(), &out), ConvertStatus::Ok);
  ASSERT_EQ(out.kind, TLP_KIND_INDEXED8);
  EXPECT_LE(out.palette.size(), 256u);
  EXPECT_GE(out.palette.size(), 200u);
  long total = 0;
  int worst = 0;
  for (uint32_t y = 0; y < in.height; ++y)
    for (uint32_t x = 0; x < in.width; ++x) {
      const int e = ChannelError(out.palette[out.pixels[size_t(y) * out.bytesPerRow + x]], in.At(x, y));
      total += e;
      worst = std::max(worst, e);
    }
  EXPECT_LE(double(total) / (in.width * in.height), 8.0);
  EXPECT_LE(worst, 24);
  // Diffusion trades a pixel's error for its neighbours': over 4 x 4 blocks
  // the mean colour is nearly the picture's.
  int blockWorst = 0;
  for (uint32_t by = 0; by < in.height; by += 4)
    for (uint32_t bx = 0; bx < in.width; bx += 4)
      for (int ch = 0; ch < 3; ++ch) {
        int want = 0, got = 0;
        for (uint32_t y = by; y < by + 4; ++y)
          for (uint32_t x = bx; x < bx + 4; ++x) {
            const int shift = 16 - 8 * ch;
            want += (in.At(x, y) >> shift) & 0xFF;
            got += (out.palette[out.pixels[size_t(y) * out.bytesPerRow + x]] >> shift) & 0xFF;
          }
        blockWorst = std::max(blockWorst, std::abs(want - got) / 16);
      }
  EXPECT_LE(blockWorst, 4);
}

TEST(Conversions, ErrorDiffusionKeepsTheMeanColour) {
  // 50% grey against black and white: the nearest colour alone would make
  // every pixel white; diffusion makes about half of them white.
  Rgb in(32, 32, [](uint32_t, uint32_t) { return Colour(0x808080); });
  const std::vector<Colour> bw = {0x000000, 0xFFFFFF};
  ConvertedImage nearest = ToNearestIndexed(in.View(), bw);
  ConvertedImage dithered = ToDitheredIndexed(in.View(), bw);
  size_t white = 0, nearestWhite = 0;
  for (uint32_t y = 0; y < 32; ++y)
    for (uint32_t x = 0; x < 32; ++x) {
      white += dithered.pixels[y * 32 + x];
      nearestWhite += nearest.pixels[y * 32 + x];
    }
  EXPECT_EQ(nearestWhite, 1024u);
  EXPECT_NEAR(double(white) / 1024, 128.0 / 255, 0.01);
  // No run of one colour over a whole row.
  for (uint32_t y = 0; y < 32; ++y) {
    std::set<uint8_t> row(dithered.pixels.begin() + y * 32, dithered.pixels.begin() + y * 32 + 32);
    EXPECT_EQ(row.size(), 2u) << y;
  }
}

TEST(Conversions, WindowsPaletteTable) {
  const std::vector<Colour> &p = WindowsPalette();
  ASSERT_EQ(p.size(), 256u);
  // The system's twenty static colours, ten at each end.
  const Colour first[10] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                            0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
  const Colour last[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                           0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(p[i], first[i]) << i;
    EXPECT_EQ(p[246 + i], last[i]) << i;
  }
  // Entries 10-225: the cube, every channel a multiple of 51, at 10 + 36 r + 6 g + b.
  for (int i = 10; i < 226; ++i) {
    const Colour c = p[i];
    EXPECT_TRUE(Red(c) % 51 == 0 && Green(c) % 51 == 0 && Blue(c) % 51 == 0) << i;
    EXPECT_EQ(10 + 36 * (Red(c) / 51) + 6 * (Green(c) / 51) + Blue(c) / 51, i) << i;
  }
  // Entries 226-245: greys rising in even steps from black to white (the
  // nearest level to 255 k / 21), none of them a cube level.
  for (int k = 1; k <= 20; ++k) {
    const Colour c = p[225 + k];
    EXPECT_TRUE(Red(c) == Green(c) && Green(c) == Blue(c)) << k;
    EXPECT_LE(std::abs(21 * Red(c) - 255 * k), 10) << k;
    EXPECT_NE(Red(c) % 51, 0) << k;
  }
  // Only black, white and the six full primaries and secondaries repeat.
  std::set<Colour> seen, repeated;
  for (Colour c : p)
    if (!seen.insert(c).second)
      repeated.insert(c);
  EXPECT_EQ(repeated, (std::set<Colour>{0x000000, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF,
                                        0xFFFFFF}));
  EXPECT_EQ(seen.size(), 248u);
}

TEST(Conversions, WindowsPaletteNearestColour) {
  // Every colour of the palette maps to itself (the first of equals), and any
  // colour lies within half a cube step of its match on each channel.
  const std::vector<Colour> &p = WindowsPalette();
  Rgb table(16, 16, [&p](uint32_t x, uint32_t y) { return p[y * 16 + x]; });
  ConvertedImage out;
  ASSERT_EQ(Convert(10, table.View(), &out), ConvertStatus::Ok);
  ASSERT_EQ(out.kind, TLP_KIND_INDEXED8);
  EXPECT_EQ(out.palette, p);
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t index = out.pixels[i];
    EXPECT_EQ(p[index], p[i]) << i;
    EXPECT_LE(index, i) << i;
  }
  EXPECT_EQ(NearestOfOne(p, 0x000000), 0u);
  EXPECT_EQ(NearestOfOne(p, 0xFFFFFF), 225u); // the cube's white comes first
  EXPECT_EQ(NearestOfOne(p, 0x7F7F7F), 248u); // 808080
  EXPECT_EQ(NearestOfOne(p, MakeColour(52, 103, 150)), 10u + 36 * 1 + 6 * 2 + 3);

  Rgb all(64, 64, [](uint32_t x, uint32_t y) {
    return MakeColour(static_cast<uint8_t>(x * 4 + 1), static_cast<uint8_t>(y * 4 + 2),
                      static_cast<uint8_t>((x * 7 + y * 3) & 0xFF));
  });
  ASSERT_EQ(Convert(10, all.View(), &out), ConvertStatus::Ok);
  for (uint32_t y = 0; y < 64; ++y)
    for (uint32_t x = 0; x < 64; ++x) {
      const Colour got = p[out.pixels[y * 64 + x]];
      const Colour want = p[NearestIndex(p, all.At(x, y))];
      ASSERT_EQ(got, want);
      // Euclidean: no worse than the nearest cube colour, 25.5 a channel.
      const int dr = Red(got) - Red(all.At(x, y)), dg = Green(got) - Green(all.At(x, y)),
                db = Blue(got) - Blue(all.At(x, y));
      ASSERT_LE(dr * dr + dg * dg + db * db, 3 * 26 * 26);
    }
}

TEST(Conversions, PictureSearchAgreesWithPlainSearch) {
  // The search over many pixels takes shortcuts; its answers, ties included,
  // are the plain search's. Palettes with repeated colours and few greens
  // make many ties.
  std::mt19937 rng(7);
  for (int round = 0; round < 4; ++round) {
    std::vector<Colour> palette;
    const size_t size = round == 0 ? 1 : round == 1 ? 2 : 256;
    for (size_t i = 0; i < size; ++i)
      palette.push_back(round == 3 ? MakeColour(static_cast<uint8_t>(rng() % 4 * 85), static_cast<uint8_t>(rng() % 2 * 255), static_cast<uint8_t>(rng() % 4 * 85))
                                   : Colour(rng() & 0xFFFFFF));
    Rgb in(97, 31, [&rng](uint32_t, uint32_t) { return Colour(rng() & 0xFFFFFF); });
    ConvertedImage out = ToNearestIndexed(in.View(), palette);
    for (uint32_t y = 0; y < in.height; ++y)
      for (uint32_t x = 0; x < in.width; ++x)
        ASSERT_EQ(out.pixels[size_t(y) * out.bytesPerRow + x], NearestIndex(palette, in.At(x, y)))
            << round << ": " << x << "," << y;
  }
}

TEST(Conversions, RecordsBackToRgb) {
  // Kind 1 with an index past the palette (black), kind 2, kind 4 with
  // padding, and a kind the host does not know.
  uint8_t palette[8] = {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0};
  uint8_t indexed[8] = {1, 0, 7, 0xEE, 0, 1, 1, 0xEE};
  HostImage r{1, indexed, 4, 3, 2, palette, 2};
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(RgbFromRecord(r, &rgb));
  EXPECT_EQ(rgb, (std::vector<uint8_t>{0x60, 0x50, 0x40, 0x30, 0x20, 0x10, 0, 0, 0,
                                       0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0x60, 0x50, 0x40}));
  uint8_t high[4] = {0xFF, 0x7F, 0xEE, 0xEE}; // one word: all channels at 31
  r = HostImage{2, high, 4, 1, 1, nullptr, 0};
  ASSERT_TRUE(RgbFromRecord(r, &rgb));
  EXPECT_EQ(rgb, (std::vector<uint8_t>{255, 255, 255}));
  uint8_t full[8] = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
  r = HostImage{4, full, 4, 1, 2, nullptr, 0};
  ASSERT_TRUE(RgbFromRecord(r, &rgb));
  EXPECT_EQ(rgb, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
  r.Kind = 3;
  EXPECT_FALSE(RgbFromRecord(r, &rgb));
}

// Every code through the built plug-in: the file holds exactly what the host
// gave (padding left out), and imports as the picture the host converted.
TEST(ConversionsThroughPlugin, EachCodeRoundTrips) {
  const Rgb pictures[] = {Gradient(37, 11), Distinct(90, 9), Rgb(5, 3, [](uint32_t x, uint32_t y) {
                            return MakeColour(static_cast<uint8_t>(x * 60), 0, static_cast<uint8_t>(y * 100));
                          })};
  for (const Rgb &in : pictures)
    for (const Method &m : kMethods) {
      const int32_t code = m.hostCode;
      SCOPED_TRACE(testing::Message() << in.width << "x" << in.height << " code " << code);
      ConvertedImage out;
      ASSERT_EQ(Convert(code, in.View(), &out), ConvertStatus::Ok);
      HostImage record = out.Record();
      std::vector<uint8_t> converted;
      ASSERT_TRUE(RgbFromRecord(record, &converted));
      TempFile file;
      ASSERT_EQ(Api().EXPORT_WriteToFile(file.c_str(), &record, nullptr), 1);
      const size_t bpp = out.kind == 1 ? 1 : out.kind == 2 ? 2 : 3;
      EXPECT_EQ(file.Read().size(), 18 + 3 * out.palette.size() + bpp * in.width * in.height);

      HostImage *image = nullptr;
      Api().IMPORT_CreateImage(file.c_str(), &image);
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->Kind, out.kind == 1 ? 1 : 4);
      EXPECT_EQ(image->PaletteCount, out.palette.size());
      std::vector<uint8_t> imported;
      EXPECT_TRUE(RgbFromRecord(*image, &imported));
      EXPECT_EQ(imported, converted);
      Api().IMPORT_FreeImage(image);
      std::free(image);

      // Exact for codes 2 and 6, within a 5-bit step for 4 and 8.
      int worst = 0;
      for (size_t i = 0; i < converted.size(); ++i)
        worst = std::max(worst, std::abs(converted[i] - in.rgb[i]));
      if (code == 2 || code == 6) {
        EXPECT_EQ(worst, 0);
      } else if (code == 4 || code == 8) {
        EXPECT_LE(worst, 4);
      }
    }
}
