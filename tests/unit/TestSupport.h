// Shared helpers of the unit tests: building TGA files from bytes, temporary
// files, and the plug-in loaded by path as a host loads it.
#pragma once

#include "PluginLoader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The 18 header bytes, field by field, in file order.
struct TgaHeader {
  uint8_t idLength = 0;
  uint8_t colorMapType = 0;
  uint8_t imageType = 2;
  uint16_t colorMapFirst = 0;
  uint16_t colorMapLength = 0;
  uint8_t colorMapEntryBits = 0;
  uint16_t xOrigin = 0;
  uint16_t yOrigin = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t pixelDepth = 24;
  uint8_t descriptor = 0x20;

  Bytes Encode() const {
    auto le = [](Bytes &b, uint16_t v) {
      b.push_back(static_cast<uint8_t>(v & 0xFF));
      b.push_back(static_cast<uint8_t>(v >> 8));
    };
    Bytes b;
    b.push_back(idLength);
    b.push_back(colorMapType);
    b.push_back(imageType);
    le(b, colorMapFirst);
    le(b, colorMapLength);
    b.push_back(colorMapEntryBits);
    le(b, xOrigin);
    le(b, yOrigin);
    le(b, width);
    le(b, height);
    b.push_back(pixelDepth);
    b.push_back(descriptor);
    return b;
  }
};

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A file in a temporary folder of the test process, removed with the object.
class TempFile {
public:
  explicit TempFile(const std::string &name = "image.tga");
  TempFile(const Bytes &content, const std::string &name = "image.tga") : TempFile(name) {
    Write(content);
  }
  ~TempFile();
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;

  const std::string &Path() const { return path_; }
  const char *c_str() const { return path_.c_str(); }
  void Write(const Bytes &content) const;
  Bytes Read() const;
  bool Exists() const;

  // A fresh folder below the system's temporary folder, unique per process.
  static std::string Folder();

private:
  std::string path_;
};

// The built plug-in, loaded once per test program from next to it.
Plugin &LoadedPlugin();
const PluginApi &Api();

// What EXPORT_BeforeTransform writes; none when it leaves the integer alone.
std::optional<int32_t> ReportedCode();
