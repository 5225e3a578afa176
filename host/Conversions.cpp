// The host's six conversions. Each takes a packed RGB picture and builds the
// record the plug-in writes:
//   2   every picture 24-bit full colour (kind 4)
//   4   every picture 16-bit high colour, 5 bits a channel (kind 2)
//   6   8-bit colour-mapped with the exact palette when the picture has at
//       most 256 colours (kind 1), else as code 2
//   8   the same, else as code 4
//   9   256 colours: a palette chosen by median cut, then Floyd-Steinberg
//       error diffusion
//   10  the 256 colours of WindowsPalette(), each pixel its nearest colour
#include "Conversions.h"

#include "Methods.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>

namespace {

const size_t kMaxPalette = 256;

uint32_t BytesPerPixel(int32_t kind) {
  return kind == TLP_KIND_INDEXED8 ? 1 : kind == TLP_KIND_HIGH16 ? 2 : 3;
}

// A record of `kind` for `in` with padded rows, each filled from the
// picture's row by `fill(source, record)`; `step` reports each row when
// given. Throws std::length_error when the block cannot be addressed.
template <class Fill>
ConvertedImage Build(int32_t kind, const RgbView &in, const std::vector<Colour> &palette,
                     Fill fill, const char *step = nullptr,
                     const ConvertProgress &progress = nullptr) {
  std::optional<size_t> pitch = PaddedBytesPerRow(kind, in.width, in.height);
  if (!pitch)
    throw std::length_error("picture too large");
  ConvertedImage out;
  out.kind = kind;
  out.width = in.width;
  out.height = in.height;
  out.bytesPerRow = static_cast<int32_t>(*pitch);
  out.pixels.assign(*pitch * in.height, 0);
  out.palette = palette;
  for (uint32_t y = 0; y < in.height; ++y) {
    fill(in.rgb + size_t(y) * in.width * 3, out.pixels.data() + size_t(y) * *pitch);
    if (progress && step)
      progress(step, y + 1, in.height);
  }
  return out;
}

// Every pixel 24-bit (blue, green, red) or a 16-bit word.
ConvertedImage ToTrueColour(const RgbView &in, int32_t kind) {
  return Build(kind, in, {}, [&](const uint8_t *s, uint8_t *d) {
    for (uint32_t x = 0; x < in.width; ++x, s += 3) {
      if (kind == TLP_KIND_FULL24) {
        d = std::reverse_copy(s, s + 3, d);
        continue;
      }
      const uint16_t word = HighColourWord(s[0], s[1], s[2]);
      *d++ = static_cast<uint8_t>(word);
      *d++ = static_cast<uint8_t>(word >> 8);
    }
  });
}

Colour ColourAt(const uint8_t *p) { return MakeColour(p[0], p[1], p[2]); }

uint32_t SquaredDistance(Colour a, Colour b) {
  const int dr = int(Red(a)) - Red(b), dg = int(Green(a)) - Green(b), db = int(Blue(a)) - Blue(b);
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

// Nearest-colour search for many pixels against one palette of at most 256
// colours. The palette is kept sorted by green, so a search walks up and
// then down from the pixel's green and stops each way once green alone is
// farther than the best match; answers are also remembered per colour, since pictures
// repeat colours a lot. Direct-mapped, so a collision only costs a search.
// The answer is the nearest by squared distance, the lowest index among equals.
class NearestCache {
public:
  explicit NearestCache(const std::vector<Colour> &palette) : slots_(size_t(1) << kBits, kEmpty) {
    for (size_t i = 0; i < palette.size(); ++i)
      byGreen_.push_back({palette[i], static_cast<uint32_t>(i)});
    std::sort(byGreen_.begin(), byGreen_.end(), [](const Entry &a, const Entry &b) {
      return Green(a.colour) != Green(b.colour) ? Green(a.colour) < Green(b.colour)
                                                : a.index < b.index;
    });
  }
  uint8_t Find(Colour c) {
    uint64_t &slot = slots_[(c * 2654435761u) >> (32 - kBits)];
    if ((slot >> 8) == c)
      return static_cast<uint8_t>(slot);
    const uint8_t index = Search(c);
    slot = (uint64_t(c) << 8) | index;
    return index;
  }

private:
  struct Entry {
    Colour colour;
    uint32_t index;
  };

  uint8_t Search(Colour c) const {
    const int green = Green(c);
    const size_t start = static_cast<size_t>(
        std::lower_bound(byGreen_.begin(), byGreen_.end(), green,
                         [](const Entry &e, int g) { return Green(e.colour) < g; }) -
        byGreen_.begin());
    uint32_t best = std::numeric_limits<uint32_t>::max(), bestIndex = 0;
    const auto consider = [&](const Entry &e) {
      const uint32_t d = SquaredDistance(e.colour, c);
      if (d < best || (d == best && e.index < bestIndex)) {
        best = d;
        bestIndex = e.index;
      }
    };
    const auto within = [&](const Entry &e) {
      const int dg = int(Green(e.colour)) - green;
      return uint32_t(dg * dg) <= best; // equal may still tie at a lower index
    };
    for (size_t i = start; i < byGreen_.size() && within(byGreen_[i]); ++i)
      consider(byGreen_[i]);
    for (size_t i = start; i > 0 && within(byGreen_[i - 1]); --i)
      consider(byGreen_[i - 1]);
    return static_cast<uint8_t>(bestIndex);
  }

  static constexpr int kBits = 14;
  static constexpr uint64_t kEmpty = ~uint64_t(0); // no colour has bits above 23
  std::vector<Entry> byGreen_;
  std::vector<uint64_t> slots_;
};

// ---- Median cut ------------------------------------------------------------

struct ColourCount {
  Colour colour;
  uint64_t count;
};

// The picture's distinct colours with their pixel counts, in colour order.
std::vector<ColourCount> Histogram(const RgbView &in) {
  const size_t pixels = size_t(in.width) * in.height;
  std::vector<Colour> all;
  all.reserve(pixels);
  for (const uint8_t *p = in.rgb, *end = p + pixels * 3; p < end; p += 3)
    all.push_back(ColourAt(p));
  std::sort(all.begin(), all.end());
  std::vector<ColourCount> out;
  for (size_t i = 0; i < all.size();) {
    size_t j = i;
    while (j < all.size() && all[j] == all[i])
      ++j;
    out.push_back({all[i], j - i});
    i = j;
  }
  return out;
}

uint8_t Channel(Colour c, int channel) { return static_cast<uint8_t>(c >> (16 - 8 * channel)); }

// A box of colour space: the histogram entries [begin, end).
struct Box {
  size_t begin, end;
  int longest = 0;   // channel with the widest spread: 0 red, 1 green, 2 blue
  int spread = 0;    // that spread, max - min
};

Box MakeBox(const std::vector<ColourCount> &hist, size_t begin, size_t end) {
  uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  for (size_t i = begin; i < end; ++i)
    for (int ch = 0; ch < 3; ++ch) {
      lo[ch] = std::min(lo[ch], Channel(hist[i].colour, ch));
      hi[ch] = std::max(hi[ch], Channel(hist[i].colour, ch));
    }
  Box box{begin, end, 0, -1};
  for (int ch = 0; ch < 3; ++ch)
    if (hi[ch] - lo[ch] > box.spread) {
      box.spread = hi[ch] - lo[ch];
      box.longest = ch;
    }
  return box;
}

// Splits `box` by a plane across its widest channel at the pixel-weighted
// median: colours at or below the median level go to one side. The box must
// hold at least two colours, so that channel has at least two levels and
// neither side is empty. Which colours go where depends on their values only.
std::pair<Box, Box> Split(std::vector<ColourCount> &hist, const Box &box) {
  const int ch = box.longest;
  uint64_t perLevel[256] = {};
  uint64_t total = 0;
  int top = 0;
  for (size_t i = box.begin; i < box.end; ++i) {
    const uint8_t v = Channel(hist[i].colour, ch);
    perLevel[v] += hist[i].count;
    total += hist[i].count;
    top = std::max<int>(top, v);
  }
  int median = 0;
  for (uint64_t seen = 0; median < 256; ++median) {
    seen += perLevel[median];
    if (2 * seen >= total)
      break;
  }
  // At the top level the lower side takes everything below it instead.
  const int last = median < top ? median : median - 1;
  auto first = hist.begin() + static_cast<std::ptrdiff_t>(box.begin);
  auto cut = std::partition(first, hist.begin() + static_cast<std::ptrdiff_t>(box.end),
                            [ch, last](const ColourCount &c) { return Channel(c.colour, ch) <= last; });
  const size_t at = static_cast<size_t>(cut - hist.begin());
  return {MakeBox(hist, box.begin, at), MakeBox(hist, at, box.end)};
}

// The pixel-weighted mean colour of a box, rounded.
Colour Mean(const std::vector<ColourCount> &hist, const Box &box) {
  uint64_t sum[3] = {0, 0, 0}, total = 0;
  for (size_t i = box.begin; i < box.end; ++i) {
    for (int ch = 0; ch < 3; ++ch)
      sum[ch] += Channel(hist[i].colour, ch) * hist[i].count;
    total += hist[i].count;
  }
  uint8_t v[3];
  for (int ch = 0; ch < 3; ++ch)
    v[ch] = static_cast<uint8_t>((sum[ch] + total / 2) / total);
  return MakeColour(v[0], v[1], v[2]);
}

// ---- Floyd-Steinberg ---------------------------------------------------------

// Errors are kept in sixteenths; this rounds one back to whole levels, halves
// away from zero so that positive and negative errors behave alike.
int FromSixteenths(int v) { return v >= 0 ? (v + 8) / 16 : -((-v + 8) / 16); }

} // namespace

// ---- Records -----------------------------------------------------------------

HostImage ConvertedImage::Record() {
  paletteBlock_.assign(palette.size() * 4, 0);
  for (size_t i = 0; i < palette.size(); ++i) {
    paletteBlock_[4 * i] = Blue(palette[i]);
    paletteBlock_[4 * i + 1] = Green(palette[i]);
    paletteBlock_[4 * i + 2] = Red(palette[i]);
  }
  return {kind, pixels.empty() ? nullptr : pixels.data(), bytesPerRow, width, height,
          paletteBlock_.empty() ? nullptr : paletteBlock_.data(),
          static_cast<uint32_t>(palette.size())};
}

std::optional<size_t> PaddedBytesPerRow(int32_t kind, uint32_t width, uint32_t height) {
  const uint64_t row = (uint64_t(width) * BytesPerPixel(kind) + 3) & ~uint64_t(3);
  // The record's pitch is a signed 32-bit field.
  if (row > uint64_t(std::numeric_limits<int32_t>::max()))
    return std::nullopt;
  if (height != 0 && row > std::numeric_limits<size_t>::max() / height)
    return std::nullopt;
  return static_cast<size_t>(row);
}

ConvertStatus Convert(int32_t code, const RgbView &in, ConvertedImage *out,
                      const ConvertProgress &progress) {
  const auto step = [&](const char *name) {
    if (progress)
      progress(name, 0, 0);
  };
  if (MethodOfCode(code) < 0)
    return ConvertStatus::UnknownCode;
  // Checked up front for the widest kind a code may make, so that no
  // conversion starts and then finds its result unaddressable.
  if (!PaddedBytesPerRow(TLP_KIND_FULL24, in.width, in.height) ||
      uint64_t(in.width) * in.height > std::numeric_limits<size_t>::max() / 4)
    return ConvertStatus::TooLarge;
  if (code == 9) {
    // Counting the colours is most of the median cut's time.
    step("counting colours, median cut");
    *out = ToDitheredIndexed(in, MedianCutPalette(in, kMaxPalette), progress);
  } else if (code == 10) {
    *out = ToNearestIndexed(in, WindowsPalette(), progress);
  } else {
    std::optional<std::vector<Colour>> colours;
    if (code == 6 || code == 8) {
      step("counting colours");
      colours = DistinctColours(in, kMaxPalette);
    }
    const bool full = code == 2 || code == 6;
    // Each pixel's own colour is its nearest. A colour map of no entries
    // makes a file that readers refuse.
    *out = !colours              ? ToTrueColour(in, full ? TLP_KIND_FULL24 : TLP_KIND_HIGH16)
           : colours->empty()    ? ToNearestIndexed(in, {0})
                                 : ToNearestIndexed(in, *colours);
  }
  return ConvertStatus::Ok;
}

uint8_t FiveBits(uint8_t v) { return static_cast<uint8_t>((v * 31 + 127) / 255); }

uint16_t HighColourWord(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint16_t>(FiveBits(b) | (FiveBits(g) << 5) | (FiveBits(r) << 10));
}

// ---- Indexed -------------------------------------------------------------------

std::optional<std::vector<Colour>> DistinctColours(const RgbView &in, size_t limit) {
  std::vector<Colour> colours;
  std::unordered_map<Colour, bool> seen;
  for (const uint8_t *p = in.rgb, *end = p + size_t(in.width) * in.height * 3; p < end; p += 3) {
    if (!seen.emplace(ColourAt(p), true).second)
      continue;
    if (colours.size() == limit)
      return std::nullopt;
    colours.push_back(ColourAt(p));
  }
  return colours;
}

std::vector<Colour> MedianCutPalette(const RgbView &in, size_t limit) {
  std::vector<ColourCount> hist = Histogram(in);
  if (hist.empty())
    return {0};
  std::vector<Box> boxes{MakeBox(hist, 0, hist.size())};
  // Always split the box with the widest spread on any channel: it holds the
  // largest error a palette colour of its mean would make.
  while (boxes.size() < limit) {
    size_t widest = boxes.size();
    for (size_t i = 0; i < boxes.size(); ++i)
      if (boxes[i].end - boxes[i].begin >= 2 &&
          (widest == boxes.size() || boxes[i].spread > boxes[widest].spread))
        widest = i;
    if (widest == boxes.size())
      break; // every box is one colour: the palette is exact
    std::pair<Box, Box> halves = Split(hist, boxes[widest]);
    boxes[widest] = halves.first;
    boxes.push_back(halves.second);
  }
  std::vector<Colour> palette;
  for (const Box &box : boxes)
    palette.push_back(Mean(hist, box));
  return palette;
}

ConvertedImage ToDitheredIndexed(const RgbView &in, const std::vector<Colour> &palette,
                                 const ConvertProgress &progress) {
  NearestCache nearest(palette);
  // Error owed to each pixel of this row and the next, in sixteenths, with a
  // spare pixel at both ends so that the edges need no test.
  const size_t slots = (size_t(in.width) + 2) * 3;
  std::vector<int> here(slots, 0), below(slots, 0);
  const auto fill = [&](const uint8_t *s, uint8_t *d) {
    std::fill(below.begin(), below.end(), 0);
    for (uint32_t x = 0; x < in.width; ++x, s += 3) {
      const size_t at = (size_t(x) + 1) * 3;
      int want[3];
      for (int ch = 0; ch < 3; ++ch)
        want[ch] = std::clamp(s[ch] + FromSixteenths(here[at + ch]), 0, 255);
      const uint8_t index = nearest.Find(MakeColour(static_cast<uint8_t>(want[0]),
                                                    static_cast<uint8_t>(want[1]),
                                                    static_cast<uint8_t>(want[2])));
      d[x] = index;
      for (int ch = 0; ch < 3; ++ch) {
        const int error = want[ch] - Channel(palette[index], ch);
        here[at + 3 + ch] += error * 7;
        below[at - 3 + ch] += error * 3;
        below[at + ch] += error * 5;
        below[at + 3 + ch] += error * 1;
      }
    }
    here.swap(below);
  };
  return Build(TLP_KIND_INDEXED8, in, palette, fill, "error diffusion", progress);
}

ConvertedImage ToNearestIndexed(const RgbView &in, const std::vector<Colour> &palette,
                                const ConvertProgress &progress) {
  NearestCache nearest(palette);
  const auto fill = [&](const uint8_t *s, uint8_t *d) {
    for (uint32_t x = 0; x < in.width; ++x, s += 3)
      d[x] = nearest.Find(ColourAt(s));
  };
  return Build(TLP_KIND_INDEXED8, in, palette, fill, "nearest colours", progress);
}

// The host's Windows palette. It is laid out the way a Windows logical
// palette keeps the system's twenty static colours, ten at each end, with
// between them a 6 x 6 x 6 colour cube (levels 0, 51, 102, 153, 204, 255;
// entry 10 + 36 r + 6 g + b) and twenty greys (255 k / 21 rounded, k = 1..20,
// none of which the cube or the static colours hold). This is our own table:
// it is in the spirit of the halftone palette Windows makes, not a copy of
// it. Black, white and the six full primaries and secondaries appear twice,
// as a static colour and in the cube; a search finds the lower index.
//   0..9      black, dark red, dark green, dark yellow, dark blue,
//             dark magenta, dark cyan, light grey C0C0C0, C0DCC0, A6CAF0
//   10..225   the cube
//   226..245  the greys
//   246..255  FFFBF0, A0A0A4, 808080, red, green, yellow, blue, magenta,
//             cyan, white
const std::vector<Colour> &WindowsPalette() {
  static const std::vector<Colour> table = [] {
    std::vector<Colour> t = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
                             0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0};
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          t.push_back(MakeColour(static_cast<uint8_t>(51 * r), static_cast<uint8_t>(51 * g),
                                 static_cast<uint8_t>(51 * b)));
    for (int k = 1; k <= 20; ++k) {
      const uint8_t v = static_cast<uint8_t>((255 * k + 10) / 21);
      t.push_back(MakeColour(v, v, v));
    }
    const Colour last[10] = {0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00,
                             0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    t.insert(t.end(), std::begin(last), std::end(last));
    return t;
  }();
  return table;
}

// ---- Records back to RGB -------------------------------------------------------

bool KnownKind(int32_t kind) {
  return kind == TLP_KIND_INDEXED8 || kind == TLP_KIND_HIGH16 || kind == TLP_KIND_FULL24;
}

const char *KindName(int32_t kind) {
  return kind == TLP_KIND_INDEXED8 ? "8-bit colour-mapped"
         : kind == TLP_KIND_HIGH16 ? "16-bit true colour"
         : kind == TLP_KIND_FULL24 ? "24-bit true colour"
                                   : "unknown kind";
}

bool RgbPicture::Allocate(uint32_t w, uint32_t h) {
  if (uint64_t(w) * h > std::numeric_limits<size_t>::max() / 3)
    return false;
  rgb.reset(new uint8_t[size_t(w) * h * 3]);
  width = w;
  height = h;
  return true;
}

void RgbRowFromRecord(const HostImage &image, uint32_t y, uint8_t *d) {
  const uint8_t *row = image.Pixels + std::ptrdiff_t(y) * image.BytesPerRow;
  for (uint32_t x = 0; x < image.Width; ++x, d += 3) {
    if (image.Kind == TLP_KIND_INDEXED8) {
      if (row[x] < image.PaletteCount) {
        const uint8_t *entry = image.Palette + 4 * size_t(row[x]);
        d[0] = entry[2];
        d[1] = entry[1];
        d[2] = entry[0];
      } else {
        d[0] = d[1] = d[2] = 0;
      }
    } else if (image.Kind == TLP_KIND_HIGH16) {
      const unsigned word = row[2 * x] | (row[2 * x + 1] << 8);
      const auto widen = [](unsigned five) { return static_cast<uint8_t>((five * 255 + 15) / 31); };
      d[0] = widen((word >> 10) & 31);
      d[1] = widen((word >> 5) & 31);
      d[2] = widen(word & 31);
    } else {
      d[0] = row[3 * x + 2];
      d[1] = row[3 * x + 1];
      d[2] = row[3 * x];
    }
  }
}

bool RgbFromRecord(const HostImage &image, RgbPicture *picture) {
  if (!KnownKind(image.Kind) || !picture->Allocate(image.Width, image.Height))
    return false;
  for (uint32_t y = 0; y < image.Height; ++y)
    RgbRowFromRecord(image, y, picture->Row(y));
  return true;
}
