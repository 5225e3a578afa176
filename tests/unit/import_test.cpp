// Reading Targa files through the plug-in's import entry points, as a host
// does: delivered pixels, palettes, record fields, rejection and truncation.
#include "TestSupport.h"

#include <cstring>
#include <functional>

#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// What a host sees of one imported record, copied out before it is freed.
struct Imported {
  bool ok = false;
  int32_t kind = 0;
  int32_t bytesPerRow = 0;
  uint32_t width = 0, height = 0;
  Bytes pixels;
  Bytes palette; // 4 bytes per entry
  uint32_t paletteCount = 0;
  bool paletteNull = true;
};

Imported Collect(HostImage *image) {
  Imported r;
  if (!image)
    return r;
  r.ok = true;
  r.kind = image->Kind;
  r.bytesPerRow = image->BytesPerRow;
  r.width = image->Width;
  r.height = image->Height;
  r.pixels.assign(image->Pixels, image->Pixels + static_cast<size_t>(image->BytesPerRow) * image->Height);
  r.paletteCount = image->PaletteCount;
  r.paletteNull = image->Palette == nullptr;
  if (image->Palette)
    r.palette.assign(image->Palette, image->Palette + 4 * image->PaletteCount);
  Api().IMPORT_FreeImage(image);
  std::free(image); // the record is the host's to release
  return r;
}

Imported Import(const Bytes &file) {
  TempFile f(file);
  HostImage *image = reinterpret_cast<HostImage *>(&f); // overwritten: null or a record
  Api().IMPORT_CreateImage(f.c_str(), &image);
  return Collect(image);
}

Imported ImportPreview(const Bytes &file, int32_t boxW, int32_t boxH) {
  TempFile f(file);
  HostImage *image = reinterpret_cast<HostImage *>(&f);
  Api().IMPORT_CreatePreviewImage(f.c_str(), boxW, boxH, &image);
  return Collect(image);
}

bool Valid(const Bytes &file) {
  TempFile f(file);
  return Api().IMPORT_ValidFileCheck(f.c_str()) == 1;
}

std::vector<std::string> g_info;
int32_t TLP_CALL KeepInfo(const char *text) {
  g_info.push_back(text);
  return 0;
}

std::string Information(const char *path) {
  g_info.clear();
  Api().IMPORT_ImageInformation(path, KeepInfo);
  EXPECT_EQ(g_info.size(), 1u) << "the callback is called exactly once";
  return g_info.empty() ? std::string() : g_info[0];
}

// "イメージファイルでは、ないようです。"
const std::string kNotAnImage = "\x83"
                                "C\x83\x81\x81[\x83W\x83t\x83@\x83"
                                "C\x83\x8b\x82\xc5\x82\xcd\x81"
                                "A\x82\xc8\x82\xa2\x82\xe6\x82\xa4\x82\xc5\x82\xb7\x81"
                                "B";

TgaHeader Header(uint8_t type, uint8_t depth, uint16_t w, uint16_t h, uint8_t descriptor = 0x20) {
  TgaHeader t;
  t.ImageType = type;
  t.PixelDepth = depth;
  t.ImageWidth = w;
  t.ImageHeight = h;
  t.ImageDescriptor = descriptor;
  return t;
}

TgaHeader Mapped(uint8_t type, uint16_t w, uint16_t h, uint16_t entries, uint8_t entryBits = 24) {
  TgaHeader t = Header(type, 8, w, h);
  t.ColorMapType = 1;
  t.ColorMapLen = entries;
  t.ColorMapEntrySize = entryBits;
  return t;
}

// ---------------------------------------------------------------- kinds

struct KindCase {
  const char *name;
  Bytes file;
  int32_t kind;
  uint32_t width, height;
  Bytes pixels;
};

class Kinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(Kinds, DeliverTheExpectedBlock) {
  const KindCase &c = GetParam();
  Imported r = Import(c.file);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.kind, c.kind);
  EXPECT_EQ(r.width, c.width);
  EXPECT_EQ(r.height, c.height);
  EXPECT_EQ(r.bytesPerRow, static_cast<int32_t>(c.width * (c.kind == 1 ? 1 : 3)));
  EXPECT_EQ(r.pixels, c.pixels);

  // The test build with each of its allocations refused in turn: every
  // entry point answers its refusal (null, 0, the "not an image" text) or,
  // where there is a way round, the same block; nothing leaks, nothing
  // crashes. The record that comes is written back to a new file the same way.
  const SeamPlugin &seams = Seams();
  TempFile f(c.file), out("written.tga");
  enum Call { kImage, kPreview, kCheck, kText, kWrite };
  HostImage *record = nullptr;
  for (Call call : {kImage, kPreview, kCheck, kText, kWrite})
    for (long n = 1;; ++n) {
      SCOPED_TRACE(testing::Message() << "call " << call << ", allocation " << n << " refused");
      HostImage *image = nullptr;
      bool answered = false;
      seams.RefuseAllocation(n);
      if (call == kImage || call == kPreview) {
        if (call == kImage)
          seams.Api().IMPORT_CreateImage(f.c_str(), &image);
        else
          seams.Api().IMPORT_CreatePreviewImage(f.c_str(), 256, 256, &image);
        answered = image != nullptr;
      } else if (call == kCheck) {
        answered = seams.Api().IMPORT_ValidFileCheck(f.c_str()) == 1;
      } else if (call == kText) {
        g_info.clear();
        seams.Api().IMPORT_ImageInformation(f.c_str(), KeepInfo);
        answered = g_info.size() == 1 && g_info[0] != kNotAnImage;
      } else {
        answered = seams.Api().EXPORT_WriteToFile(out.c_str(), record, nullptr) == 1;
      }
      const bool refused = seams.AllocationRefused() == 1;
      seams.RefuseAllocation(0);
      // Where a block has a slower way round it, the answer still comes.
      EXPECT_TRUE(answered || refused);
      if (call == kWrite) {
        EXPECT_EQ(out.Exists(), answered);
      }
      if (image && (refused || call == kPreview)) {
        EXPECT_EQ(Collect(image).pixels, c.pixels);
      }
      if (refused)
        continue;
      if (call == kImage)
        record = image;
      break;
    }
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Collect(record).pixels, c.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Import, Kinds,
    ::testing::Values(
        KindCase{"true24", Concat({Header(2, 24, 3, 2).Encode(), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}}),
                 4, 3, 2, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}},
        KindCase{"true32_drops_fourth_byte", Concat({Header(2, 32, 2, 1).Encode(), Bytes{10, 20, 30, 40, 50, 60, 70, 80}}),
                 4, 2, 1, Bytes{10, 20, 30, 50, 60, 70}},
        KindCase{"true16_channels_and_bit15",
                 Concat({Header(2, 16, 5, 1).Encode(), Bytes{0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0xFF, 0x7F, 0x00, 0x80}}),
                 4, 5, 1, Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0}},
        KindCase{"true15_reads_as_16", Concat({Header(2, 15, 2, 1).Encode(), Bytes{0x21, 0x04, 0x10, 0x42}}),
                 4, 2, 1, Bytes{8, 8, 8, 132, 132, 132}},
        KindCase{"grey", Concat({Header(3, 8, 2, 1).Encode(), Bytes{128, 7}}), 4, 2, 1, Bytes{128, 128, 128, 7, 7, 7}},
        KindCase{"indexed", Concat({Mapped(1, 3, 1, 2).Encode(), Bytes{1, 2, 3, 4, 5, 6}, Bytes{0, 1, 200}}), 1, 3, 1,
                 Bytes{0, 1, 200}},
        KindCase{"rle_true24", Concat({Header(10, 24, 3, 1).Encode(), Bytes{0x82, 10, 20, 30}}), 4, 3, 1,
                 Bytes{10, 20, 30, 10, 20, 30, 10, 20, 30}},
        KindCase{"rle_true32", Concat({Header(10, 32, 2, 1).Encode(), Bytes{0x01, 1, 2, 3, 4, 5, 6, 7, 8}}), 4, 2, 1,
                 Bytes{1, 2, 3, 5, 6, 7}},
        KindCase{"rle_true16", Concat({Header(10, 16, 2, 1).Encode(), Bytes{0x81, 0x1F, 0x00}}), 4, 2, 1,
                 Bytes{255, 0, 0, 255, 0, 0}},
        KindCase{"rle_grey", Concat({Header(11, 8, 3, 1).Encode(), Bytes{0x00, 9, 0x81, 5}}), 4, 3, 1,
                 Bytes{9, 9, 9, 5, 5, 5, 5, 5, 5}},
        KindCase{"rle_indexed", Concat({Mapped(9, 4, 1, 1).Encode(), Bytes{9, 9, 9}, Bytes{0x83, 7}}), 1, 4, 1,
                 Bytes{7, 7, 7, 7}},
        KindCase{"right_to_left_bit_ignored", Concat({Header(3, 8, 2, 1, 0x30).Encode(), Bytes{1, 2}}), 4, 2, 1,
                 Bytes{1, 1, 1, 2, 2, 2}},
        KindCase{"id_field_skipped",
                 [] {
                   TgaHeader h = Header(3, 8, 1, 1);
                   h.IdLength = 3;
                   return Concat({h.Encode(), Bytes{'a', 'b', 'c'}, Bytes{42}});
                 }(),
                 4, 1, 1, Bytes{42, 42, 42}},
        KindCase{"empty_width", Header(2, 24, 0, 5).Encode(), 4, 0, 5, Bytes{}},
        KindCase{"empty_height", Header(2, 24, 5, 0).Encode(), 4, 5, 0, Bytes{}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(Import, RecordFieldsAndPaletteOfAnIndexedFile) {
  Imported r = Import(Concat({Mapped(1, 2, 1, 3).Encode(), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}, Bytes{2, 0}}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.kind, 1);
  EXPECT_EQ(r.bytesPerRow, 2);
  EXPECT_EQ(r.paletteCount, 3u);
  EXPECT_EQ(r.palette, (Bytes{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}));
}

TEST(Import, TrueColourFileWithoutColourMapHasNoPalette) {
  Imported r = Import(Concat({Header(2, 24, 1, 1).Encode(), Bytes{1, 2, 3}}));
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.paletteNull);
  EXPECT_EQ(r.paletteCount, 0u);
}

TEST(Import, TrueColourFileCarriesItsColourMap) {
  TgaHeader h = Header(2, 24, 1, 1);
  h.ColorMapType = 1;
  h.ColorMapLen = 16;
  h.ColorMapEntrySize = 24;
  Bytes map(48);
  for (size_t i = 0; i < map.size(); ++i)
    map[i] = static_cast<uint8_t>(i);
  Imported r = Import(Concat({h.Encode(), map, Bytes{7, 8, 9}}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.kind, 4);
  EXPECT_EQ(r.paletteCount, 16u);
  ASSERT_EQ(r.palette.size(), 64u);
  EXPECT_EQ((Bytes(r.palette.begin() + 60, r.palette.end())), (Bytes{45, 46, 47, 0}));
  EXPECT_EQ(r.pixels, (Bytes{7, 8, 9}));
}

TEST(Import, ColourMapWithoutMapTypeIsReadToo) {
  TgaHeader h = Header(2, 24, 1, 1);
  h.ColorMapLen = 4;
  h.ColorMapEntrySize = 24;
  Bytes map(12, 0x11);
  Imported r = Import(Concat({h.Encode(), map, Bytes{7, 8, 9}}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.paletteCount, 4u);
  EXPECT_EQ(r.pixels, (Bytes{7, 8, 9})) << "exactly 12 colour-map bytes are read";
}

TEST(Import, LargestColourMapIsAccepted) {
  Imported r = Import(Concat({Mapped(1, 1, 1, 256).Encode(), Bytes(768, 3), Bytes{255}}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.paletteCount, 256u);
  EXPECT_EQ(r.pixels, (Bytes{255})) << "an index is delivered as stored";
}

TEST(Import, IndexBeyondThePaletteIsDeliveredAsStored) {
  Imported r = Import(Concat({Mapped(1, 1, 1, 16).Encode(), Bytes(48, 1), Bytes{200}}));
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.pixels, (Bytes{200}));
}

TEST(Import, ColourMapOfOtherEntrySizePassesTheCheckButNotTheDecode) {
  for (uint8_t bits : {15, 16, 32}) {
    Bytes file = Concat({Mapped(1, 1, 1, 2, bits).Encode(), Bytes(8, 0), Bytes{0}});
    EXPECT_TRUE(Valid(file)) << int(bits);
    EXPECT_FALSE(Import(file).ok) << int(bits);
    EXPECT_FALSE(ImportPreview(file, 10, 10).ok) << int(bits);
  }
}

// ---------------------------------------------------------------- orientation

TEST(Import, BothRowOrdersGiveTheSameBlock) {
  const Bytes rowA{1, 2, 3, 4, 5, 6}, rowB{7, 8, 9, 10, 11, 12};
  Imported bottomUp = Import(Concat({Header(2, 24, 2, 2, 0x00).Encode(), rowA, rowB}));
  Imported topDown = Import(Concat({Header(2, 24, 2, 2, 0x20).Encode(), rowB, rowA}));
  ASSERT_TRUE(bottomUp.ok);
  ASSERT_TRUE(topDown.ok);
  EXPECT_EQ(bottomUp.pixels, Concat({rowB, rowA}));
  EXPECT_EQ(topDown.pixels, bottomUp.pixels);
}

TEST(Import, BottomUpRunLengthAndIndexedFilesAreFlippedToo) {
  // Rows of 2: stored bottom row [5,5], top row [6,7].
  TgaHeader mapped = Mapped(9, 2, 2, 1);
  mapped.ImageDescriptor = 0x00;
  Imported rle = Import(Concat({mapped.Encode(), Bytes{0, 0, 0}, Bytes{0x81, 5, 0x01, 6, 7}}));
  ASSERT_TRUE(rle.ok);
  EXPECT_EQ(rle.pixels, (Bytes{6, 7, 5, 5}));
  Imported grey = Import(Concat({Header(3, 8, 1, 3, 0x00).Encode(), Bytes{1, 2, 3}}));
  EXPECT_EQ(grey.pixels, (Bytes{3, 3, 3, 2, 2, 2, 1, 1, 1}));
}

// ---------------------------------------------------------------- run-length packets

TEST(Import, RunPacketsCrossRows) {
  // 4 wide, 2 rows: raw 2, a run of 5 from the end of row 0 into row 1, raw 1.
  Bytes data{0x01, 1, 2, 0x84, 9, 0x00, 3};
  Imported r = Import(Concat({Header(11, 8, 4, 2).Encode(), data}));
  ASSERT_TRUE(r.ok);
  Bytes expect;
  for (uint8_t g : {1, 2, 9, 9, 9, 9, 9, 3})
    expect.insert(expect.end(), {g, g, g});
  EXPECT_EQ(r.pixels, expect);
}

TEST(Import, PacketHeaderLimits) {
  struct Case {
    uint8_t header;
    int pixels;
    bool run;
  } cases[] = {{0x80, 1, true}, {0xFF, 128, true}, {0x00, 1, false}, {0x7F, 128, false}};
  for (const Case &c : cases) {
    Bytes data{c.header};
    for (int i = 0; i < (c.run ? 1 : c.pixels); ++i)
      data.push_back(static_cast<uint8_t>(i + 1));
    data.insert(data.end(), {0x80, 0xEE}); // one more pixel after the packet
    Imported r = Import(Concat({Header(11, 8, static_cast<uint16_t>(c.pixels + 1), 1).Encode(), data}));
    ASSERT_TRUE(r.ok);
    for (int i = 0; i < c.pixels; ++i)
      EXPECT_EQ(r.pixels[3 * i], c.run ? 1 : i + 1) << int(c.header) << " pixel " << i;
    EXPECT_EQ(r.pixels[3 * c.pixels], 0xEE) << "the packet covers exactly " << c.pixels;
  }
}

// ---------------------------------------------------------------- truncation

TEST(Import, MissingBytesReadAs255) {
  struct Case {
    const char *name;
    Bytes file;
    Bytes pixels;
  } cases[] = {
      {"raw mid-pixel", Concat({Header(2, 24, 2, 1).Encode(), Bytes{1, 2, 3, 4}}), Bytes{1, 2, 3, 4, 255, 255}},
      {"raw no data", Header(3, 8, 2, 1).Encode(), Bytes(6, 255)},
      {"rle after a header byte", Concat({Header(10, 24, 2, 1).Encode(), Bytes{0x81}}), Bytes(6, 255)},
      {"rle mid-value", Concat({Header(10, 24, 2, 1).Encode(), Bytes{0x81, 10}}), Bytes{10, 255, 255, 10, 255, 255}},
      {"rle after a packet", Concat({Header(10, 24, 2, 1).Encode(), Bytes{0x00, 1, 2, 3}}), Bytes{1, 2, 3, 255, 255, 255}},
      {"indexed", Concat({Mapped(1, 2, 1, 1).Encode(), Bytes{1, 2, 3}, Bytes{4}}), Bytes{4, 255}},
      {"16-bit", Concat({Header(2, 16, 1, 1).Encode(), Bytes{0x00}}), Bytes{0, 197, 255}}, // 0xFF00
      {"bottom-up", Concat({Header(3, 8, 1, 2, 0x00).Encode(), Bytes{5}}), Bytes{255, 255, 255, 5, 5, 5}},
  };
  for (const Case &c : cases) {
    Imported r = Import(c.file);
    ASSERT_TRUE(r.ok) << c.name;
    EXPECT_EQ(r.pixels, c.pixels) << c.name;
  }
}

// ---------------------------------------------------------------- rejection

TEST(Import, RejectedHeaders) {
  struct Case {
    const char *name;
    TgaHeader header;
  };
  auto with = [](auto change) {
    TgaHeader h = Header(2, 24, 1, 1);
    change(h);
    return h;
  };
  std::vector<Case> cases = {
      {"colour-map type 2", with([](TgaHeader &h) { h.ColorMapType = 2; })},
      {"depth 12", with([](TgaHeader &h) { h.PixelDepth = 12; })},
      {"depth 7", with([](TgaHeader &h) { h.PixelDepth = 7; })},
      {"depth 40", with([](TgaHeader &h) { h.PixelDepth = 40; })},
      {"descriptor 0x40", with([](TgaHeader &h) { h.ImageDescriptor = 0x40; })},
      {"descriptor 0x80", with([](TgaHeader &h) { h.ImageDescriptor = 0x80; })},
      {"true colour of depth 8", with([](TgaHeader &h) { h.PixelDepth = 8; })},
      {"grey of depth 16", with([](TgaHeader &h) { h.ImageType = 3; h.PixelDepth = 16; })},
      {"colour-mapped of depth 16", Mapped(1, 1, 1, 2) /* depth changed below */},
      {"colour-mapped without map type", with([](TgaHeader &h) { h.ImageType = 1; h.PixelDepth = 8; })},
      {"map length 257", with([](TgaHeader &h) { h.ColorMapType = 1; h.ColorMapLen = 257; h.ColorMapEntrySize = 24; })},
      {"map first index 1", with([](TgaHeader &h) { h.ColorMapType = 1; h.ColorMapLen = 2; h.ColorMapFirst = 1; h.ColorMapEntrySize = 24; })},
      {"map type 1 without entries", with([](TgaHeader &h) { h.ColorMapType = 1; })},
  };
  cases[8].header.PixelDepth = 16;
  for (uint8_t type : {0, 4, 5, 6, 7, 8, 12, 13, 17, 255})
    cases.push_back({"image type", with([type](TgaHeader &h) { h.ImageType = type; })});
  for (const Case &c : cases) {
    Bytes file = Concat({c.header.Encode(), Bytes(4096, 0)});
    EXPECT_FALSE(Valid(file)) << c.name << " " << int(c.header.ImageType);
    EXPECT_FALSE(Import(file).ok) << c.name;
    TempFile f(file);
    EXPECT_EQ(Information(f.c_str()), kNotAnImage) << c.name;
  }
}

TEST(Import, FilesThatAreNoTargaFiles) {
  TempFile missing(std::string("missing.tga"));
  TempFile empty(Bytes{});
  TempFile short17(Bytes(17, 0));
  for (const char *path : {missing.c_str(), empty.c_str(), short17.c_str(), "", static_cast<const char *>(nullptr)}) {
    EXPECT_EQ(Api().IMPORT_ValidFileCheck(path), 0);
    EXPECT_EQ(Information(path), kNotAnImage);
    HostImage *image = reinterpret_cast<HostImage *>(&missing);
    Api().IMPORT_CreateImage(path, &image);
    EXPECT_EQ(image, nullptr);
    image = reinterpret_cast<HostImage *>(&missing);
    Api().IMPORT_CreatePreviewImage(path, 10, 10, &image);
    EXPECT_EQ(image, nullptr);
  }
  EXPECT_FALSE(missing.Exists()) << "checking a file never creates it";
}

// ---------------------------------------------------------------- information text

TEST(Information, TextOfAnAcceptedFile) {
  TempFile f(Header(2, 24, 640, 480).Encode()); // pixel data cut off: still a Targa file
  EXPECT_EQ(Api().IMPORT_ValidFileCheck(f.c_str()), 1);
  EXPECT_EQ(Information(f.c_str()), "* TARGA FILE (decoder records) *\n\n"
                                    "ColorMapType : 0\n"
                                    "SubType : 2\n"
                                    "ColorMapLen : 0\n"
                                    "Width : 640\n"
                                    "Height : 480\n"
                                    "PixelSize : 3\n"
                                    "Flags : 32\n");
}

TEST(Information, LinesShowTheStoredValues) {
  TgaHeader h = Mapped(9, 70, 3, 256);
  h.ImageDescriptor = 0x08;
  TempFile f(h.Encode());
  std::string text = Information(f.c_str());
  EXPECT_NE(text.find("ColorMapType : 1\nSubType : 9\nColorMapLen : 256\nWidth : 70\nHeight : 3\n"
                      "PixelSize : 1\nFlags : 8\n"),
            std::string::npos)
      << text;
  TempFile f15(Header(10, 15, 1, 1).Encode());
  EXPECT_NE(Information(f15.c_str()).find("SubType : 10\n"), std::string::npos);
  EXPECT_NE(Information(f15.c_str()).find("PixelSize : 2\n"), std::string::npos);
}

TEST(Information, RepeatedCallsGiveTheSameAnswer) {
  TempFile f(Concat({Header(2, 24, 1, 1).Encode(), Bytes{1, 2, 3}}));
  std::string first = Information(f.c_str());
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(Api().IMPORT_ValidFileCheck(f.c_str()), 1);
    ASSERT_EQ(Information(f.c_str()), first);
  }
}

// ---------------------------------------------------------------- host callbacks
// Not on 32-bit Windows: there each module carries its own unwinder, and
// nothing a host throws passes through the library at all.
#if !defined(_WIN32) || defined(_WIN64)

int g_thrown = 0;
int32_t TLP_CALL ThrowText(const char *) { throw ++g_thrown; }
int32_t TLP_CALL ThrowVerbose(uint32_t, const char *, const char *, const char *) { throw ++g_thrown; }
int32_t TLP_CALL ThrowProgress(int32_t) { throw ++g_thrown; }

// A host callback that throws is called once, and its exception goes back to
// the host; the export it interrupts leaves no partial file, and an old file
// as it was.
TEST(HostCallbacks, AThrowingCallbackIsCalledOnceAndItsExceptionReturnsToTheHost) {
  const Bytes old = {'o', 'l', 'd'};
  TempFile good(Header(2, 24, 1, 1).Encode()), bad(Bytes(5, 0)), out, existing(old);
  uint8_t pixel[3] = {1, 2, 3};
  HostImage record{4, pixel, 3, 1, 1, nullptr, 0};
  const std::function<void()> calls[] = {
      [&] { Api().IMPORT_ImageInformation(good.c_str(), ThrowText); },
      [&] { Api().IMPORT_ImageInformation(bad.c_str(), ThrowText); },
      [&] { Api().IMPORT_SupportedExtensions(ThrowText); },
      [&] { Api().EXPORT_SupportedExtensions(ThrowText); },
      [&] { Api().UNITED_Verbose(ThrowVerbose); },
      [&] { Api().EXPORT_WriteToFile(out.c_str(), &record, ThrowProgress); },
      [&] { Api().EXPORT_WriteToFile(existing.c_str(), &record, ThrowProgress); }};
  for (size_t i = 0; i < std::size(calls); ++i) {
    g_thrown = 0;
    EXPECT_THROW(calls[i](), int) << "call " << i;
    EXPECT_EQ(g_thrown, 1) << "call " << i;
  }
  EXPECT_FALSE(out.Exists()) << "no partial file";
  EXPECT_EQ(existing.Read(), old);
}
#endif

// ---------------------------------------------------------------- previews

struct PreviewCase {
  uint16_t fileW, fileH;
  int32_t boxW, boxH;
  uint32_t outW, outH;
};

TEST(Preview, SizesFollowTheStepRule) {
  const PreviewCase cases[] = {
      {1000, 500, 100, 100, 125, 63}, {200, 200, 100, 100, 100, 100}, {150, 150, 100, 100, 150, 150},
      {100, 100, 100, 100, 100, 100}, {50, 40, 100, 100, 50, 40},     {1000, 500, 1, 1, 2, 1},
      {1000, 800, 100, 100, 125, 100}, {640, 480, 160, 120, 160, 120}, {300, 10, 100, 100, 150, 5},
      {100, 50, 200, 200, 100, 50},   {16, 16, 100, 100, 16, 16},     {65535, 1, 1, 1, 2, 1},
      {1000, 500, 0, 0, 2, 1},        {1000, 500, -1, -1, 1000, 500}, {0, 0, 1, 1, 0, 0},
      {96, 64, 32, 32, 48, 32},
  };
  for (const PreviewCase &c : cases) {
    // Raw grey data cut off after the header: the sizes do not depend on it.
    Imported r = ImportPreview(Header(3, 8, c.fileW, c.fileH).Encode(), c.boxW, c.boxH);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.width, c.outW) << c.fileW << "x" << c.fileH << " in " << c.boxW << "x" << c.boxH;
    EXPECT_EQ(r.height, c.outH) << c.fileW << "x" << c.fileH << " in " << c.boxW << "x" << c.boxH;
    EXPECT_EQ(r.bytesPerRow, static_cast<int32_t>(3 * c.outW));
  }
}

// A 10 × 10 grey image whose level is 10 × row + column, in stored order.
Bytes StoredGrid() {
  Bytes px;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      px.push_back(static_cast<uint8_t>(10 * y + x));
  return px;
}

// The same pixels as raw packets of one pixel each.
Bytes AsRawPackets(const Bytes &px) {
  Bytes out;
  for (uint8_t p : px)
    out.insert(out.end(), {0x00, p});
  return out;
}

Bytes Levels(const Imported &r) {
  Bytes out;
  for (size_t i = 0; i < r.pixels.size(); i += 3)
    out.push_back(r.pixels[i]);
  return out;
}

TEST(Preview, DeliversEveryStepthColumnAndRow) {
  // Box 2 × 2 on 10 × 10: step 4, columns and rows 0, 4 and 8.
  const Bytes topDown{0, 4, 8, 40, 44, 48, 80, 84, 88};
  const Bytes bottomUp{80, 84, 88, 40, 44, 48, 0, 4, 8};
  EXPECT_EQ(Levels(ImportPreview(Concat({Header(3, 8, 10, 10).Encode(), StoredGrid()}), 2, 2)), topDown);
  EXPECT_EQ(Levels(ImportPreview(Concat({Header(11, 8, 10, 10).Encode(), AsRawPackets(StoredGrid())}), 2, 2)),
            topDown);
  EXPECT_EQ(Levels(ImportPreview(Concat({Header(3, 8, 10, 10, 0).Encode(), StoredGrid()}), 2, 2)), bottomUp);
  EXPECT_EQ(Levels(ImportPreview(Concat({Header(11, 8, 10, 10, 0).Encode(), AsRawPackets(StoredGrid())}), 2, 2)),
            bottomUp);
}

TEST(Preview, LongRunsAreSkippedWhole) {
  // 256 × 4 in runs of 128: a preview must follow the runs across skipped rows.
  Bytes data;
  for (int i = 0; i < 8; ++i)
    data.insert(data.end(), {0xFF, static_cast<uint8_t>(i)});
  Imported r = ImportPreview(Concat({Header(11, 8, 256, 4).Encode(), data}), 100, 100);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.width, 128u); // step 2
  ASSERT_EQ(r.height, 2u);
  EXPECT_EQ(r.pixels[0], 0);
  EXPECT_EQ(r.pixels[3 * 64], 1);
  EXPECT_EQ(r.pixels[3 * 128], 4) << "stored row 2 starts with the fifth run";
  EXPECT_EQ(r.pixels[3 * 255], 5);
}

// ---------------------------------------------------------------- records

TEST(Import, TwoCallsGiveTwoRecordsOfTheirOwn) {
  TempFile f(Concat({Header(3, 8, 2, 1).Encode(), Bytes{1, 2}}));
  HostImage *a = nullptr, *b = nullptr;
  Api().IMPORT_CreateImage(f.c_str(), &a);
  Api().IMPORT_CreateImage(f.c_str(), &b);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_NE(a->Pixels, b->Pixels);
  HostImage saved = *a;
  Api().IMPORT_FreeImage(a);
  EXPECT_EQ(std::memcmp(&saved, a, sizeof saved), 0) << "FreeImage leaves every field as it was";
  EXPECT_EQ((Bytes(b->Pixels, b->Pixels + 6)), (Bytes{1, 1, 1, 2, 2, 2}));
  Api().IMPORT_FreeImage(b);
  Api().IMPORT_FreeImage(nullptr);
  std::free(a);
  std::free(b);
}

TEST(Import, HugeHeaderWithATinyBodyFailsCleanlyOrDecodes) {
  TgaHeader h = Header(10, 24, 65535, 65535);
  Bytes file = Concat({h.Encode(), Bytes{0x80, 1, 2, 3}});
  EXPECT_TRUE(Valid(file));
  Imported preview = ImportPreview(file, 100, 100);
  ASSERT_TRUE(preview.ok);
  EXPECT_EQ(preview.width, 128u);
  EXPECT_EQ((Bytes(preview.pixels.begin(), preview.pixels.begin() + 6)), (Bytes{1, 2, 3, 255, 255, 255}));
#if SIZE_MAX == UINT32_MAX
  EXPECT_FALSE(Import(file).ok) << "12.9 GB cannot be addressed";
#endif
}

#if !defined(_WIN32)
size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

TEST(Import, NoFileIsLeftOpenByAnyCall) {
  TempFile good(Concat({Header(10, 24, 4, 4, 0).Encode(), Bytes{0x8F, 1, 2, 3}}));
  TempFile bad(Concat({Header(7, 24, 4, 4).Encode()}));
  TempFile badMap(Concat({Mapped(1, 1, 1, 2, 16).Encode(), Bytes(4, 0)}));
  size_t before = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    for (const TempFile *f : {&good, &bad, &badMap}) {
      Api().IMPORT_ValidFileCheck(f->c_str());
      Information(f->c_str());
      Collect([&] {
        HostImage *image = nullptr;
        Api().IMPORT_CreateImage(f->c_str(), &image);
        return image;
      }());
      Collect([&] {
        HostImage *image = nullptr;
        Api().IMPORT_CreatePreviewImage(f->c_str(), 2, 2, &image);
        return image;
      }());
    }
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

#if !defined(__SANITIZE_ADDRESS__)
// On 64-bit the 12.9 GB block of the largest header can be addressed; when
// memory runs out the host receives null instead of a crash.
TEST(Import, HugeFullDecodeFailsCleanlyWhenMemoryRunsOut) {
  TempFile f(Concat({Header(2, 24, 65535, 65535).Encode(), Bytes{1, 2, 3}}));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{size_t(1) << 31, size_t(1) << 31};
    setrlimit(RLIMIT_AS, &limit);
    HostImage *image = reinterpret_cast<HostImage *>(&f);
    Api().IMPORT_CreateImage(f.c_str(), &image);
    _exit(image == nullptr ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the decode must not crash";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the host receives null";
}
#endif
#endif

} // namespace
