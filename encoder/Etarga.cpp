#include "Etarga.h"
#include "SafeWrite.h"
#include "TargaHeader.h"

#include <utility>

namespace {

// Colour-map entries per block write: bounds the stack buffer.
const uint32_t kPaletteChunk = 256;

} // namespace

bool TTargaEncoder::CanWrite(const HostImage &image) {
  switch (image.Kind) {
  case TLP_KIND_INDEXED8:
    if (image.PaletteCount > kMaxDimension)
      return false;
    break;
  case TLP_KIND_HIGH16:
  case TLP_KIND_FULL24:
    break;
  default:
    return false;
  }
  return image.Width <= kMaxDimension && image.Height <= kMaxDimension;
}

bool TTargaEncoder::SaveToFile(const std::string &fileName, const HostImage *image) {
  Image = image;
  // Checked before opening: a record the header cannot describe must not
  // cost the host an existing file.
  if (!CanWrite(*Image))
    return false;

  safe_write::TSafeWrite out(fileName);
  Stream = out.Open();
  if (!Stream)
    return false;
  // Every way out before the close, the host's own exception from Progress
  // included, leaves an old file as it was and no new one.
  struct Unfinished {
    std::FILE *&stream;
    safe_write::TSafeWrite &out;
    ~Unfinished() {
      if (stream)
        out.Close(std::exchange(stream, nullptr), false);
    }
  } unfinished{Stream, out};

  // A stop by the host counts as written: what came before it replaces the
  // old file, as the host asked.
  const bool written = WriteBody();
  return out.Close(std::exchange(Stream, nullptr), written);
}

bool TTargaEncoder::WriteBody() {
  if (Image->Kind == TLP_KIND_INDEXED8)
    return WriteHeader8() && WritePalette() && WriteRows8();
  if (Image->Kind == TLP_KIND_HIGH16)
    return WriteHeader16() && WriteRows16();
  // CanWrite, before the file was opened, left only the 24-bit kind.
  return WriteHeader24() && WriteRows24();
}

// No ID, origin 0, rows top first, no attribute bits: everything not given
// here is 0. CanWrite has checked that the sizes fit their 16-bit fields.
bool TTargaEncoder::WriteHeader(uint8_t colorMapType, uint8_t imageType, uint16_t colorMapLength,
                                uint8_t colorMapEntryBits, uint8_t pixelDepth) {
  targa::TTargaHeader h;
  h.ColorMapType = colorMapType;
  h.ImageType = imageType;
  h.ColorMapLen = colorMapLength;
  h.ColorMapEntrySize = colorMapEntryBits;
  h.ImageWidth = static_cast<uint16_t>(Image->Width);
  h.ImageHeight = static_cast<uint16_t>(Image->Height);
  h.PixelDepth = pixelDepth;
  h.ImageDescriptor = targa::kTopLeftOriginBit;
  uint8_t bytes[targa::kHeaderSize];
  h.Serialise(bytes);
  return std::fwrite(bytes, 1, sizeof bytes, Stream) == sizeof bytes;
}

bool TTargaEncoder::WriteHeader8() {
  return WriteHeader(targa::kColorMapPresent, targa::kColorMapped,
                     static_cast<uint16_t>(Image->PaletteCount), targa::kColorMapEntryBits, 8);
}

bool TTargaEncoder::WriteHeader16() { return WriteHeader(targa::kNoColorMap, targa::kTrueColor, 0, 0, 16); }

bool TTargaEncoder::WriteHeader24() { return WriteHeader(targa::kNoColorMap, targa::kTrueColor, 0, 0, 24); }

// Entries are blue, green, red, reserved in memory; the file's 24-bit map
// takes the first three bytes of each.
bool TTargaEncoder::WritePalette() {
  uint8_t buffer[kPaletteChunk * 3];
  const uint8_t *entry = Image->Palette;
  for (uint32_t done = 0; done < Image->PaletteCount;) {
    uint32_t n = Image->PaletteCount - done;
    if (n > kPaletteChunk)
      n = kPaletteChunk;
    uint8_t *out = buffer;
    for (uint32_t i = 0; i < n; ++i, entry += 4) {
      *out++ = entry[0];
      *out++ = entry[1];
      *out++ = entry[2];
    }
    const size_t bytes = static_cast<size_t>(n) * 3;
    if (std::fwrite(buffer, 1, bytes, Stream) != bytes)
      return false;
    done += n;
  }
  return true;
}

bool TTargaEncoder::WriteRows8() { return WriteRows(1); }
bool TTargaEncoder::WriteRows16() { return WriteRows(2); }
bool TTargaEncoder::WriteRows24() { return WriteRows(3); }

// Rows are read in place at the host's pitch, which may carry padding, be
// negative or even overlap the row; the address is kept as an unsigned
// integer so that stepping by the pitch is defined whatever its value.
bool TTargaEncoder::WriteRows(uint32_t bytesPerPixel) {
  const size_t rowBytes = static_cast<size_t>(Image->Width) * bytesPerPixel;
  const uintptr_t pitch = static_cast<uintptr_t>(static_cast<intptr_t>(Image->BytesPerRow));
  uintptr_t row = reinterpret_cast<uintptr_t>(Image->Pixels);
  for (uint32_t r = 0; r < Image->Height; ++r, row += pitch) {
    if (Progress && Progress(static_cast<int32_t>(r + 1)) != 0)
      return true; // the host's stop: what is written stays
    if (rowBytes != 0 &&
        std::fwrite(reinterpret_cast<const void *>(row), 1, rowBytes, Stream) != rowBytes)
      return false;
  }
  return true;
}
