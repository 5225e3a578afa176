// Unit Etarga: writes a host image as an uncompressed Targa file.
#pragma once

#include "TargaPlugin.h"

#include <cstdint>
#include <cstdio>
#include <string>

// One encoder writes one file: colour-mapped 8-bit for kind 1, true colour
// 16-bit for kind 2 and 24-bit for kind 4, rows top first, no compression, no
// ID, no extension area. Bytes go to the file as they stand in memory.
class TTargaEncoder {
public:
  TTargaEncoder() = default;
  virtual ~TTargaEncoder() = default;
  TTargaEncoder(const TTargaEncoder &) = delete;
  TTargaEncoder &operator=(const TTargaEncoder &) = delete;

  // True when the whole file was written, or the host stopped the write
  // through `Progress` (the partial file then stands under the name, for the
  // host to judge). False, with nothing created or changed, for a record that
  // a Targa file cannot hold or a file that cannot be opened for writing.
  // False when a write or the close fails, and then an existing file is as
  // it was and a new one is gone (safe_write::TSafeWrite).
  bool SaveToFile(const std::string &fileName, const HostImage *image);

  // Called before each row with its number, 1 for the top row; a non-zero
  // answer stops the write. Null: no calls. An exception it throws passes
  // through, the incomplete file undone as after a failed write.
  ProgressCallback Progress = nullptr;

  // The largest width, height and colour-map length the 16-bit header
  // fields can hold.
  static constexpr uint32_t kMaxDimension = 0xFFFF;
  // Whether the record is one this encoder can write faithfully.
  static bool CanWrite(const HostImage &image);

private:
  // Each step answers false when the stream refused bytes.
  bool WriteHeader8();
  bool WriteHeader16();
  bool WriteHeader24();
  bool WritePalette();
  bool WriteRows8();
  bool WriteRows16();
  bool WriteRows24();

  bool WriteHeader(uint8_t colorMapType, uint8_t imageType, uint16_t colorMapLength,
                   uint8_t colorMapEntryBits, uint8_t pixelDepth);
  bool WriteRows(uint32_t bytesPerPixel);
  bool WriteBody();

  const HostImage *Image = nullptr;
  // The safe write's stream while the file is written; only the safe write closes it.
  std::FILE *Stream = nullptr;
};
