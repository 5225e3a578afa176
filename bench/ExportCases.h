// The export over an existing file, timed the same way on Linux and for the
// 32-bit DLL under Wine: every path the safe-write sequence can take, beside
// the floor, fopen(OUT, "wb") and the same writes over the same file, in the
// same folder. Each case has an untimed step that sets the file up and a
// timed one.
#pragma once

#include "PluginLoader.h"
#include "TargaHeader.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct ExportRecord {
  std::vector<uint8_t> pixels, palette;
  HostImage record{};
};

// A 4096 × 4096 record of kind 4 (24-bit) or 1 (8-bit, 256 colours).
inline ExportRecord MakeExportRecord(int32_t kind) {
  ExportRecord r;
  const uint32_t side = 4096, pixel = kind == TLP_KIND_INDEXED8 ? 1 : 3;
  r.pixels.resize(size_t(side) * side * pixel);
  for (size_t i = 0; i < r.pixels.size(); ++i)
    r.pixels[i] = static_cast<uint8_t>(i * 7 + i / 4099);
  if (kind == TLP_KIND_INDEXED8)
    for (int i = 0; i < 256; ++i)
      r.palette.insert(r.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
  r.record = HostImage{kind, r.pixels.data(), static_cast<int32_t>(side * pixel), side, side,
                       r.palette.empty() ? nullptr : r.palette.data(), static_cast<uint32_t>(r.palette.size() / 4)};
  return r;
}

// The floor: a plain truncating write of the same bytes, in the same writes.
inline bool FloorWrite(const std::string &path, const HostImage &r) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    return false;
  targa::TTargaHeader h;
  const bool mapped = r.Kind == TLP_KIND_INDEXED8;
  h.ColorMapType = mapped ? targa::kColorMapPresent : targa::kNoColorMap;
  h.ImageType = mapped ? targa::kColorMapped : targa::kTrueColor;
  h.ColorMapLen = static_cast<uint16_t>(r.PaletteCount);
  h.ColorMapEntrySize = mapped ? targa::kColorMapEntryBits : 0;
  h.ImageWidth = static_cast<uint16_t>(r.Width);
  h.ImageHeight = static_cast<uint16_t>(r.Height);
  h.PixelDepth = mapped ? 8 : 24;
  h.ImageDescriptor = targa::kTopLeftOriginBit;
  uint8_t header[targa::kHeaderSize];
  h.Serialise(header);
  bool ok = std::fwrite(header, 1, sizeof header, f) == sizeof header;
  std::vector<uint8_t> map;
  for (uint32_t i = 0; i < r.PaletteCount; ++i)
    map.insert(map.end(), r.Palette + 4 * i, r.Palette + 4 * i + 3);
  ok = ok && std::fwrite(map.data(), 1, map.size(), f) == map.size();
  const size_t row = size_t(r.Width) * (mapped ? 1 : 3);
  for (uint32_t y = 0; ok && y < r.Height; ++y)
    ok = std::fwrite(static_cast<const uint8_t *>(r.Pixels) + y * size_t(r.BytesPerRow), 1, row, f) == row;
  return std::fclose(f) == 0 && ok;
}

struct ExportCase {
  std::string name;
  std::function<bool()> prepare, run;
};

// The cases for one record, named "export/<kind>/<path>". `secondName`
// makes a hard link beside the file, the way to take the in-place path where
// a rename would otherwise be chosen (Linux); `link` makes it.
inline std::vector<ExportCase> ExportCases(const PluginApi &api, const ExportRecord &r, const std::string &dir,
                                           const std::function<bool(const std::string &, const std::string &)> &link,
                                           const std::function<void(const std::string &)> &remove) {
  const std::string kind = r.record.Kind == TLP_KIND_INDEXED8 ? "kind1" : "kind4";
  const std::string out = dir + "/export-" + kind + ".tga", second = dir + "/export-" + kind + "-2.tga";
  const HostImage *record = &r.record;
  auto plugin = [&api, record, out] { return api.EXPORT_WriteToFile(out.c_str(), record, nullptr) == 1; };
  auto floor = [record, out] { return FloorWrite(out, *record); };
  // Over a file of the record's own size; a larger one (80 MiB) is kept in a
  // temporary file rather than in memory.
  auto existing = [=](bool larger, bool linked) {
    return [=] {
      remove(second);
      bool ok = larger ? [&] {
        std::FILE *f = std::fopen(out.c_str(), "wb");
        return f && std::fseek(f, (80L << 20) - 1, SEEK_SET) == 0 && std::fputc(0, f) == 0 && std::fclose(f) == 0;
      }()
                       : FloorWrite(out, *record);
      return ok && (!linked || link(out, second));
    };
  };
  auto fresh = [=] {
    remove(second);
    remove(out);
    return true;
  };
  std::vector<ExportCase> cases = {
      {"export/" + kind + "/floor-over-existing", existing(false, false), floor},
      {"export/" + kind + "/plugin-over-existing", existing(false, false), plugin},
      {"export/" + kind + "/floor-new", fresh, floor},
      {"export/" + kind + "/plugin-new", fresh, plugin},
      {"export/" + kind + "/plugin-over-80MiB", existing(true, false), plugin},
  };
  if (link) {
    cases.push_back({"export/" + kind + "/plugin-in-place", existing(false, true), plugin});
    cases.push_back({"export/" + kind + "/plugin-in-place-over-80MiB", existing(true, true), plugin});
  }
  return cases;
}

} // namespace bench
