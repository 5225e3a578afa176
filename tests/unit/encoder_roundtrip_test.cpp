// Round trips: what EXPORT_WriteToFile writes, IMPORT_CreateImage reads back
// to the same picture.
#include "ExportSupport.h"

#include <cstdlib>
#include <cstring>

namespace {

// The decoder's widening of a 5-bit channel: i * 255 / 31, rounded.
uint8_t Widen5(unsigned v) { return static_cast<uint8_t>((v * 255 + 15) / 31); }

// The record as the decoder should deliver it.
struct Expected {
  int32_t kind;
  Bytes pixels;  // packed rows
  Bytes palette; // 4-byte entries, byte 3 zero
};

Expected ExpectedImport(const HostPicture &p) {
  Expected e;
  e.kind = p.kind == 1 ? 1 : 4;
  for (uint32_t r = 0; r < p.height; ++r) {
    Bytes row = p.Row(r);
    if (p.kind != 2) {
      e.pixels.insert(e.pixels.end(), row.begin(), row.end());
      continue;
    }
    for (size_t c = 0; c + 1 < row.size(); c += 2) {
      const unsigned v = row[c] | (row[c + 1] << 8);
      e.pixels.push_back(Widen5(v & 31));
      e.pixels.push_back(Widen5((v >> 5) & 31));
      e.pixels.push_back(Widen5((v >> 10) & 31));
    }
  }
  if (p.kind == 1)
    for (size_t i = 0; i + 4 <= p.palette.size(); i += 4)
      e.palette.insert(e.palette.end(), {p.palette[i], p.palette[i + 1], p.palette[i + 2], 0});
  return e;
}

// Exports `picture`, imports the file and compares.
void RoundTrip(HostPicture &picture) {
  TempFile file;
  ASSERT_EQ(Export(file.Path(), picture, nullptr), 1);
  HostImage *image = nullptr;
  Api().IMPORT_CreateImage(file.c_str(), &image);
  ASSERT_NE(image, nullptr) << "the written file does not import";
  const Expected e = ExpectedImport(picture);
  const uint32_t b = e.kind == 1 ? 1 : 3;
  EXPECT_EQ(image->Kind, e.kind);
  EXPECT_EQ(image->Width, picture.width);
  EXPECT_EQ(image->Height, picture.height);
  EXPECT_EQ(image->BytesPerRow, static_cast<int32_t>(picture.width * b));
  const size_t size = static_cast<size_t>(picture.width) * b * picture.height;
  if (image->Kind == e.kind && image->Width == picture.width && image->Height == picture.height &&
      size != 0) {
    if (image->Pixels)
      EXPECT_EQ(Bytes(image->Pixels, image->Pixels + size), e.pixels);
    else
      ADD_FAILURE() << "no pixel block";
  }
  EXPECT_EQ(image->PaletteCount, e.palette.size() / 4);
  if (e.palette.empty())
    EXPECT_EQ(image->Palette, nullptr);
  else if (image->Palette && image->PaletteCount == e.palette.size() / 4)
    EXPECT_EQ(Bytes(image->Palette, image->Palette + e.palette.size()), e.palette);
  else
    ADD_FAILURE() << "no palette of the expected size";
  Api().IMPORT_FreeImage(image);
  std::free(image); // the record is the host's to release
}

TEST(EncoderRoundTrip, SmallFullColour) {
  HostPicture one = MakePicture(4, 1, 1);
  one.pixels = {0x10, 0x20, 0x30};
  RoundTrip(one);
  HostPicture padded = MakePicture(4, 3, 2, 3);
  RoundTrip(padded);
}

TEST(EncoderRoundTrip, SmallIndexed) {
  HostPicture p = MakePicture(1, 3, 2, 1, 16);
  for (uint32_t r = 0; r < 2; ++r)
    for (uint32_t c = 0; c < 3; ++c)
      p.pixels[r * p.pitch + c] = static_cast<uint8_t>(r * 3 + c);
  RoundTrip(p);
  // Indices travel as stored, even past the palette's end.
  HostPicture past = MakePicture(1, 2, 1, 0, 4);
  past.pixels = {200, 3};
  RoundTrip(past);
  HostPicture full = MakePicture(1, 16, 16, 0, 256);
  for (size_t i = 0; i < 256; ++i)
    full.pixels[i] = static_cast<uint8_t>(i);
  RoundTrip(full);
}

// Each channel widened by the table; bit 15 carries nothing.
TEST(EncoderRoundTrip, HighColourWidensEachChannel) {
  HostPicture p = MakePicture(2, 7, 1);
  p.pixels = {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0xFF, 0x7F, 0x00, 0x80, 0x21, 0x04, 0x10, 0x42};
  RoundTrip(p);
  const Expected e = ExpectedImport(p);
  EXPECT_EQ(e.pixels, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 8, 8, 8,
                             132, 132, 132}));
}

TEST(EncoderRoundTrip, RandomOddWidths) {
  const int32_t kinds[] = {1, 2, 4};
  std::mt19937 rng(20240607);
  for (int i = 0; i < 60; ++i) {
    const int32_t kind = kinds[i % 3];
    const uint32_t width = 1 + 2 * (rng() % 40);
    const uint32_t height = 1 + rng() % 12;
    const uint32_t padding = rng() % 5;
    const uint32_t entries = kind == 1 ? 1 + rng() % 256 : 0;
    SCOPED_TRACE(testing::Message() << "kind " << kind << " " << width << "x" << height
                                    << " padding " << padding << " entries " << entries);
    HostPicture p = MakePicture(kind, width, height, padding, entries, &rng);
    RoundTrip(p);
    if (HasFailure())
      break;
  }
}

} // namespace
