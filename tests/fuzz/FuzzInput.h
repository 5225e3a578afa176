// Shared by the fuzz targets: the input's last bytes choose the mode, the
// rest is written to a file for the decoder to open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace fuzz {

// Blocks above this fail the run instead of exhausting the fuzzer's memory.
constexpr size_t kMaxBlockBytes = size_t(1) << 20;

struct Input {
  const uint8_t *file;
  size_t fileSize;
  uint8_t mode;
  int32_t boxW, boxH;
};

inline Input Split(const uint8_t *data, size_t size) {
  Input in{data, size, 0, 1, 1};
  if (size >= 3) {
    in.fileSize = size - 3;
    in.mode = data[size - 3];
    in.boxW = 1 + data[size - 2] % 64;
    in.boxH = 1 + data[size - 1] % 64;
  }
  return in;
}

// One file per fuzzing process, rewritten for every input.
inline const std::string &WriteFile(const uint8_t *data, size_t size) {
  static const std::string path = [] {
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/tlp-fuzz-" + std::to_string(getpid()) + ".tga";
  }();
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    std::abort();
  if (size && std::fwrite(data, 1, size, f) != size)
    std::abort();
  std::fclose(f);
  return path;
}

} // namespace fuzz
