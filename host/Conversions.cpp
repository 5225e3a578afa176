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
#include <limits>
#include <optional>
#include <unordered_set>

namespace {

const size_t kMaxPalette = 256;

// Bytes per row of `kind` for `width` pixels, rounded up to 4; nothing when
// the pixel block of `height` such rows does not fit in a size_t.
std::optional<size_t> PaddedBytesPerRow(int32_t kind, uint32_t width, uint32_t height) {
  const uint32_t bytesPerPixel = kind == TLP_KIND_INDEXED8 ? 1 : kind == TLP_KIND_HIGH16 ? 2 : 3;
  const uint64_t row = (uint64_t(width) * bytesPerPixel + 3) & ~uint64_t(3);
  // The record's pitch is a signed 32-bit field.
  if (row > uint64_t(std::numeric_limits<int32_t>::max()))
    return std::nullopt;
  if (height != 0 && row > std::numeric_limits<size_t>::max() / height)
    return std::nullopt;
  return static_cast<size_t>(row);
}

// A record of `kind` for `in` with padded rows, each filled from the
// picture's row by `fill(source, record)`; each row is reported as `step`
// when there is a `progress` to tell.
template <class Fill>
ConvertedImage Build(int32_t kind, const RgbView &in, const std::vector<Colour> &palette, Fill fill,
                     const char *step = nullptr, const ConvertProgress &progress = nullptr) {
  // Convert checked the widest kind, so this does not throw for its calls.
  const size_t pitch = PaddedBytesPerRow(kind, in.width, in.height).value();
  ConvertedImage out;
  out.kind = kind;
  out.width = in.width;
  out.height = in.height;
  out.bytesPerRow = static_cast<int32_t>(pitch);
  out.pixels.assign(pitch * in.height, 0);
  out.palette = palette;
  for (uint32_t y = 0; y < in.height; ++y) {
    fill(in.rgb + size_t(y) * in.width * 3, out.pixels.data() + size_t(y) * pitch);
    if (progress)
      progress(step, y + 1, in.height);
  }
  return out;
}

// Every pixel 24-bit (blue, green, red) or a 16-bit word: blue in bits 0-4,
// green 5-9, red 10-14, bit 15 zero, each the nearest of 32 levels.
ConvertedImage ToTrueColour(const RgbView &in, int32_t kind) {
  const auto five = [](unsigned v) { return (v * 31 + 127) / 255; };
  return Build(kind, in, {}, [&](const uint8_t *s, uint8_t *d) {
    for (uint32_t x = 0; x < in.width; ++x, s += 3) {
      if (kind == TLP_KIND_FULL24) {
        d = std::reverse_copy(s, s + 3, d);
        continue;
      }
      const unsigned word = five(s[2]) | (five(s[1]) << 5) | (five(s[0]) << 10);
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
    // Stable: entries of one green stay in index order.
    std::stable_sort(byGreen_.begin(), byGreen_.end(), [](const Entry &a, const Entry &b) {
      return Green(a.colour) < Green(b.colour);
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

// The distinct colours of `in` in order of first appearance, when there are
// at most kMaxPalette; nothing otherwise. Unlike Histogram it stops early,
// holding no more than that many.
std::optional<std::vector<Colour>> DistinctColours(const RgbView &in) {
  std::vector<Colour> colours;
  std::unordered_set<Colour> seen;
  for (const uint8_t *p = in.rgb, *end = p + size_t(in.width) * in.height * 3; p < end; p += 3) {
    if (seen.insert(ColourAt(p)).second)
      colours.push_back(ColourAt(p));
    if (colours.size() > kMaxPalette)
      return std::nullopt;
  }
  return colours;
}

// ---- Median cut ------------------------------------------------------------

struct ColourCount {
  Colour colour;
  uint64_t count;
};

// The picture's distinct colours with their pixel counts, in colour order.
// Sorting a copy of the pixels keeps the memory to four bytes a pixel.
std::vector<ColourCount> Histogram(const RgbView &in) {
  const size_t pixels = size_t(in.width) * in.height;
  std::vector<Colour> all;
  all.reserve(pixels);
  for (const uint8_t *p = in.rgb, *end = p + pixels * 3; p < end; p += 3)
    all.push_back(ColourAt(p));
  std::sort(all.begin(), all.end());
  std::vector<ColourCount> out;
  for (Colour c : all)
    if (!out.empty() && out.back().colour == c)
      ++out.back().count;
    else
      out.push_back({c, 1});
  return out;
}

uint8_t Channel(Colour c, int channel) { return static_cast<uint8_t>(c >> (16 - 8 * channel)); }

// A box of colour space: the histogram entries [begin, end), at least one.
struct Box {
  size_t begin, end;
  int longest = 0;     // channel with the widest spread: 0 red, 1 green, 2 blue
  int spread = -1;     // that spread, max - min
  int top = 0;         // that channel's max
  uint64_t pixels = 0; // the entries' counts added up
  Colour mean = 0;     // their pixel-weighted mean colour, rounded
};

Box MakeBox(const std::vector<ColourCount> &hist, size_t begin, size_t end) {
  uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
  uint64_t sum[3] = {0, 0, 0};
  Box box{begin, end};
  for (size_t i = begin; i < end; ++i) {
    for (int ch = 0; ch < 3; ++ch) {
      const uint8_t v = Channel(hist[i].colour, ch);
      lo[ch] = std::min(lo[ch], v);
      hi[ch] = std::max(hi[ch], v);
      sum[ch] += v * hist[i].count;
    }
    box.pixels += hist[i].count;
  }
  uint8_t mean[3];
  for (int ch = 0; ch < 3; ++ch) {
    mean[ch] = static_cast<uint8_t>((sum[ch] + box.pixels / 2) / box.pixels);
    if (hi[ch] - lo[ch] > box.spread) {
      box.spread = hi[ch] - lo[ch];
      box.longest = ch;
      box.top = hi[ch];
    }
  }
  box.mean = MakeColour(mean[0], mean[1], mean[2]);
  return box;
}

// Splits `box` by a plane across its widest channel at the pixel-weighted
// median: colours at or below the median level go to one side. The box must
// hold at least two colours, so that channel has at least two levels and
// neither side is empty. Which colours go where depends on their values only.
std::pair<Box, Box> Split(std::vector<ColourCount> &hist, const Box &box) {
  const int ch = box.longest;
  uint64_t perLevel[256] = {};
  for (size_t i = box.begin; i < box.end; ++i)
    perLevel[Channel(hist[i].colour, ch)] += hist[i].count;
  int median = 0;
  for (uint64_t seen = 0; median < 256; ++median) {
    seen += perLevel[median];
    if (2 * seen >= box.pixels)
      break;
  }
  // At the top level the lower side takes everything below it instead.
  const int last = median < box.top ? median : median - 1;
  const auto begin = hist.begin();
  const auto cut =
      std::partition(begin + std::ptrdiff_t(box.begin), begin + std::ptrdiff_t(box.end),
                     [ch, last](const ColourCount &c) { return Channel(c.colour, ch) <= last; });
  const size_t at = size_t(cut - begin);
  return {MakeBox(hist, box.begin, at), MakeBox(hist, at, box.end)};
}

// ---- Floyd-Steinberg ---------------------------------------------------------

// Errors are kept in sixteenths; this rounds one back to whole levels, halves
// away from zero so that positive and negative errors behave alike.
int FromSixteenths(int v) { return v >= 0 ? (v + 8) / 16 : -((-v + 8) / 16); }

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

} // namespace

// ---- Records -----------------------------------------------------------------

HostImage ConvertedImage::Record() {
  paletteBlock_.clear();
  for (Colour c : palette)
    paletteBlock_.insert(paletteBlock_.end(), {Blue(c), Green(c), Red(c), 0});
  uint8_t *const block = paletteBlock_.empty() ? nullptr : paletteBlock_.data();
  return {kind,  pixels.empty() ? nullptr : pixels.data(), bytesPerRow, width, height,
          block, static_cast<uint32_t>(palette.size())};
}

ConvertStatus Convert(int32_t code, const RgbView &in, ConvertedImage *out,
                      const ConvertProgress &progress) {
  if (MethodOfCode(code) < 0)
    return ConvertStatus::UnknownCode;
  // Checked up front for the widest kind a code may make, so that no
  // conversion starts and then finds its result unaddressable.
  if (!PaddedBytesPerRow(TLP_KIND_FULL24, in.width, in.height) ||
      uint64_t(in.width) * in.height > std::numeric_limits<size_t>::max() / 4)
    return ConvertStatus::TooLarge;
  // Counting the colours is most of the median cut's time.
  const bool exact = code == 6 || code == 8;
  if (progress && (code == 9 || exact))
    progress(code == 9 ? "counting colours, median cut" : "counting colours", 0, 0);
  std::optional<std::vector<Colour>> palette;
  if (code == 9)
    palette = MedianCutPalette(in, kMaxPalette);
  else if (code == 10)
    palette = WindowsPalette();
  else if (exact)
    palette = DistinctColours(in);
  if (!palette) {
    *out = ToTrueColour(in, code == 2 || code == 6 ? TLP_KIND_FULL24 : TLP_KIND_HIGH16);
  } else if (exact) {
    // Each pixel's own colour is its nearest. A colour map of no entries
    // makes a file that readers refuse.
    *out = ToIndexed(in, palette->empty() ? std::vector<Colour>{0} : *palette, false);
  } else {
    *out = ToIndexed(in, *palette, code == 9, progress);
  }
  return ConvertStatus::Ok;
}

// ---- Indexed -------------------------------------------------------------------

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
    palette.push_back(box.mean);
  return palette;
}

ConvertedImage ToIndexed(const RgbView &in, const std::vector<Colour> &palette, bool diffuse,
                         const ConvertProgress &progress) {
  NearestCache nearest(palette);
  // Error owed to each pixel of this row and the next, in sixteenths, with a
  // spare pixel at both ends so that the edges need no test. Without
  // diffusion it stays zero, and each pixel is looked up as it is.
  const size_t slots = (size_t(in.width) + 2) * 3;
  std::vector<int> here(slots, 0), below(slots, 0);
  const auto fill = [&](const uint8_t *s, uint8_t *d) {
    std::fill(below.begin(), below.end(), 0);
    for (uint32_t x = 0; x < in.width; ++x, s += 3) {
      const size_t at = (size_t(x) + 1) * 3;
      uint8_t want[3];
      for (int ch = 0; ch < 3; ++ch)
        want[ch] = static_cast<uint8_t>(std::clamp(s[ch] + FromSixteenths(here[at + ch]), 0, 255));
      const uint8_t index = nearest.Find(MakeColour(want[0], want[1], want[2]));
      d[x] = index;
      if (!diffuse)
        continue;
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
  return Build(TLP_KIND_INDEXED8, in, palette, fill,
               diffuse ? "error diffusion" : "nearest colours", progress);
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
  static const uint8_t black[3] = {0, 0, 0};
  const auto widen = [](unsigned five) { return static_cast<uint8_t>((five * 255 + 15) / 31); };
  const uint8_t *row = image.Pixels + std::ptrdiff_t(y) * image.BytesPerRow;
  for (uint32_t x = 0; x < image.Width; ++x, d += 3) {
    if (image.Kind == TLP_KIND_HIGH16) {
      const unsigned word = row[2 * x] | (row[2 * x + 1] << 8);
      d[0] = widen((word >> 10) & 31);
      d[1] = widen((word >> 5) & 31);
      d[2] = widen(word & 31);
      continue;
    }
    // Blue, green, red: the pixel's own, its palette entry's, or black for an
    // index outside the palette.
    const uint8_t *bgr = image.Kind != TLP_KIND_INDEXED8 ? row + 3 * size_t(x)
                         : row[x] < image.PaletteCount   ? image.Palette + 4 * size_t(row[x])
                                                         : black;
    d[0] = bgr[2];
    d[1] = bgr[1];
    d[2] = bgr[0];
  }
}

bool RgbFromRecord(const HostImage &image, RgbPicture *picture) {
  if (!KnownKind(image.Kind) || !picture->Allocate(image.Width, image.Height))
    return false;
  for (uint32_t y = 0; y < image.Height; ++y)
    RgbRowFromRecord(image, y, picture->Row(y));
  return true;
}
