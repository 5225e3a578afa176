// Helpers of the export tests: host-built image records with padded rows, the
// file the encoder should make of them, and a recording ProgressCallback.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <random>
#include <vector>

inline uint32_t BytesPerPixel(int32_t kind) { return kind == 1 ? 1 : kind == 2 ? 2 : 3; }

// Padding bytes of host rows and byte 3 of palette entries: must never reach
// a file.
const uint8_t kPadByte = 0xEE;
const uint8_t kReservedByte = 0xAB;

// A record as a host builds one: rows `padding` bytes longer than needed.
struct HostPicture {
  int32_t kind = 4;
  uint32_t width = 0, height = 0;
  int32_t pitch = 0;
  Bytes pixels;  // height rows at `pitch`
  Bytes palette; // 4 bytes per entry

  HostImage Record() {
    HostImage r{};
    r.Kind = kind;
    r.Pixels = pixels.empty() ? nullptr : pixels.data();
    r.BytesPerRow = pitch;
    r.Width = width;
    r.Height = height;
    r.Palette = palette.empty() ? nullptr : palette.data();
    r.PaletteCount = static_cast<uint32_t>(palette.size() / 4);
    return r;
  }
  uint32_t RowBytes() const { return width * BytesPerPixel(kind); }
  // The meaningful bytes of row r (0 = top).
  Bytes Row(uint32_t r) const {
    auto at = pixels.begin() + static_cast<std::ptrdiff_t>(r) * pitch;
    return Bytes(at, at + RowBytes());
  }
  // The colour map as the file holds it: three bytes of each entry.
  Bytes ColorMap() const {
    Bytes out;
    for (size_t i = 0; i + 4 <= palette.size(); i += 4)
      out.insert(out.end(), palette.begin() + i, palette.begin() + i + 3);
    return out;
  }
  Bytes Header() const {
    TgaHeader h;
    h.ColorMapType = kind == 1 ? 1 : 0;
    h.ImageType = kind == 1 ? 1 : 2;
    h.ColorMapLen = kind == 1 ? static_cast<uint16_t>(palette.size() / 4) : 0;
    h.ColorMapEntrySize = kind == 1 ? 24 : 0;
    h.ImageWidth = static_cast<uint16_t>(width);
    h.ImageHeight = static_cast<uint16_t>(height);
    h.PixelDepth = static_cast<uint8_t>(BytesPerPixel(kind) * 8);
    h.ImageDescriptor = 0x20;
    return h.Encode();
  }
  // The complete file, or its first `rows` rows only.
  Bytes File(uint32_t rows) const {
    Bytes out = Header();
    if (kind == 1) {
      Bytes map = ColorMap();
      out.insert(out.end(), map.begin(), map.end());
    }
    for (uint32_t r = 0; r < rows && r < height; ++r) {
      Bytes row = Row(r);
      out.insert(out.end(), row.begin(), row.end());
    }
    return out;
  }
  Bytes File() const { return File(height); }
};

// Pixels from `rng` (or a pattern when null), padding filled with kPadByte,
// palette entries with a non-zero reserved byte.
inline HostPicture MakePicture(int32_t kind, uint32_t width, uint32_t height, uint32_t padding = 0,
                               uint32_t paletteCount = 0, std::mt19937 *rng = nullptr) {
  HostPicture p;
  p.kind = kind;
  p.width = width;
  p.height = height;
  p.pitch = static_cast<int32_t>(width * BytesPerPixel(kind) + padding);
  p.pixels.assign(static_cast<size_t>(p.pitch) * height, kPadByte);
  uint32_t n = 0;
  auto next = [&]() -> uint8_t {
    if (rng)
      return static_cast<uint8_t>((*rng)() & 0xFF);
    ++n;
    return static_cast<uint8_t>((n * 7 + n / 251) & 0xFF);
  };
  for (uint32_t r = 0; r < height; ++r)
    for (uint32_t c = 0; c < p.RowBytes(); ++c) {
      uint8_t v = next();
      p.pixels[static_cast<size_t>(r) * p.pitch + c] = v == kPadByte ? 0x11 : v;
    }
  for (uint32_t i = 0; i < paletteCount; ++i) {
    p.palette.push_back(next());
    p.palette.push_back(next());
    p.palette.push_back(next());
    p.palette.push_back(kReservedByte);
  }
  return p;
}

// The ProgressCallback of the tests: records each row number and answers
// non-zero when it reaches `stopAt` (0: never).
struct ProgressLog {
  std::vector<int32_t> rows;
  int32_t stopAt = 0;
  int32_t answer = 1;
};
inline ProgressLog g_progress;

inline int32_t TLP_CALL RecordProgress(int32_t row) {
  g_progress.rows.push_back(row);
  return row == g_progress.stopAt ? g_progress.answer : 0;
}

inline void ResetProgress(int32_t stopAt = 0, int32_t answer = 1) {
  g_progress = ProgressLog{};
  g_progress.stopAt = stopAt;
  g_progress.answer = answer;
}

inline std::vector<int32_t> OneTo(int32_t n) {
  std::vector<int32_t> v;
  for (int32_t i = 1; i <= n; ++i)
    v.push_back(i);
  return v;
}

// Writes through the plug-in's export, as a host does.
inline int32_t Export(const std::string &path, HostPicture &picture,
                      ProgressCallback progress = RecordProgress) {
  HostImage record = picture.Record();
  return Api().EXPORT_WriteToFile(path.c_str(), &record, progress);
}
