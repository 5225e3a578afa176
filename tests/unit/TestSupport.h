// Shared helpers of the unit tests: building TGA files from bytes, temporary
// files, and the plug-in loaded by path as a host loads it.
#pragma once

#include "PluginLoader.h"
#include "TargaHeader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A header for building files in tests: uncompressed 24-bit true colour,
// top row first, 0 × 0, until changed.
struct TgaHeader : targa::TTargaHeader {
  TgaHeader() {
    ImageType = targa::kTrueColor;
    PixelDepth = 24;
    ImageDescriptor = targa::kTopLeftOriginBit;
  }
  Bytes Encode() const {
    Bytes b(targa::kHeaderSize);
    Serialise(b.data());
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

// The test build of the plug-in, loaded beside the product's: every
// allocation it makes counts, and the one numbered n (from 1) is refused.
struct SeamPlugin {
  Plugin plugin;
  void (*RefuseAllocation)(long n) = nullptr; // 0: none is
  int (*AllocationRefused)() = nullptr;       // 1: the refusal came
  const PluginApi &Api() const { return plugin.Api(); }
};
SeamPlugin &Seams();

// What EXPORT_BeforeTransform writes; none when it leaves the integer alone.
std::optional<int32_t> ReportedCode();

// Writes a picture to `name` through the safe-write sequence and pauses at
// `point` (announced by making `marker`) for a test to kill it.
int KillChild(const std::string &name, const std::string &point, const std::string &marker);
