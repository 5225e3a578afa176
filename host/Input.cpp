#include "Input.h"

#include "Files.h"
#include "Refusal.h"
#include "TargaHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// The file's Targa header; false when the file is shorter than one.
bool ReadHeader(const std::string &path, targa::TTargaHeader *header) {
  uint8_t bytes[targa::kHeaderSize];
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return false;
  const bool whole = std::fread(bytes, 1, sizeof bytes, f) == sizeof bytes;
  std::fclose(f);
  if (whole)
    *header = targa::TTargaHeader::Parse(bytes);
  return whole;
}

// What a file holds of the pixel data its header claims, in bytes: for an
// uncompressed file exactly; for run-length data at most what its bytes can
// describe, 128 pixels for a packet's header and one pixel.
struct PixelData {
  uint64_t claimed = 0, held = 0;
};

PixelData Held(const targa::TTargaHeader &h, uint64_t fileSize) {
  const uint64_t bytes = uint64_t(h.PixelBytes());
  const uint64_t map = h.ColorMapType == targa::kColorMapPresent
                           ? uint64_t(h.ColorMapLen) * ((h.ColorMapEntrySize + 7u) / 8)
                           : 0;
  const uint64_t start = targa::kHeaderSize + h.IdLength + map;
  const uint64_t there = fileSize > start ? fileSize - start : 0;
  PixelData data;
  data.claimed = uint64_t(h.ImageWidth) * h.ImageHeight * bytes;
  data.held = h.RunLength() ? (there + bytes) / (bytes + 1) * 128 * bytes : there;
  data.held = std::min(data.held, data.claimed);
  return data;
}

// The plug-in accepted the file's header but delivered no picture; it says
// no more than that, so the reason comes from the header's own checks.
std::string DecodeFailure(const std::string &path) {
  return "the plug-in could not decode '" + path + "': " + RefusalReason(path, true);
}

} // namespace

std::string Unreadable(const std::string &path) {
  int error = 0;
  switch (KindOf(path, &error)) {
  case FileKind::Missing:
  case FileKind::Unknown:
    return ErrorText(error);
  case FileKind::Folder:
    return ErrorText(EISDIR);
  case FileKind::Other:
    return "it is not a regular file";
  case FileKind::Regular:
    break;
  }
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return ErrorText(errno);
  std::fclose(f);
  return {};
}

bool IsPng(const std::string &path) {
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  unsigned char sig[8] = {};
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return false;
  const size_t got = std::fread(sig, 1, sizeof sig, f);
  std::fclose(f);
  return got == 8 && std::memcmp(sig, kPng, 8) == 0;
}

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (size_t at = digits.size(); at > 3; at -= 3)
    digits.insert(at - 3, ",");
  return digits;
}

bool WithinLimits(const std::string &path, uint32_t width, uint32_t height, uint64_t maxPixels,
                  std::string *error) {
  if (width > kMaxTargaSide || height > kMaxTargaSide) {
    *error = "'" + path + "' is " + std::to_string(width) + " x " + std::to_string(height) +
             "; a Targa file holds at most " + std::to_string(kMaxTargaSide) + " x " +
             std::to_string(kMaxTargaSide);
    return false;
  }
  const uint64_t pixels = uint64_t(width) * height;
  if (pixels > maxPixels) {
    *error = "'" + path + "' is " + std::to_string(width) + " x " + std::to_string(height) +
             ", " + std::to_string(pixels) + " pixels, more than the limit of " +
             std::to_string(maxPixels) + " (--max-pixels N sets another)";
    return false;
  }
  return true;
}

bool PngCanHold(const std::string &path, uint32_t width, uint32_t height, std::string *error) {
  uint64_t size = 0;
  if (!SizeOf(path, &size))
    return true;
  const uint64_t rows = uint64_t(height) * (1 + (uint64_t(width) + 7) / 8);
  if (rows <= (size + 1) * 1032)
    return true;
  *error = "'" + path + "' claims " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, which no PNG file of " + Grouped(size) + " bytes can hold";
  return false;
}

ImportResult ImportTarga(const PluginApi &api, const std::string &path, const ReadLimits &limits,
                         Imported *imported, std::string *error, std::string *notice,
                         int32_t boxWidth, int32_t boxHeight) {
  const std::string unreadable = Unreadable(path);
  if (!unreadable.empty()) {
    *error = "cannot read '" + path + "': " + unreadable;
    return ImportResult::Failed;
  }
  if (api.IMPORT_ValidFileCheck(path.c_str()) != 1) {
    *error = "cannot read '" + path + "': " + RefusalReason(path, false);
    return ImportResult::NotTarga;
  }
  // A preview is read from the whole file as well.
  targa::TTargaHeader header;
  uint64_t fileSize = 0;
  if (ReadHeader(path, &header)) {
    if (!WithinLimits(path, header.ImageWidth, header.ImageHeight, limits.maxPixels, error))
      return ImportResult::Failed;
    // The plug-in delivers what the file lacks as white: the picture costs
    // what the header claims, whatever the file holds.
    const PixelData data = Held(header, SizeOf(path, &fileSize) ? fileSize : 0);
    if (data.held < data.claimed) {
      const uint64_t missing = data.claimed - data.held;
      const std::string holds = "'" + path + "' holds " + (header.RunLength() ? "at most " : "") +
                                Grouped(data.held) + " of " + Grouped(data.claimed) +
                                " bytes of pixel data";
      if (missing > limits.maxMissing) {
        *error = holds + "; the " + Grouped(missing) + " missing, which would read as white, are " +
                 "more than the limit of " + Grouped(limits.maxMissing) +
                 " (--max-missing=BYTES sets another)";
        return ImportResult::Failed;
      }
      *notice = holds + "; the rest reads as white";
    }
  }
  if (boxWidth > 0)
    api.IMPORT_CreatePreviewImage(path.c_str(), boxWidth, boxHeight, &imported->image);
  else
    api.IMPORT_CreateImage(path.c_str(), &imported->image);
  if (!imported->image) {
    *error = DecodeFailure(path);
    return ImportResult::Failed;
  }
  return ImportResult::Ok;
}
