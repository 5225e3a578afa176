// Writes a few Targa files through the plug-in's export, each with the RGB
// bytes a reader should find in it, for checking by independent readers; and
// compares what a reader found with what was expected.
//
//   tlp_export_samples write DIR     DIR/NAME.tga, DIR/NAME.rgb, DIR/samples.txt
//   tlp_export_samples compare EXPECTED.rgb FOUND.rgb TOLERANCE
#include "PluginLoader.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Sample {
  std::string name;
  int32_t kind;
  uint32_t width, height, padding, paletteCount;
  int tolerance; // 5-bit channels widen slightly differently from reader to reader
};

const Sample kSamples[] = {
    {"full24_7x5_padded", 4, 7, 5, 1, 0, 0},
    {"full24_1x1", 4, 1, 1, 0, 0, 0},
    {"full24_300x200", 4, 300, 200, 0, 0, 0},
    {"indexed8_13x9_256", 1, 13, 9, 3, 256, 0},
    {"indexed8_5x3_3", 1, 5, 3, 0, 3, 0},
    {"high16_11x6_padded", 2, 11, 6, 2, 0, 1},
};

uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v * 255 + 15) / 31); }

bool WriteFile(const std::string &path, const Bytes &bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bool(f);
}

int Write(const std::string &dir) {
  Plugin plugin;
  std::string error;
  if (!plugin.Load(DefaultPluginPath(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::mt19937 rng(77);
  std::string list;
  for (const Sample &s : kSamples) {
    const uint32_t b = s.kind == 1 ? 1 : s.kind == 2 ? 2 : 3;
    const uint32_t pitch = s.width * b + s.padding;
    Bytes pixels(static_cast<size_t>(pitch) * s.height, 0xEE);
    Bytes palette;
    for (uint32_t i = 0; i < s.paletteCount; ++i)
      palette.insert(palette.end(), {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                     static_cast<uint8_t>(rng()), 0xAB});
    Bytes rgb;
    for (uint32_t r = 0; r < s.height; ++r)
      for (uint32_t c = 0; c < s.width; ++c) {
        uint8_t *px = &pixels[static_cast<size_t>(r) * pitch + c * b];
        uint8_t blue, green, red;
        if (s.kind == 1) {
          px[0] = static_cast<uint8_t>(rng() % s.paletteCount);
          blue = palette[px[0] * 4u];
          green = palette[px[0] * 4u + 1];
          red = palette[px[0] * 4u + 2];
        } else if (s.kind == 2) {
          const unsigned v = rng() & 0x7FFF;
          px[0] = static_cast<uint8_t>(v & 0xFF);
          px[1] = static_cast<uint8_t>(v >> 8);
          blue = Widen5(v & 31);
          green = Widen5((v >> 5) & 31);
          red = Widen5((v >> 10) & 31);
        } else {
          // A gradient with some noise: wrong row order or a shifted row shows.
          blue = static_cast<uint8_t>(c + (rng() & 7));
          green = static_cast<uint8_t>(r * 3);
          red = static_cast<uint8_t>((c * r) ^ (rng() & 0x30));
          px[0] = blue;
          px[1] = green;
          px[2] = red;
        }
        rgb.insert(rgb.end(), {red, green, blue});
      }
    HostImage image{};
    image.Kind = s.kind;
    image.Pixels = pixels.data();
    image.BytesPerRow = static_cast<int32_t>(pitch);
    image.Width = s.width;
    image.Height = s.height;
    image.Palette = palette.empty() ? nullptr : palette.data();
    image.PaletteCount = s.paletteCount;
    const std::string base = dir + "/" + s.name;
    if (plugin.Api().EXPORT_WriteToFile((base + ".tga").c_str(), &image, nullptr) != 1) {
      std::fprintf(stderr, "%s: export failed\n", s.name.c_str());
      return 1;
    }
    if (!WriteFile(base + ".rgb", rgb))
      return 1;
    list += s.name + " " + std::to_string(s.width) + " " + std::to_string(s.height) + " " +
            std::to_string(s.tolerance) + "\n";
  }
  return WriteFile(dir + "/samples.txt", Bytes(list.begin(), list.end())) ? 0 : 1;
}

Bytes ReadFile(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

int Compare(const std::string &expectedPath, const std::string &foundPath, int tolerance) {
  const Bytes expected = ReadFile(expectedPath), found = ReadFile(foundPath);
  if (expected.size() != found.size()) {
    std::fprintf(stderr, "%s: %zu bytes, expected %zu\n", foundPath.c_str(), found.size(),
                 expected.size());
    return 1;
  }
  for (size_t i = 0; i < expected.size(); ++i)
    if (std::abs(int(expected[i]) - int(found[i])) > tolerance) {
      std::fprintf(stderr, "%s: pixel %zu channel %zu is %d, expected %d\n", foundPath.c_str(),
                   i / 3, i % 3, found[i], expected[i]);
      return 1;
    }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "write" && argc == 3)
    return Write(argv[2]);
  if (mode == "compare" && argc == 5)
    return Compare(argv[2], argv[3], std::atoi(argv[4]));
  std::fprintf(stderr, "usage: tlp_export_samples write DIR | compare EXPECTED FOUND TOLERANCE\n");
  return 2;
}
