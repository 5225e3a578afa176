// The benchmarks' input files, the same for the Linux benchmark and the
// 32-bit Windows driver: every kind the decoder reads, both row orders,
// photograph-like pictures and pictures of long runs.
#pragma once

#include "TargaHeader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace bench {

using Bytes = std::vector<uint8_t>;

struct Input {
  std::string name;
  int width, height;
  std::string path;
  size_t outputBytes; // size of the delivered block
};

inline Bytes Header(int type, int depth, int w, int h, bool topDown, int mapLength = 0) {
  targa::TTargaHeader t;
  t.ColorMapType = mapLength ? targa::kColorMapPresent : targa::kNoColorMap;
  t.ImageType = static_cast<uint8_t>(type);
  t.ColorMapLen = static_cast<uint16_t>(mapLength);
  t.ColorMapEntrySize = mapLength ? targa::kColorMapEntryBits : 0;
  t.ImageWidth = static_cast<uint16_t>(w);
  t.ImageHeight = static_cast<uint16_t>(h);
  t.PixelDepth = static_cast<uint8_t>(depth);
  t.ImageDescriptor = topDown ? targa::kTopLeftOriginBit : 0;
  Bytes b(targa::kHeaderSize);
  t.Serialise(b.data());
  return b;
}

// Greedy run-length packets over pixels of `size` bytes; runs cross rows.
inline Bytes Rle(const Bytes &px, int size) {
  Bytes out;
  out.reserve(px.size() + px.size() / 64);
  size_t n = px.size() / static_cast<size_t>(size), i = 0;
  auto same = [&](size_t a, size_t b) {
    return std::memcmp(&px[a * size], &px[b * size], static_cast<size_t>(size)) == 0;
  };
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && same(i, i + run))
      ++run;
    if (run > 1) {
      out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
      out.insert(out.end(), px.begin() + static_cast<ptrdiff_t>(i * size),
                 px.begin() + static_cast<ptrdiff_t>((i + 1) * size));
      i += run;
      continue;
    }
    size_t j = i + 1;
    while (j < n && j - i < 128 && !(j + 1 < n && same(j, j + 1)))
      ++j;
    out.push_back(static_cast<uint8_t>(j - i - 1));
    out.insert(out.end(), px.begin() + static_cast<ptrdiff_t>(i * size),
               px.begin() + static_cast<ptrdiff_t>(j * size));
    i = j;
  }
  return out;
}

// A photograph-like picture: smooth shading with grain, so that runs are
// rare; `flat` gives large areas of one colour instead.
inline Bytes Picture(int w, int h, bool flat) {
  Bytes px(static_cast<size_t>(w) * h * 3);
  std::mt19937 rng(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t *p = &px[(static_cast<size_t>(y) * w + x) * 3];
      if (flat) {
        int band = ((x / 512) + (y / 256)) % 5;
        p[0] = static_cast<uint8_t>(band * 50);
        p[1] = static_cast<uint8_t>(200 - band * 30);
        p[2] = static_cast<uint8_t>(band * 17);
      } else {
        int grain = static_cast<int>(rng() % 9) - 4;
        p[0] = static_cast<uint8_t>((x * 255 / w + grain) & 0xFF);
        p[1] = static_cast<uint8_t>((y * 255 / h + grain) & 0xFF);
        p[2] = static_cast<uint8_t>(((x + y) * 127 / w + grain) & 0xFF);
      }
    }
  return px;
}

inline Bytes Rows(const Bytes &px, int w, int h, int size, bool topDown) {
  if (topDown)
    return px;
  Bytes out;
  out.reserve(px.size());
  size_t row = static_cast<size_t>(w) * size;
  for (int y = h - 1; y >= 0; --y)
    out.insert(out.end(), px.begin() + static_cast<ptrdiff_t>(y * row), px.begin() + static_cast<ptrdiff_t>((y + 1) * row));
  return out;
}

inline void Write(const std::string &path, const Bytes &a, const Bytes &b = {}, const Bytes &c = {}) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    std::abort();
  for (const Bytes *part : {&a, &b, &c})
    if (!part->empty())
      std::fwrite(part->data(), 1, part->size(), f);
  std::fclose(f);
}

// Writes one file of every kind, `w` × `h`, into `dir` and adds them to
// `inputs`, named "<kind>/<suffix>".
inline void MakeInputs(int w, int h, const std::string &suffix, const std::string &dir, std::vector<Input> *inputs) {
  Bytes photo = Picture(w, h, false), flat = Picture(w, h, true);
  auto add = [&](const std::string &name, size_t outBytesPerPixel, const Bytes &header, const Bytes &map,
                 const Bytes &data) {
    Input in{name + "/" + suffix, w, h, dir + "/" + name + "-" + suffix + ".tga",
             static_cast<size_t>(w) * h * outBytesPerPixel};
    Write(in.path, header, map, data);
    inputs->push_back(in);
  };
  add("24-raw-bottom-up", 3, Header(2, 24, w, h, false), {}, Rows(photo, w, h, 3, false));
  add("24-raw-top-down", 3, Header(2, 24, w, h, true), {}, photo);
  add("24-rle-photo", 3, Header(10, 24, w, h, false), {}, Rle(Rows(photo, w, h, 3, false), 3));
  add("24-rle-long-runs", 3, Header(10, 24, w, h, false), {}, Rle(Rows(flat, w, h, 3, false), 3));
  Bytes px32, px16, grey, index;
  for (size_t i = 0; i < photo.size(); i += 3) {
    px32.insert(px32.end(), {photo[i], photo[i + 1], photo[i + 2], 255});
    unsigned v = (photo[i + 2] >> 3) << 10 | (photo[i + 1] >> 3) << 5 | (photo[i] >> 3);
    px16.insert(px16.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    grey.push_back(photo[i + 1]);
    index.push_back(static_cast<uint8_t>((photo[i] >> 5) << 5 | (photo[i + 1] >> 5) << 2 | (photo[i + 2] >> 6)));
  }
  Bytes flatIndex;
  for (size_t i = 0; i < flat.size(); i += 3)
    flatIndex.push_back(static_cast<uint8_t>(flat[i] ^ flat[i + 1]));
  Bytes map(768);
  for (size_t i = 0; i < map.size(); ++i)
    map[i] = static_cast<uint8_t>(i * 7);
  add("32-raw-bottom-up", 3, Header(2, 32, w, h, false), {}, Rows(px32, w, h, 4, false));
  add("16-raw-bottom-up", 3, Header(2, 16, w, h, false), {}, Rows(px16, w, h, 2, false));
  add("grey-raw-bottom-up", 3, Header(3, 8, w, h, false), {}, Rows(grey, w, h, 1, false));
  add("8-indexed-raw", 1, Header(1, 8, w, h, false, 256), map, Rows(index, w, h, 1, false));
  add("8-indexed-rle", 1, Header(9, 8, w, h, false, 256), map, Rle(Rows(flatIndex, w, h, 1, false), 1));
}

} // namespace bench
