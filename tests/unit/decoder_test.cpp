// The decoder object itself: what it reads and where it stops, header-only
// mode, limits, and the whole-row fast paths against the one-pixel path and
// an independent model over many random files.
#include "Dtarga.h"
#include "RowConverters.h"
#include "ShortReadSource.h"
#include "TestSupport.h"

#include <random>

#if defined(__linux__)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

struct Decoded {
  bool ok;
  std::string info;
  int32_t width, height;
  Bytes pixels, palette;
  int64_t consumed;
  int32_t step;
};

// Through a file, or with `shortReads`, from memory in reads of at most
// that many bytes.
Decoded DecodeFile(const Bytes &file, bool pixelByPixel, int32_t boxW = 0, int32_t boxH = 0,
                   bool headerOnly = false, size_t maxBlock = SIZE_MAX, size_t shortReads = 0) {
  TTargaDecoder d;
  d.PixelByPixel = pixelByPixel;
  d.HeaderOnly = headerOnly;
  d.MaxBlockBytes = maxBlock;
  if (boxW || boxH) {
    d.Preview = true;
    d.PreviewMaxWidth = boxW;
    d.PreviewMaxHeight = boxH;
  }
  Decoded r{};
  if (shortReads) {
    TMemorySource memory(file.data(), file.size());
    TShortReadSource source(memory, static_cast<uint32_t>(file.size()), shortReads);
    r.ok = d.Decode(source);
  } else {
    TempFile f(file);
    r.ok = d.Decode(f.Path());
  }
  r.info = d.InfoText;
  r.consumed = d.BytesConsumed();
  r.step = d.Step;
  if (r.ok && !headerOnly) {
    r.width = d.OutWidth;
    r.height = d.OutHeight;
    uint8_t *px = d.TakePixels();
    uint8_t *pal = d.TakePalette();
    r.pixels.assign(px, px + static_cast<size_t>(d.RowBytes) * d.OutHeight);
    if (pal)
      r.palette.assign(pal, pal + 4 * d.PaletteCount);
    std::free(px);
    std::free(pal);
    EXPECT_EQ(d.TakePixels(), nullptr) << "a taken block is forgotten";
  }
  return r;
}

TgaHeader Grey(uint16_t w, uint16_t h, bool rle = false, uint8_t descriptor = 0x20) {
  TgaHeader t;
  t.ImageType = rle ? 11 : 3;
  t.PixelDepth = 8;
  t.ImageWidth = w;
  t.ImageHeight = h;
  t.ImageDescriptor = descriptor;
  return t;
}

TEST(Decoder, UncompressedPreviewStopsAfterTheLastDeliveredPixel) {
  Bytes px(100, 7);
  Decoded r = DecodeFile(Concat({Grey(10, 10).Encode(), px, Bytes(50, 9)}), false, 2, 2); // step 4
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.width, 3);
  EXPECT_EQ(r.consumed, 18 + 8 * 10 + 8 + 1) << "stored row 8, column 8 is the last one read";
}

TEST(Decoder, RunLengthPreviewDecodesPacketsUpToTheLastDeliveredPixel) {
  Bytes data;
  for (int i = 0; i < 100; ++i)
    data.insert(data.end(), {0x00, static_cast<uint8_t>(i)});
  Decoded r = DecodeFile(Concat({Grey(10, 10, true).Encode(), data}), false, 2, 2);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.consumed, 18 + 2 * (8 * 10 + 8 + 1));
  Decoded slow = DecodeFile(Concat({Grey(10, 10, true).Encode(), data}), true, 2, 2);
  EXPECT_EQ(slow.consumed, r.consumed);
  EXPECT_EQ(slow.pixels, r.pixels);
}

TEST(Decoder, FullDecodeReadsExactlyThePixelData) {
  Decoded raw = DecodeFile(Concat({Grey(3, 2).Encode(), Bytes(6, 1), Bytes(40, 2)}), false);
  EXPECT_EQ(raw.consumed, 18 + 6);
  Decoded rle = DecodeFile(Concat({Grey(3, 2, true).Encode(), Bytes{0x85, 1}, Bytes(40, 2)}), false);
  EXPECT_EQ(rle.consumed, 18 + 2);
  Decoded empty = DecodeFile(Concat({Grey(0, 9).Encode(), Bytes(40, 2)}), false);
  EXPECT_TRUE(empty.ok);
  EXPECT_EQ(empty.consumed, 18) << "an empty image reads no pixel";
}

TEST(Decoder, HeaderOnlyReadsHeaderAndIdFieldAndAllocatesNothing) {
  TgaHeader h = Grey(4, 4);
  h.IdLength = 5;
  h.ColorMapType = 1;
  h.ColorMapLen = 2;
  h.ColorMapEntrySize = 16; // not read in this mode
  TempFile f(Concat({h.Encode(), Bytes(5, 'x'), Bytes(4, 0), Bytes(16, 0)}));
  TTargaDecoder d;
  d.HeaderOnly = true;
  ASSERT_TRUE(d.Decode(f.Path()));
  EXPECT_EQ(d.BytesConsumed(), 18 + 5);
  EXPECT_EQ(d.PaletteCount, 2);
  EXPECT_EQ(d.TakePalette(), nullptr);
  EXPECT_EQ(d.TakePixels(), nullptr);
}

TEST(Decoder, InformationTextOfFailedRuns) {
  const std::string title = "* TARGA FILE (decoder records) *\n\n";
  EXPECT_EQ(DecodeFile(Bytes(17, 0), false).info, title);
  EXPECT_EQ(DecodeFile(Bytes{}, false).info, title);
  TgaHeader h = Grey(1, 1);
  h.PixelDepth = 12;
  Decoded r = DecodeFile(h.Encode(), false);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.info, title + "ColorMapType : 0\nSubType : 3\nColorMapLen : 0\nWidth : 1\nHeight : 1\n"
                            "PixelSize : 1\nFlags : 32\n");
  TTargaDecoder d;
  EXPECT_FALSE(d.Decode(""));
  EXPECT_EQ(d.InfoText, title);
}

TEST(Decoder, DecodeCanRunAgainOnTheSameObject) {
  TempFile a(Concat({Grey(1, 1).Encode(), Bytes{1}}));
  TempFile b(Concat({Grey(2, 1).Encode(), Bytes{2, 3}}));
  TTargaDecoder d;
  ASSERT_TRUE(d.Decode(a.Path()));
  ASSERT_TRUE(d.Decode(b.Path())); // the first run's blocks are released
  EXPECT_EQ(d.OutWidth, 2);
  EXPECT_EQ(d.InfoText.find("Width : 2\n") != std::string::npos, true);
  EXPECT_EQ(d.InfoText.rfind("* TARGA FILE"), 0u) << "the text starts again";
}

TEST(Decoder, BlocksLargerThanTheLimitFailTheRun) {
  Bytes file = Concat({Grey(64, 64).Encode(), Bytes(64 * 64, 1)});
  EXPECT_FALSE(DecodeFile(file, false, 0, 0, false, 64 * 64 * 3 - 1).ok);
  EXPECT_TRUE(DecodeFile(file, false, 0, 0, false, 64 * 64 * 3).ok);
  EXPECT_TRUE(DecodeFile(file, false, 0, 0, true, 1).ok) << "header-only allocates nothing";
  // The largest header: 12.9 GB of pixels, refused before anything is read.
  TgaHeader huge = Grey(65535, 65535);
  huge.ImageType = 2;
  huge.PixelDepth = 24;
  EXPECT_FALSE(DecodeFile(huge.Encode(), false, 0, 0, false, size_t(1) << 30).ok);
}

// Every way a run can fail, with its status and its reason; the header
// module's own check must give the same status as the decoder.
TEST(Decoder, StatusesNameTheReason) {
  using targa::TTargaStatus;
  auto with = [](auto change) {
    TgaHeader h;
    h.ImageWidth = h.ImageHeight = 1;
    change(h);
    return Concat({h.Encode(), Bytes(64, 0)});
  };
  auto mapped = [](TgaHeader &h) {
    h.ImageType = 1;
    h.PixelDepth = 8;
    h.ColorMapType = 1;
    h.ColorMapLen = 2;
    h.ColorMapEntrySize = 24;
  };
  struct Case {
    const char *name;
    Bytes file;
    bool headerOnly;
    TTargaStatus status;
    const char *reason;
  } cases[] = {
      {"accepted", with([](TgaHeader &) {}), false, TTargaStatus::Accepted, ""},
      {"17 bytes", Bytes(17, 0), true, TTargaStatus::TooShort, "not a Targa file (it is shorter than the 18-byte header)"},
      {"map type 2", with([](TgaHeader &h) { h.ColorMapType = 2; }), true, TTargaStatus::ColorMapType,
       "not a Targa file (its header has colour-map type 2)"},
      {"depth 12", with([](TgaHeader &h) { h.PixelDepth = 12; }), true, TTargaStatus::PixelDepth,
       "not a Targa file (its header has pixel depth 12)"},
      {"interleaved", with([](TgaHeader &h) { h.ImageDescriptor = 0x60; }), true, TTargaStatus::Interleaved,
       "a Targa file the plug-in does not read: interleaved rows (descriptor 96)"},
      {"type 4", with([](TgaHeader &h) { h.ImageType = 4; }), true, TTargaStatus::ImageType,
       "not a Targa file (its header has image type 4)"},
      {"type 0", with([](TgaHeader &h) { h.ImageType = 0; }), true, TTargaStatus::NoImageData,
       "a Targa file the plug-in does not read: no image data"},
      {"grey 16", with([](TgaHeader &h) { h.ImageType = 11, h.PixelDepth = 16; }), true, TTargaStatus::DepthForType,
       "a Targa file the plug-in does not read: pixel depth 16 for image type 11"},
      {"mapped, map type 0", with([&](TgaHeader &h) { mapped(h), h.ColorMapType = 0; }), true,
       TTargaStatus::ColorMapMissing, "not a Targa file (its header describes a colour-mapped image without a colour map)"},
      {"257 entries", with([&](TgaHeader &h) { mapped(h), h.ColorMapLen = 257; }), true, TTargaStatus::ColorMapLength,
       "a Targa file the plug-in does not read: colour-map length 257, the plug-in reads up to 256"},
      {"first entry 1", with([&](TgaHeader &h) { mapped(h), h.ColorMapFirst = 1; }), true,
       TTargaStatus::ColorMapFirst, "a Targa file the plug-in does not read: colour-map first entry 1, the plug-in "
                                    "reads maps from entry 0"},
      {"map without entries", with([&](TgaHeader &h) { mapped(h), h.ColorMapLen = 0; }), true,
       TTargaStatus::ColorMapEmpty, "not a Targa file (its header describes a colour map without entries)"},
      {"16-bit entries, header only", with([&](TgaHeader &h) { mapped(h), h.ColorMapEntrySize = 16; }), true,
       TTargaStatus::Accepted, ""},
      {"16-bit entries", with([&](TgaHeader &h) { mapped(h), h.ColorMapEntrySize = 16; }), false,
       TTargaStatus::ColorMapEntrySize,
       "a Targa file the plug-in does not read: colour-map entry size 16, the plug-in reads 24"},
      {"too large", with([](TgaHeader &h) { h.ImageWidth = h.ImageHeight = 65535; }), false, TTargaStatus::TooLarge,
       "a Targa file the plug-in does not read: picture too large for 65535 x 65535 pixels"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Decoded r = DecodeFile(c.file, false, 0, 0, c.headerOnly, size_t(1) << 30);
    TTargaDecoder d;
    d.HeaderOnly = c.headerOnly;
    d.MaxBlockBytes = size_t(1) << 30;
    TMemorySource memory(c.file.data(), c.file.size());
    EXPECT_EQ(d.Decode(memory), c.status == TTargaStatus::Accepted);
    EXPECT_EQ(d.Status, c.status);
    EXPECT_EQ(r.ok, c.status == TTargaStatus::Accepted) << "the same through a file";
    EXPECT_EQ(targa::Reason(d.Status, d.Header), c.reason);
    if (c.file.size() >= targa::kHeaderSize && c.status != TTargaStatus::TooLarge) {
      EXPECT_EQ(targa::Check(targa::TTargaHeader::Parse(c.file.data()), !c.headerOnly), c.status);
    }
  }
  TTargaDecoder missing;
  EXPECT_FALSE(missing.Decode(TempFile::Folder() + "/missing.tga"));
  EXPECT_EQ(missing.Status, TTargaStatus::CannotOpen);
  EXPECT_EQ(targa::Reason(missing.Status, missing.Header), "the file cannot be opened");
  EXPECT_STREQ(targa::ToString(TTargaStatus::Accepted), "accepted");
  EXPECT_STREQ(targa::ToString(static_cast<TTargaStatus>(255)), "unknown status");
}

// A preview of an uncompressed file reads from it no more than 1/Step of it
// plus a buffer per delivered row: the rest is passed over. Cut inside such a
// gap, the file gives what the one-pixel path gives from memory in short reads.
TEST(Decoder, PreviewReadsLittleMoreThanTheRowsItDelivers) {
  TgaHeader h;
  h.ImageWidth = 4096;
  h.ImageHeight = 64;
  h.ImageDescriptor = 0; // bottom-up
  std::mt19937 rng(3);
  Bytes px(size_t(4096) * 64 * 3);
  for (uint8_t &b : px)
    b = static_cast<uint8_t>(rng());
  const Bytes whole = Concat({h.Encode(), px});
  for (size_t size : {whole.size(), size_t(18) + 40 * 4096 * 3}) { // row 40 lies between delivered rows 32 and 48
    const Bytes file(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size));
    TempFile f(file);
    TFileSource source;
    ASSERT_TRUE(source.Open(f.Path()));
    TTargaDecoder d;
    d.Preview = true;
    d.PreviewMaxWidth = 256;
    d.PreviewMaxHeight = 4;
    ASSERT_TRUE(d.Decode(source));
    ASSERT_EQ(d.Step, 16);
    EXPECT_LE(source.BytesRead(), size / 16 + static_cast<uint64_t>(d.OutHeight) * TInputBuffer::Size)
        << size;
    uint8_t *pixels = d.TakePixels();
    Decoded slow = DecodeFile(file, true, 256, 4, false, SIZE_MAX, 5000);
    EXPECT_EQ(Bytes(pixels, pixels + static_cast<size_t>(d.RowBytes) * d.OutHeight), slow.pixels) << size;
    EXPECT_EQ(d.BytesConsumed(), slow.consumed) << size;
    std::free(pixels);
  }
}

// Reads of any length, before and after a gap, to and past the end: a file
// gives what memory gives (long reads go through the source's own buffer on
// some systems, in pieces), and so does a pipe, which reads its gaps.
TEST(Decoder, FileSourceGivesWhatMemoryGives) {
  std::mt19937 rng(11);
  Bytes file(700 * 1024 + 5);
  for (uint8_t &b : file)
    b = static_cast<uint8_t>(rng());
  TempFile f(file);
  struct Step {
    bool skip;
    size_t count;
  };
  const std::vector<std::vector<Step>> cases = {
      {{false, 600 * 1024}, {false, 200 * 1024}},
      {{false, 100}, {true, 20000}, {false, 256 * 1024 + 5}, {false, 16 * 1024}, {false, 1 << 20}, {false, 10}},
      {{true, 1}, {false, 16 * 1024}, {false, 16 * 1024 + 1}, {true, 1 << 20}, {false, 10}},
  };
  for (size_t i = 0; i < 2 * cases.size(); ++i) {
    FILE *piped = nullptr;
    if (i >= cases.size()) {
#if defined(__linux__)
      // Then through a pipe, which cannot seek: gaps are read and dropped.
      // The whole file fits in a pipe of 1 MiB, the most a user may ask for.
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      ASSERT_GE(fcntl(fds[1], F_SETPIPE_SZ, 1 << 20), static_cast<int>(file.size()));
      ASSERT_EQ(write(fds[1], file.data(), file.size()), static_cast<ssize_t>(file.size()));
      close(fds[1]);
      ASSERT_NE(piped = fdopen(fds[0], "rb"), nullptr);
#else
      break;
#endif
    }
    TFileSource source(piped);
    if (!piped) {
      ASSERT_TRUE(source.Open(f.Path()));
    }
    TMemorySource memory(file.data(), file.size());
    uint64_t skipped = 0;
    for (const Step &step : cases[i % cases.size()]) {
      if (step.skip) {
        const uint64_t n = memory.Skip(step.count);
        EXPECT_EQ(source.Skip(step.count), n) << i;
        skipped += n;
        continue;
      }
      Bytes a(step.count, 1), b(step.count, 1);
      EXPECT_EQ(source.Read(a.data(), step.count), memory.Read(b.data(), step.count)) << i;
      EXPECT_EQ(a, b) << i;
    }
    EXPECT_EQ(source.BytesRead(), memory.BytesRead() + (piped ? skipped : 0)) << i;
  }
  // A file that could not be opened gives nothing, and passes over nothing.
  TFileSource none;
  EXPECT_FALSE(none.Open(TempFile::Folder() + "/missing.tga"));
  Bytes a(16);
  EXPECT_EQ(none.Read(a.data(), a.size()), 0u);
  EXPECT_EQ(none.Skip(100), 0u);
  EXPECT_EQ(none.BytesRead(), 0u);
}

// The step and the preview's size for a file and a box, worked out by hand:
// the largest power of two at which the file, divided and rounded down, still
// reaches the box in width or in height; the sizes rounded up.
TEST(Decoder, PreviewStepAndSize) {
  struct Case {
    uint16_t w, h;
    int32_t boxW, boxH, step, shift, mask, outW, outH;
  } cases[] = {
      {1000, 800, 100, 100, 8, 3, 7, 125, 100},
      {640, 480, 160, 120, 4, 2, 3, 160, 120},
      {300, 10, 100, 100, 2, 1, 1, 150, 5},
      {10, 1000, 100, 100, 8, 3, 7, 2, 125},   // the height decides
      {100, 50, 200, 200, 1, 0, 0, 100, 50},   // smaller than the box: not reduced
      {16, 16, 100, 100, 1, 0, 0, 16, 16},
      {100, 100, 100, 100, 1, 0, 0, 100, 100}, // as large as the box: halved would be too small
      {200, 100, 100, 100, 2, 1, 1, 100, 50},
      {199, 1, 100, 100, 1, 0, 0, 199, 1},     // 199 / 2 rounds down to 99
      {96, 64, 32, 32, 2, 1, 1, 48, 32},
      {4096, 4096, 256, 256, 16, 4, 15, 256, 256},
      {1000, 500, 100, 100, 8, 3, 7, 125, 63},
      {10, 10, 2, 2, 4, 2, 3, 3, 3},
      {1000, 500, 1, 1, 512, 9, 511, 2, 1},
      {65535, 1, 1, 1, 32768, 15, 32767, 2, 1},
      {8, 8, 0, 0, 8, 3, 7, 1, 1},             // a box of 0 counts as 1
      {300, 200, -1, -1, 1, 0, 0, 300, 200},   // a negative box is larger than any file
      {0, 0, 1, 1, 1, 0, 0, 0, 0},
  };
  for (const Case &c : cases) {
    TempFile f(Grey(c.w, c.h).Encode());
    TTargaDecoder d;
    d.Preview = true;
    d.PreviewMaxWidth = c.boxW;
    d.PreviewMaxHeight = c.boxH;
    ASSERT_TRUE(d.Decode(f.Path()));
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " in " << c.boxW << "x" << c.boxH);
    EXPECT_EQ(d.Step, c.step);
    EXPECT_EQ(d.StepShift, c.shift);
    EXPECT_EQ(d.RowMask, c.mask);
    EXPECT_EQ(d.OutWidth, c.outW);
    EXPECT_EQ(d.OutHeight, c.outH);
  }
}

TEST(Decoder, ExpandFiveRoundsToNearest) {
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(row_converters::ExpandFive[i], (i * 255 + 15) / 31) << i;
}

TEST(Decoder, LargeUncompressedFilesMatchTheOnePixelPath) {
  // Several bands of rows, both orders, whole and cut off mid-row.
  struct Case {
    uint8_t type, depth;
    uint16_t w, h;
  } cases[] = {{2, 24, 1000, 700}, {1, 8, 2000, 600}, {2, 24, 70000 / 3, 40}, {3, 8, 1500, 500},
               {2, 16, 1201, 600}, {2, 15, 333, 1000}, {2, 32, 901, 300}};
  std::mt19937 rng(5);
  for (const Case &c : cases)
    for (uint8_t descriptor : {0x00, 0x20})
      for (bool cut : {false, true}) {
        TgaHeader h;
        h.ImageType = c.type;
        h.PixelDepth = c.depth;
        h.ImageWidth = c.w;
        h.ImageHeight = c.h;
        h.ImageDescriptor = descriptor;
        Bytes map;
        if (c.type == 1) {
          h.ColorMapType = 1;
          h.ColorMapLen = 256;
          h.ColorMapEntrySize = 24;
          map.assign(768, 9);
        }
        Bytes px(size_t(c.w) * c.h * ((c.depth + 1) / 8));
        for (uint8_t &b : px)
          b = static_cast<uint8_t>(rng());
        if (cut)
          px.resize(px.size() * 2 / 3 + 1);
        Bytes file = Concat({h.Encode(), map, px});
        Decoded fast = DecodeFile(file, false), slow = DecodeFile(file, true);
        ASSERT_TRUE(fast.ok);
        EXPECT_EQ(fast.pixels, slow.pixels) << c.w << "x" << c.h << " descriptor " << int(descriptor) << " cut " << cut;
        EXPECT_EQ(fast.consumed, slow.consumed);
      }
}

// ------------------------------------------------------------ random files

struct Kind {
  uint8_t type, depth;
};
const Kind kKinds[] = {{1, 8}, {2, 15}, {2, 16}, {2, 24}, {2, 32}, {3, 8}};

struct Generated {
  Bytes file;
  bool truncated;
  Bytes expectFull; // top-down delivered block, when not truncated
  int32_t w, h, pixelBytes, outBytes;
  bool bottomUp;
  Kind kind;
  std::vector<Bytes> stored; // stored pixels, in stored order
};

Bytes Convert(const Bytes &p, const Kind &k) {
  if (k.type == 1)
    return {p[0]};
  if (k.type == 3)
    return {p[0], p[0], p[0]};
  if (k.depth <= 16) {
    unsigned v = p[0] | (p[1] << 8);
    using row_converters::ExpandFive;
    return {ExpandFive[v & 31], ExpandFive[(v >> 5) & 31], ExpandFive[(v >> 10) & 31]};
  }
  return {p[0], p[1], p[2]};
}

Generated Generate(std::mt19937 &rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Generated g;
  const Kind k = kKinds[pick(6)];
  g.kind = k;
  const bool rle = pick(2) == 1;
  // Some rows wide enough to hold the longest packets whole.
  g.w = pick(4) == 0 ? pick(3) : pick(6) == 0 ? 130 + pick(1500) : 1 + pick(40);
  g.h = pick(4) == 0 ? pick(3) : 1 + pick(30);
  g.bottomUp = pick(2) == 0;
  g.pixelBytes = k.depth == 15 ? 2 : k.depth / 8;
  g.outBytes = k.type == 1 ? 1 : 3;
  TgaHeader h;
  h.ImageType = static_cast<uint8_t>(k.type + (rle ? 8 : 0));
  h.PixelDepth = k.depth;
  h.ImageWidth = static_cast<uint16_t>(g.w);
  h.ImageHeight = static_cast<uint16_t>(g.h);
  h.ImageDescriptor = static_cast<uint8_t>((g.bottomUp ? 0 : 0x20) | pick(16));
  h.IdLength = static_cast<uint8_t>(pick(3) == 0 ? pick(256) : 0);
  int entries = k.type == 1 ? 1 + pick(256) : (pick(4) == 0 ? 1 + pick(20) : 0);
  if (entries) {
    h.ColorMapType = 1;
    h.ColorMapLen = static_cast<uint16_t>(entries);
    h.ColorMapEntrySize = 24;
  }
  // Few distinct values, so that runs appear.
  const int palette = 1 + pick(6);
  std::vector<Bytes> values(static_cast<size_t>(palette));
  for (Bytes &v : values)
    for (int i = 0; i < g.pixelBytes; ++i)
      v.push_back(static_cast<uint8_t>(rng()));
  for (int i = 0; i < g.w * g.h; ++i)
    g.stored.push_back(values[static_cast<size_t>(pick(palette))]);

  Bytes data;
  if (!rle) {
    for (const Bytes &p : g.stored)
      data.insert(data.end(), p.begin(), p.end());
  } else {
    // Packets ignore row boundaries.
    size_t i = 0;
    while (i < g.stored.size()) {
      size_t same = 1;
      while (i + same < g.stored.size() && same < 128 && g.stored[i + same] == g.stored[i])
        ++same;
      if (same > 1 && pick(4) != 0) {
        data.push_back(static_cast<uint8_t>(0x80 | (same - 1)));
        data.insert(data.end(), g.stored[i].begin(), g.stored[i].end());
        i += same;
      } else {
        size_t n = std::min<size_t>(1 + static_cast<size_t>(pick(pick(2) ? 128 : 16)), g.stored.size() - i);
        data.push_back(static_cast<uint8_t>(n - 1));
        for (size_t j = 0; j < n; ++j)
          data.insert(data.end(), g.stored[i + j].begin(), g.stored[i + j].end());
        i += n;
      }
    }
  }
  Bytes id(h.IdLength);
  for (uint8_t &b : id)
    b = static_cast<uint8_t>(rng());
  Bytes map(static_cast<size_t>(3 * entries));
  for (uint8_t &b : map)
    b = static_cast<uint8_t>(rng());
  g.file = Concat({h.Encode(), id, map, data});
  g.truncated = pick(4) == 0;
  if (g.truncated)
    g.file.resize(18 + static_cast<size_t>(pick(static_cast<int>(g.file.size() - 17))));
  if (pick(3) == 0)
    g.file.resize(g.file.size() + 1 + static_cast<size_t>(pick(50)), 0x5A); // data after the image
  for (int y = 0; y < g.h; ++y) {
    int sy = g.bottomUp ? g.h - 1 - y : y;
    for (int x = 0; x < g.w; ++x) {
      Bytes c = Convert(g.stored[static_cast<size_t>(sy * g.w + x)], k);
      g.expectFull.insert(g.expectFull.end(), c.begin(), c.end());
    }
  }
  return g;
}

TEST(Decoder, RandomFilesFastPathsMatchTheModelAndTheOnePixelPath) {
  std::mt19937 rng(20261207);
  for (int n = 0; n < 1500; ++n) {
    Generated g = Generate(rng);
    int32_t boxW = 0, boxH = 0;
    if (n % 3 == 0) {
      boxW = 1 + static_cast<int32_t>(rng() % 12);
      boxH = 1 + static_cast<int32_t>(rng() % 12);
    }
    Decoded fast = DecodeFile(g.file, false, boxW, boxH);
    Decoded slow = DecodeFile(g.file, true, boxW, boxH);
    // Short reads split pixels and packets at the buffer's end.
    Decoded chunked = DecodeFile(g.file, false, boxW, boxH, false, SIZE_MAX, 1 + rng() % 7);
    ASSERT_EQ(chunked.pixels, fast.pixels) << "case " << n;
    ASSERT_EQ(chunked.consumed, fast.consumed) << "case " << n;
    ASSERT_EQ(fast.ok, slow.ok) << "case " << n;
    ASSERT_TRUE(fast.ok) << "case " << n;
    ASSERT_EQ(fast.pixels, slow.pixels) << "case " << n;
    ASSERT_EQ(fast.palette, slow.palette) << "case " << n;
    ASSERT_EQ(fast.consumed, slow.consumed) << "case " << n;
    if (g.truncated)
      continue;
    if (!boxW) {
      ASSERT_EQ(fast.pixels, g.expectFull) << "case " << n;
      continue;
    }
    // Output pixel (x, y) is stored pixel (x·step, y·step), in stored order;
    // PreviewStepAndSize checks the step itself.
    const int step = fast.step;
    ASSERT_EQ(fast.width, (g.w + step - 1) / step) << "case " << n;
    for (int y = 0; y < fast.height; ++y) {
      int sy = y * step;
      int row = g.bottomUp ? fast.height - 1 - y : y;
      for (int x = 0; x < fast.width; ++x) {
        Bytes c = Convert(g.stored[static_cast<size_t>(sy * g.w + x * step)], g.kind);
        size_t at = (static_cast<size_t>(row) * static_cast<size_t>(fast.width) + static_cast<size_t>(x)) *
                    static_cast<size_t>(g.outBytes);
        ASSERT_EQ(Bytes(fast.pixels.begin() + static_cast<ptrdiff_t>(at),
                        fast.pixels.begin() + static_cast<ptrdiff_t>(at) + g.outBytes),
                  c)
            << "case " << n;
      }
    }
  }
}

} // namespace
