#include "TargaHeader.h"

namespace targa {

namespace {

// Byte offsets of the fields in the 18 bytes.
enum : size_t {
  IdLengthOffset = 0,
  ColorMapTypeOffset = 1,
  ImageTypeOffset = 2,
  ColorMapFirstOffset = 3,
  ColorMapLenOffset = 5,
  ColorMapEntrySizeOffset = 7,
  XOriginOffset = 8,
  YOriginOffset = 10,
  ImageWidthOffset = 12,
  ImageHeightOffset = 14,
  PixelDepthOffset = 16,
  ImageDescriptorOffset = 17,
};

uint16_t GetLE16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void PutLE16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

TTargaHeader TTargaHeader::Parse(const uint8_t *b) {
  TTargaHeader h;
  h.IdLength = b[IdLengthOffset];
  h.ColorMapType = b[ColorMapTypeOffset];
  h.ImageType = b[ImageTypeOffset];
  h.ColorMapFirst = GetLE16(b + ColorMapFirstOffset);
  h.ColorMapLen = GetLE16(b + ColorMapLenOffset);
  h.ColorMapEntrySize = b[ColorMapEntrySizeOffset];
  h.XOrigin = GetLE16(b + XOriginOffset);
  h.YOrigin = GetLE16(b + YOriginOffset);
  h.ImageWidth = GetLE16(b + ImageWidthOffset);
  h.ImageHeight = GetLE16(b + ImageHeightOffset);
  h.PixelDepth = b[PixelDepthOffset];
  h.ImageDescriptor = b[ImageDescriptorOffset];
  return h;
}

void TTargaHeader::Serialise(uint8_t *b) const {
  b[IdLengthOffset] = IdLength;
  b[ColorMapTypeOffset] = ColorMapType;
  b[ImageTypeOffset] = ImageType;
  PutLE16(b + ColorMapFirstOffset, ColorMapFirst);
  PutLE16(b + ColorMapLenOffset, ColorMapLen);
  b[ColorMapEntrySizeOffset] = ColorMapEntrySize;
  PutLE16(b + XOriginOffset, XOrigin);
  PutLE16(b + YOriginOffset, YOrigin);
  PutLE16(b + ImageWidthOffset, ImageWidth);
  PutLE16(b + ImageHeightOffset, ImageHeight);
  b[PixelDepthOffset] = PixelDepth;
  b[ImageDescriptorOffset] = ImageDescriptor;
}

TTargaStatus CheckImageFields(const TTargaHeader &h) {
  const int32_t bytes = h.PixelBytes();
  if (h.ColorMapType > kColorMapPresent)
    return TTargaStatus::ColorMapType;
  if (bytes < 1 || bytes > 4 || h.Depth() % 8 != 0)
    return TTargaStatus::PixelDepth;
  if ((h.ImageDescriptor & kInterleaveBitsMask) != 0)
    return TTargaStatus::Interleaved;
  switch (h.BaseType()) {
  case kColorMapped:
    if (bytes != 1)
      return TTargaStatus::DepthForType;
    if (h.ColorMapType != kColorMapPresent)
      return TTargaStatus::ColorMapMissing;
    return TTargaStatus::Accepted;
  case kTrueColor:
    return bytes == 1 ? TTargaStatus::DepthForType : TTargaStatus::Accepted;
  case kGrey:
    return bytes != 1 ? TTargaStatus::DepthForType : TTargaStatus::Accepted;
  case kNoImageData:
    return TTargaStatus::NoImageData;
  default:
    return TTargaStatus::ImageType;
  }
}

// A true-colour or grey file may carry a colour map too: the same rules hold.
TTargaStatus CheckColorMapFields(const TTargaHeader &h) {
  if (h.ColorMapLen == 0)
    return h.ColorMapType != kNoColorMap ? TTargaStatus::ColorMapEmpty : TTargaStatus::Accepted;
  if (h.ColorMapLen > kMaxColorMapLength)
    return TTargaStatus::ColorMapLength;
  if (h.ColorMapFirst != 0)
    return TTargaStatus::ColorMapFirst;
  return TTargaStatus::Accepted;
}

TTargaStatus CheckColorMapEntries(const TTargaHeader &h) {
  return h.ColorMapLen != 0 && h.ColorMapEntrySize != kColorMapEntryBits ? TTargaStatus::ColorMapEntrySize
                                                                         : TTargaStatus::Accepted;
}

TTargaStatus Check(const TTargaHeader &h, bool fullDecode) {
  TTargaStatus s = CheckImageFields(h);
  if (s == TTargaStatus::Accepted)
    s = CheckColorMapFields(h);
  if (s == TTargaStatus::Accepted && fullDecode)
    s = CheckColorMapEntries(h);
  return s;
}

bool IsNotTarga(TTargaStatus s) {
  switch (s) {
  case TTargaStatus::TooShort:
  case TTargaStatus::ColorMapType:
  case TTargaStatus::PixelDepth:
  case TTargaStatus::ImageType:
  case TTargaStatus::ColorMapMissing:
  case TTargaStatus::ColorMapEmpty:
    return true;
  default:
    return false;
  }
}

const char *ToString(TTargaStatus s) {
  switch (s) {
  case TTargaStatus::Accepted:
    return "accepted";
  case TTargaStatus::CannotOpen:
    return "cannot be opened";
  case TTargaStatus::TooShort:
    return "shorter than the 18-byte header";
  case TTargaStatus::ColorMapType:
    return "colour-map type";
  case TTargaStatus::PixelDepth:
    return "pixel depth";
  case TTargaStatus::Interleaved:
    return "interleaved rows";
  case TTargaStatus::ImageType:
    return "image type";
  case TTargaStatus::NoImageData:
    return "no image data";
  case TTargaStatus::DepthForType:
    return "pixel depth for the image type";
  case TTargaStatus::ColorMapMissing:
    return "colour-mapped image without a colour map";
  case TTargaStatus::ColorMapLength:
    return "colour-map length";
  case TTargaStatus::ColorMapFirst:
    return "colour-map first entry";
  case TTargaStatus::ColorMapEmpty:
    return "colour map without entries";
  case TTargaStatus::ColorMapEntrySize:
    return "colour-map entry size";
  case TTargaStatus::TooLarge:
    return "picture too large";
  case TTargaStatus::OutOfMemory:
    return "not enough memory";
  }
  return "unknown status";
}

std::string Reason(TTargaStatus s, const TTargaHeader &h) {
  if (s == TTargaStatus::Accepted)
    return {};
  std::string what = ToString(s);
  auto n = [](unsigned v) { return std::to_string(v); };
  switch (s) {
  case TTargaStatus::ColorMapType:
    what += " " + n(h.ColorMapType);
    break;
  case TTargaStatus::PixelDepth:
    what += " " + n(h.PixelDepth);
    break;
  case TTargaStatus::Interleaved:
    what += " (descriptor " + n(h.ImageDescriptor) + ")";
    break;
  case TTargaStatus::ImageType:
    what += " " + n(h.ImageType);
    break;
  case TTargaStatus::DepthForType:
    what = "pixel depth " + n(h.PixelDepth) + " for image type " + n(h.ImageType);
    break;
  case TTargaStatus::ColorMapLength:
    what += " " + n(h.ColorMapLen) + ", the plug-in reads up to " + n(kMaxColorMapLength);
    break;
  case TTargaStatus::ColorMapFirst:
    what += " " + n(h.ColorMapFirst) + ", the plug-in reads maps from entry 0";
    break;
  case TTargaStatus::ColorMapEntrySize:
    what += " " + n(h.ColorMapEntrySize) + ", the plug-in reads " + n(kColorMapEntryBits);
    break;
  case TTargaStatus::TooLarge:
  case TTargaStatus::OutOfMemory:
    what += " for " + n(h.ImageWidth) + " x " + n(h.ImageHeight) + " pixels";
    break;
  default:
    break;
  }
  // Neither says anything of what the file holds.
  if (s == TTargaStatus::CannotOpen)
    return "the file " + what;
  if (s == TTargaStatus::OutOfMemory)
    return what;
  if (!IsNotTarga(s))
    return "a Targa file the plug-in does not read: " + what;
  const bool described = s == TTargaStatus::ColorMapMissing || s == TTargaStatus::ColorMapEmpty;
  return std::string(kNotTarga) + " (" +
         (s == TTargaStatus::TooShort ? "it is " : described ? "its header describes a " : "its header has ") +
         what + ")";
}

} // namespace targa
