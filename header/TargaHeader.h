// The Targa file header: its 18 bytes as named fields, the codes found in
// them, and the checks that decide whether the plug-in reads a file, each
// failure with a status that names its reason. One description of the
// format, shared by the decoder, the encoder, tga-host, the tests and the
// benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace targa {

constexpr size_t kHeaderSize = 18;

// Image types (header byte 2). Run-length forms add kRunLengthOffset.
constexpr uint8_t kNoImageData = 0;
constexpr uint8_t kColorMapped = 1;
constexpr uint8_t kTrueColor = 2;
constexpr uint8_t kGrey = 3;
constexpr uint8_t kRunLengthOffset = 8;

// Colour-map types (header byte 1).
constexpr uint8_t kNoColorMap = 0;
constexpr uint8_t kColorMapPresent = 1;

// Image descriptor bits (header byte 17).
constexpr uint8_t kAttributeBitsMask = 0x0F;  // alpha bits: no effect
constexpr uint8_t kRightToLeftBit = 0x10;     // no effect: rows are taken left to right
constexpr uint8_t kTopLeftOriginBit = 0x20;   // the first stored row is the top row
constexpr uint8_t kInterleaveBitsMask = 0xC0; // interleaved rows: not read

// Run-length packet header.
constexpr uint8_t kRunPacketBit = 0x80;
constexpr uint8_t kPacketCountMask = 0x7F;

// A run-length packet, as its header byte tells it: a run (one stored pixel
// repeated) or raw pixels, Count() of them (1 to 128).
struct TPacket {
  uint32_t header;
  constexpr bool Run() const { return (header & kRunPacketBit) != 0; }
  constexpr int32_t Count() const { return static_cast<int32_t>(header & kPacketCountMask) + 1; }
};
constexpr TPacket PacketOf(uint32_t header) { return {header}; }

// The colour maps the plug-in reads: up to 256 entries of 24 bits from entry 0.
constexpr uint16_t kMaxColorMapLength = 256;
constexpr uint8_t kColorMapEntryBits = 24;

// The 18 bytes, field by field in file order; multi-byte fields are
// little-endian and unsigned.
struct TTargaHeader {
  uint8_t IdLength = 0;
  uint8_t ColorMapType = kNoColorMap;
  uint8_t ImageType = kNoImageData;
  uint16_t ColorMapFirst = 0;
  uint16_t ColorMapLen = 0;
  uint8_t ColorMapEntrySize = 0;
  uint16_t XOrigin = 0;
  uint16_t YOrigin = 0;
  uint16_t ImageWidth = 0;
  uint16_t ImageHeight = 0;
  uint8_t PixelDepth = 0;
  uint8_t ImageDescriptor = 0;

  static TTargaHeader Parse(const uint8_t *bytes);
  void Serialise(uint8_t *bytes) const;

  // 15-bit pixels are stored in two bytes like 16-bit ones.
  uint8_t Depth() const { return PixelDepth == 15 ? 16 : PixelDepth; }
  int32_t PixelBytes() const { return Depth() / 8; }
  bool RunLength() const { return ImageType > kRunLengthOffset; }
  uint8_t BaseType() const { return RunLength() ? static_cast<uint8_t>(ImageType - kRunLengthOffset) : ImageType; }
  bool BottomUp() const { return (ImageDescriptor & kTopLeftOriginBit) == 0; }
};

// Why a run failed, or Accepted. The order is the order of the checks.
enum class TTargaStatus : uint8_t {
  Accepted,
  CannotOpen,        // the file cannot be opened for reading
  TooShort,          // fewer than 18 bytes
  ColorMapType,      // colour-map type above 1
  PixelDepth,        // not 1 to 4 whole bytes (15 counts as 16)
  Interleaved,       // descriptor bits 6 and 7
  ImageType,         // not 1, 2, 3 or their run-length forms
  NoImageData,       // image type 0
  DepthForType,      // a depth the image type does not take
  ColorMapMissing,   // a colour-mapped image whose colour-map type is 0
  ColorMapLength,    // more than 256 entries
  ColorMapFirst,     // a map that does not start at entry 0
  ColorMapEmpty,     // colour-map type 1 with no entries
  ColorMapEntrySize, // entries of other than 24 bits (checked by full decodes only)
  TooLarge,          // a pixel block larger than memory can address or the caller allows
  OutOfMemory,       // a block could not be allocated
};

// Whether the file breaks the format. Otherwise it is a Targa file this
// plug-in does not read (legal, but not supported, or beyond the memory at
// hand), or one it could not open, which tells nothing of the file.
bool IsNotTarga(TTargaStatus status);

// A short phrase for the status ("colour-map entry size").
const char *ToString(TTargaStatus status);

// The reason with its values, for messages, the plain words first: "not a
// Targa file (its header has colour-map type 2)", "a Targa file the plug-in
// does not read: colour-map entry size 16, the plug-in reads 24", "the file
// cannot be opened". Empty for Accepted.
std::string Reason(TTargaStatus status, const TTargaHeader &header);

// How Reason begins for a file that breaks the format.
inline constexpr char kNotTarga[] = "not a Targa file";

// The checks of a header, in the decoder's order. Header-only runs stop
// before the entry size: the colour map itself is read only by full decodes.
TTargaStatus CheckImageFields(const TTargaHeader &header);
TTargaStatus CheckColorMapFields(const TTargaHeader &header);
TTargaStatus CheckColorMapEntries(const TTargaHeader &header);
TTargaStatus Check(const TTargaHeader &header, bool fullDecode);

} // namespace targa
