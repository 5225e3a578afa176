// Writing Targa files: EXPORT_WriteToFile through the loaded plug-in (so the
// stdcall callback is exercised too), and the encoder class where simpler.
// How the file reaches the disk: safe_write_test.cpp.
#include "Etarga.h"
#include "ExportSupport.h"

#include <climits>

namespace {

// ---- Header and layout ----------------------------------------------------

TEST(EncoderHeader, WorkedExamples) {
  struct Case {
    int32_t kind;
    uint32_t width, height, paletteCount;
    Bytes header;
  } cases[] = {
      {4, 300, 200, 0, {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                        0x2C, 0x01, 0xC8, 0x00, 0x18, 0x20}},
      {2, 16, 16, 0, {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x10, 0x00, 0x10, 0x00, 0x10, 0x20}},
      {1, 640, 480, 256, {0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x18, 0x00, 0x00, 0x00, 0x00,
                          0x80, 0x02, 0xE0, 0x01, 0x08, 0x20}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    HostPicture picture = MakePicture(c.kind, c.width, c.height, 0, c.paletteCount);
    TempFile out;
    ASSERT_EQ(Export(out.Path(), picture, nullptr), 1);
    Bytes file = out.Read();
    ASSERT_GE(file.size(), 18u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), c.header);
    EXPECT_EQ(file.size(), 18 + 3 * c.paletteCount + c.width * c.height * BytesPerPixel(c.kind));
    EXPECT_TRUE(file == picture.File()) << "body differs";
  }
}

// Host rows padded by 1 to 7 bytes; odd widths; palette entries whose byte 3
// is set. The file holds exactly Width x b bytes per row and 3 per entry.
TEST(EncoderLayout, PaddingAndReservedBytesNeverReachTheFile) {
  for (int32_t kind : {1, 2, 4})
    for (uint32_t width : {1u, 3u, 5u, 8u})
      for (uint32_t padding : {0u, 1u, 3u, 7u}) {
        SCOPED_TRACE(testing::Message() << "kind " << kind << " width " << width << " padding "
                                        << padding);
        HostPicture picture = MakePicture(kind, width, 3, padding, kind == 1 ? 7 : 0);
        TempFile out;
        ASSERT_EQ(Export(out.Path(), picture), 1);
        Bytes file = out.Read();
        EXPECT_EQ(file.size(), 18 + (kind == 1 ? 21 : 0) + 3 * width * BytesPerPixel(kind));
        EXPECT_EQ(file, picture.File());
      }
}

TEST(EncoderLayout, ColorMapDropsTheReservedByte) {
  HostPicture picture = MakePicture(1, 2, 1);
  picture.palette = {1, 2, 3, 0xFF, 4, 5, 6, 0x80};
  picture.pixels = {1, 0};
  TempFile out;
  ASSERT_EQ(Export(out.Path(), picture), 1);
  Bytes file = out.Read();
  ASSERT_EQ(file.size(), 18u + 6 + 2);
  EXPECT_EQ(Bytes(file.begin() + 18, file.end()), (Bytes{1, 2, 3, 4, 5, 6, 1, 0}));
}

TEST(EncoderLayout, TrueColourIgnoresAPalette) {
  for (int32_t kind : {2, 4}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    HostPicture picture = MakePicture(kind, 3, 2, 0, 5);
    TempFile out;
    ASSERT_EQ(Export(out.Path(), picture), 1);
    Bytes file = out.Read();
    ASSERT_EQ(file.size(), 18 + 6 * BytesPerPixel(kind));
    EXPECT_EQ(file[1], 0);
    EXPECT_EQ(file[5], 0);
    EXPECT_EQ(file[6], 0);
    EXPECT_EQ(file[7], 0);
    EXPECT_EQ(Bytes(file.begin() + 18, file.end()), Concat({picture.Row(0), picture.Row(1)}));
  }
}

TEST(EncoderLayout, IndexedWithoutPaletteHasAnEmptyColorMap) {
  HostPicture picture = MakePicture(1, 4, 2);
  TempFile out;
  ASSERT_EQ(Export(out.Path(), picture), 1);
  Bytes file = out.Read();
  ASSERT_EQ(file.size(), 18u + 8);
  EXPECT_EQ(file[1], 1);
  EXPECT_EQ(file[2], 1);
  EXPECT_EQ(file[5], 0);
  EXPECT_EQ(file[6], 0);
  EXPECT_EQ(file[7], 24);
  EXPECT_EQ(file[16], 8);
  EXPECT_EQ(Bytes(file.begin() + 18, file.end()), Concat({picture.Row(0), picture.Row(1)}));
}

// The largest sizes the 16-bit fields hold are written as they are.
TEST(EncoderLayout, LargestDimensions) {
  HostPicture wide = MakePicture(1, 65535, 1, 0, 2);
  TempFile out;
  ASSERT_EQ(Export(out.Path(), wide, nullptr), 1);
  Bytes file = out.Read();
  ASSERT_EQ(file.size(), 18u + 6 + 65535);
  EXPECT_EQ(file[12], 0xFF);
  EXPECT_EQ(file[13], 0xFF);
  EXPECT_TRUE(file == wide.File());

  HostPicture tall = MakePicture(2, 1, 65535);
  ResetProgress();
  ASSERT_EQ(Export(out.Path(), tall, RecordProgress), 1);
  file = out.Read();
  ASSERT_EQ(file.size(), 18u + 2 * 65535);
  EXPECT_EQ(file[14], 0xFF);
  EXPECT_EQ(file[15], 0xFF);
  EXPECT_EQ(g_progress.rows.size(), 65535u);
  EXPECT_EQ(g_progress.rows.back(), 65535);
}

// ---- Progress and stop ----------------------------------------------------

TEST(EncoderProgress, CalledOnceBeforeEachRow) {
  for (int32_t kind : {1, 2, 4}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    HostPicture picture = MakePicture(kind, 5, 6, 2, kind == 1 ? 3 : 0);
    TempFile out;
    ResetProgress();
    ASSERT_EQ(Export(out.Path(), picture), 1);
    EXPECT_EQ(g_progress.rows, OneTo(6));
    EXPECT_EQ(out.Read(), picture.File());

    ResetProgress();
    ASSERT_EQ(Export(out.Path(), picture, nullptr), 1);
    EXPECT_TRUE(g_progress.rows.empty());
    EXPECT_EQ(out.Read(), picture.File());
  }
}

TEST(EncoderProgress, EmptyPictures) {
  for (int32_t kind : {1, 2, 4}) {
    SCOPED_TRACE("kind " + std::to_string(kind));
    const uint32_t entries = kind == 1 ? 4 : 0;
    // Height 0: no rows, no calls.
    HostPicture flat = MakePicture(kind, 7, 0, 0, entries);
    TempFile out;
    ResetProgress();
    ASSERT_EQ(Export(out.Path(), flat), 1);
    EXPECT_TRUE(g_progress.rows.empty());
    EXPECT_EQ(out.Read().size(), 18 + 3 * entries);
    EXPECT_EQ(out.Read(), flat.File());
    // Width 0: no pixel bytes, but a call for every row.
    HostPicture thin = MakePicture(kind, 0, 5, 0, entries);
    ResetProgress();
    ASSERT_EQ(Export(out.Path(), thin), 1);
    EXPECT_EQ(g_progress.rows, OneTo(5));
    EXPECT_EQ(out.Read().size(), 18 + 3 * entries);
    EXPECT_EQ(out.Read(), thin.File());
  }
}

// A stop before row k leaves the header, the colour map and rows 1 to k-1,
// and still counts as a written file.
TEST(EncoderProgress, StopKeepsTheCompleteRowsBeforeIt) {
  struct Case {
    int32_t stopAt, answer;
  } cases[] = {{1, 1}, {2, -1}, {4, 2}, {6, INT32_MIN}};
  for (int32_t kind : {1, 2, 4})
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " stop at " << c.stopAt);
      HostPicture picture = MakePicture(kind, 3, 6, 1, kind == 1 ? 5 : 0);
      TempFile out;
      ResetProgress(c.stopAt, c.answer);
      ASSERT_EQ(Export(out.Path(), picture), 1);
      EXPECT_EQ(g_progress.rows, OneTo(c.stopAt));
      Bytes file = out.Read();
      EXPECT_EQ(file.size(), 18 + (kind == 1 ? 15u : 0u) +
                                 static_cast<uint32_t>(c.stopAt - 1) * picture.RowBytes());
      EXPECT_EQ(file, picture.File(static_cast<uint32_t>(c.stopAt - 1)));
    }
}

// Records a Targa header cannot describe are refused before the file is
// opened: an existing file keeps its content and no new file appears.
TEST(EncoderFiles, UnwritableRecordsLeaveFilesAlone) {
  struct Case {
    const char *name;
    int32_t kind;
    uint32_t width, height, paletteCount;
  } cases[] = {
      {"kind 0", 0, 2, 2, 0},          {"kind 3", 3, 2, 2, 0},
      {"kind 5", 5, 2, 2, 0},          {"kind -1", -1, 2, 2, 0},
      {"kind 8", 8, 2, 2, 0},          {"kind 24", 24, 2, 2, 0},
      {"width 65536", 4, 65536, 1, 0}, {"height 65536", 2, 1, 65536, 0},
      {"width max", 1, 0xFFFFFFFFu, 0, 0}, {"palette 65536", 1, 1, 1, 65536},
  };
  Bytes pixels(8, 0);
  Bytes palette(4 * 65536, 0);
  const Bytes old = {'o', 'l', 'd'};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    HostImage record{};
    record.Kind = c.kind;
    record.Pixels = pixels.data();
    record.BytesPerRow = 0; // every row reads the same few bytes
    record.Width = c.width;
    record.Height = c.height;
    record.Palette = palette.data();
    record.PaletteCount = c.paletteCount;
    ResetProgress();
    TempFile existing(old);
    EXPECT_EQ(Api().EXPORT_WriteToFile(existing.c_str(), &record, RecordProgress), 0);
    EXPECT_EQ(existing.Read(), old);
    TempFile fresh;
    EXPECT_EQ(Api().EXPORT_WriteToFile(fresh.c_str(), &record, RecordProgress), 0);
    EXPECT_FALSE(fresh.Exists());
    EXPECT_TRUE(g_progress.rows.empty());
  }
}

// A large palette count is of no concern where no colour map is written.
TEST(EncoderFiles, TrueColourAcceptsAnyPaletteCount) {
  for (int32_t kind : {2, 4}) {
    HostPicture picture = MakePicture(kind, 2, 2);
    HostImage record = picture.Record();
    record.Palette = nullptr;
    record.PaletteCount = 0xFFFFFFFFu;
    TempFile out;
    EXPECT_EQ(Api().EXPORT_WriteToFile(out.c_str(), &record, nullptr), 1);
    EXPECT_EQ(out.Read(), picture.File());
  }
}

// ---- The encoder class: pitches a host may hand over -------------------------

Bytes SaveDirect(const HostImage &record) {
  TempFile out;
  TTargaEncoder encoder;
  encoder.Progress = RecordProgress;
  ResetProgress();
  EXPECT_TRUE(encoder.SaveToFile(out.Path(), &record));
  EXPECT_EQ(g_progress.rows, OneTo(static_cast<int32_t>(record.Height)));
  Bytes file = out.Read();
  return file.size() < 18 ? Bytes() : Bytes(file.begin() + 18, file.end());
}

TEST(EncoderClass, NegativePitchReadsUpward) {
  // A bottom-up host buffer: the top row is last in memory.
  Bytes buffer = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE, 7, 8, 9, 0xEE};
  HostImage record{};
  record.Kind = 4;
  record.Width = 1;
  record.Height = 3;
  record.Pixels = buffer.data() + 8;
  record.BytesPerRow = -4;
  EXPECT_EQ(SaveDirect(record), (Bytes{7, 8, 9, 4, 5, 6, 1, 2, 3}));
}

TEST(EncoderClass, PitchBelowTheRowWidth) {
  Bytes buffer = {10, 11, 12, 13, 14, 15, 16, 17};
  HostImage record{};
  record.Kind = 2;
  record.Width = 2;
  record.Height = 3;
  record.Pixels = buffer.data();
  record.BytesPerRow = 0; // one row, repeated
  EXPECT_EQ(SaveDirect(record), (Bytes{10, 11, 12, 13, 10, 11, 12, 13, 10, 11, 12, 13}));
  record.BytesPerRow = 1; // overlapping rows
  EXPECT_EQ(SaveDirect(record), (Bytes{10, 11, 12, 13, 11, 12, 13, 14, 12, 13, 14, 15}));
}

TEST(EncoderClass, RecordCheck) {
  HostImage record{};
  record.Kind = 1;
  EXPECT_TRUE(TTargaEncoder::CanWrite(record));
  record.PaletteCount = 65535;
  record.Width = 65535;
  record.Height = 65535;
  EXPECT_TRUE(TTargaEncoder::CanWrite(record));
  record.PaletteCount = 65536;
  EXPECT_FALSE(TTargaEncoder::CanWrite(record));
  record.Kind = 4;
  EXPECT_TRUE(TTargaEncoder::CanWrite(record));
  record.Kind = 2;
  EXPECT_TRUE(TTargaEncoder::CanWrite(record));
  record.Kind = 3;
  EXPECT_FALSE(TTargaEncoder::CanWrite(record));
}

} // namespace
