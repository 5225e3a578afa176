// Header-only, full and preview decodes of one input, checked against each
// other and against an independent model:
// - the whole-row fast paths against the one-pixel path and the model;
// - memory, short reads, the plug-in's entry points on a file, and (for a
//   sample of inputs) a pipe: the same answers, texts, pixels and bytes
//   consumed whatever the source;
// - the status of every run against the header module's checks, and a full
//   decode that succeeds always passing the file check.
#include "Dtarga.h"
#include "FuzzInput.h"
#include "ShortReadSource.h"
#include "TargaPlugin.h"

#include <algorithm>
#include <cstring>

namespace {

using fuzz::Bytes;
using targa::TTargaHeader;
using targa::TTargaStatus;

struct Block {
  uint8_t *p = nullptr;
  size_t size = 0;
  Block() = default;
  Block(uint8_t *block, size_t n) : p(block), size(n) {}
  Block(Block &&o) noexcept : p(o.p), size(o.size) { o.p = nullptr; }
  Block &operator=(Block &&o) noexcept {
    std::swap(p, o.p);
    std::swap(size, o.size);
    return *this;
  }
  ~Block() { std::free(p); }
  bool operator==(const Block &o) const {
    return (p == nullptr) == (o.p == nullptr) && size == o.size && (!size || std::memcmp(p, o.p, size) == 0);
  }
  bool operator!=(const Block &o) const { return !(*this == o); }
};

// A run's results; the blocks are taken over, not copied.
struct Result {
  bool ok = false;
  TTargaStatus status = TTargaStatus::Accepted;
  std::string info;
  int32_t w = 0, h = 0, rowBytes = 0, paletteCount = 0, step = 1;
  bool trueColor = false;
  Block pixels, palette;
  int64_t consumed = 0;
};

struct Mode {
  bool headerOnly = false, preview = false, pixelByPixel = false;
  int32_t boxW = 1, boxH = 1;
  size_t cap = fuzz::kSmallBlockBytes;
};

Result Run(TByteSource &source, const Mode &m) {
  TTargaDecoder d;
  d.MaxBlockBytes = m.cap;
  d.HeaderOnly = m.headerOnly;
  d.PixelByPixel = m.pixelByPixel;
  d.Preview = m.preview;
  d.PreviewMaxWidth = m.boxW;
  d.PreviewMaxHeight = m.boxH;
  Result r;
  r.ok = d.Decode(source);
  r.status = d.Status;
  r.info = d.InfoText;
  r.consumed = d.BytesConsumed();
  if (r.ok && !m.headerOnly) {
    r.w = d.OutWidth;
    r.h = d.OutHeight;
    r.rowBytes = d.RowBytes;
    r.step = d.Step;
    r.trueColor = d.TrueColor;
    r.paletteCount = d.PaletteCount;
    r.pixels = Block(d.TakePixels(), static_cast<size_t>(d.RowBytes) * static_cast<size_t>(d.OutHeight));
    r.palette = Block(d.TakePalette(), 4 * static_cast<size_t>(d.PaletteCount));
    if (!r.palette.p)
      r.palette.size = 0;
  }
  return r;
}

void Same(const Result &a, const Result &b) {
  if (a.ok != b.ok || a.status != b.status || a.info != b.info || a.consumed != b.consumed)
    std::abort();
  if (a.w != b.w || a.h != b.h || a.rowBytes != b.rowBytes || a.trueColor != b.trueColor ||
      a.paletteCount != b.paletteCount || a.pixels != b.pixels || a.palette != b.palette)
    std::abort();
}

// ------------------------------------------------------------ the model

// Bytes of the file, 255 past its end.
struct Data {
  const uint8_t *p;
  size_t size;
  uint8_t operator[](uint64_t i) const { return i < size ? p[i] : 0xFF; }
};

// Stored pixels by their number in stored order, from the format alone: raw
// pixels follow each other; packets are walked while the data lasts, and
// after its end every packet header reads 255, a run of 255 bytes.
class StoredPixels {
public:
  StoredPixels(Data data, uint64_t start, const TTargaHeader &h, uint64_t count)
      : data_(data), start_(start), bytes_(h.PixelDepth == 15 ? 2 : h.PixelDepth / 8), rle_(h.ImageType > 8) {
    if (!rle_)
      return;
    uint64_t at = start, index = 0;
    while (at < data.size && index < count) {
      uint8_t head = data[at];
      uint64_t n = (head & 0x7F) + 1u;
      bool run = (head & 0x80) != 0;
      packets_.push_back({index, at + 1, run});
      index += n;
      at += 1 + (run ? 1 : n) * bytes_;
    }
    end_ = index;
  }
  void Get(uint64_t i, uint8_t *px) const {
    uint64_t at;
    if (!rle_) {
      at = start_ + i * bytes_;
    } else if (i >= end_) {
      at = UINT64_MAX; // all 255
    } else {
      auto p = std::upper_bound(packets_.begin(), packets_.end(), i,
                                [](uint64_t v, const Packet &q) { return v < q.first; }) - 1;
      at = p->run ? p->values : p->values + (i - p->first) * bytes_;
    }
    for (uint64_t k = 0; k < bytes_; ++k)
      px[k] = at == UINT64_MAX ? 0xFF : data_[at + k];
  }

private:
  struct Packet {
    uint64_t first, values;
    bool run;
  };
  Data data_;
  uint64_t start_;
  uint64_t bytes_;
  bool rle_;
  std::vector<Packet> packets_;
  uint64_t end_ = 0;
};

uint8_t Widen5(unsigned c) { return static_cast<uint8_t>((c * 255 + 15) / 31); }

struct ModelImage {
  int32_t w = 0, h = 0;
  Bytes pixels, palette;
};

// The delivered block of an accepted file at the decoder's preview step, or
// false when the model would take long. The step itself is pinned by the
// unit tests' table of files and boxes; here it need only be a power of two,
// and 1 outside preview mode.
bool Model(Data data, const Mode &m, uint64_t step, ModelImage *out) {
  if (step == 0 || (step & (step - 1)) != 0 || (!m.preview && step != 1))
    std::abort();
  const TTargaHeader h = TTargaHeader::Parse(data.p);
  const uint64_t w = h.ImageWidth, ht = h.ImageHeight;
  const uint64_t ow = (w + step - 1) / step, oh = (ht + step - 1) / step;
  const uint8_t type = h.ImageType > 8 ? h.ImageType - 8 : h.ImageType;
  const uint64_t outBytes = type == 1 ? 1 : 3;
  if (ow * oh > (uint64_t(1) << 16))
    return false;
  const uint64_t mapStart = 18 + h.IdLength;
  out->w = static_cast<int32_t>(ow);
  out->h = static_cast<int32_t>(oh);
  out->palette.clear();
  for (uint64_t i = 0; i < h.ColorMapLen; ++i)
    out->palette.insert(out->palette.end(),
                        {data[mapStart + 3 * i], data[mapStart + 3 * i + 1], data[mapStart + 3 * i + 2], 0});
  const StoredPixels stored(data, mapStart + 3 * uint64_t(h.ColorMapLen), h, w * ht);
  const bool bottomUp = (h.ImageDescriptor & 0x20) == 0;
  out->pixels.assign(ow * oh * outBytes, 0);
  uint8_t *d = out->pixels.data();
  for (uint64_t y = 0; y < oh; ++y) {
    const uint64_t storedRow = (bottomUp ? oh - 1 - y : y) * step;
    for (uint64_t x = 0; x < ow; ++x) {
      uint8_t p[4];
      stored.Get(storedRow * w + x * step, p);
      if (type == 1) {
        *d++ = p[0];
      } else if (type == 3) {
        d[0] = d[1] = d[2] = p[0];
        d += 3;
      } else if (h.PixelDepth <= 16) {
        const unsigned v = p[0] | (p[1] << 8);
        d[0] = Widen5(v & 31);
        d[1] = Widen5((v >> 5) & 31);
        d[2] = Widen5((v >> 10) & 31);
        d += 3;
      } else {
        std::memcpy(d, p, 3);
        d += 3;
      }
    }
  }
  return true;
}

// ------------------------------------------------------------ entry points

std::string g_text;
int32_t KeepText(const char *text) {
  g_text = text;
  return 0;
}

// "イメージファイルでは、ないようです。" in code page 932.
const char kNotAnImage[] = "\x83"
                           "C\x83\x81\x81[\x83W\x83t\x83@\x83"
                           "C\x83\x8b\x82\xc5\x82\xcd\x81"
                           "A\x82\xc8\x82\xa2\x82\xe6\x82\xa4\x82\xc5\x82\xb7\x81"
                           "B";

// The plug-in's answers for the file must be the memory decodes' answers.
void CheckEntryPoints(const std::string &path, const Result &header, const Result &image, const Mode &m,
                      bool decode) {
  if (IMPORT_ValidFileCheck(path.c_str()) != (header.ok ? 1 : 0))
    std::abort();
  IMPORT_ImageInformation(path.c_str(), KeepText);
  if (g_text != (header.ok ? header.info : std::string(kNotAnImage)))
    std::abort();
  if (!decode || image.status == TTargaStatus::TooLarge)
    return; // the entry points have no block limit
  HostImage *record = nullptr;
  if (m.preview)
    IMPORT_CreatePreviewImage(path.c_str(), m.boxW, m.boxH, &record);
  else
    IMPORT_CreateImage(path.c_str(), &record);
  if ((record != nullptr) != image.ok)
    std::abort();
  if (!record)
    return;
  const size_t n = static_cast<size_t>(record->BytesPerRow) * record->Height;
  if (record->Kind != (image.trueColor ? TLP_KIND_FULL24 : TLP_KIND_INDEXED8) ||
      record->Width != static_cast<uint32_t>(image.w) || record->Height != static_cast<uint32_t>(image.h) ||
      record->BytesPerRow != image.rowBytes || n != image.pixels.size ||
      (n && std::memcmp(record->Pixels, image.pixels.p, n) != 0) ||
      (record->Palette == nullptr) != (image.palette.p == nullptr) ||
      record->PaletteCount != uint32_t(image.paletteCount) ||
      (record->Palette && std::memcmp(record->Palette, image.palette.p, image.palette.size) != 0))
    std::abort();
  IMPORT_FreeImage(record);
  std::free(record);
}

// The status the decoder must give, from the header module's checks.
TTargaStatus ExpectedStatus(const fuzz::Input &in, const Mode &m, const Result &r) {
  if (in.fileSize < targa::kHeaderSize)
    return TTargaStatus::TooShort;
  const TTargaHeader h = TTargaHeader::Parse(in.file);
  TTargaStatus s = targa::CheckImageFields(h);
  if (s == TTargaStatus::Accepted && !m.headerOnly && r.status == TTargaStatus::TooLarge)
    return TTargaStatus::TooLarge; // the block is sized before the colour map is looked at
  return s == TTargaStatus::Accepted ? targa::Check(h, !m.headerOnly) : s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::Input in = fuzz::Split(data, size);
  TMemorySource memory(in.file, in.fileSize);

  Mode headerMode;
  headerMode.headerOnly = true;
  const Result header = Run(memory, headerMode);
  if (header.status != ExpectedStatus(in, headerMode, header))
    std::abort();

  const uint32_t hash = fuzz::Hash(data, size);
  Mode m;
  m.cap = fuzz::BlockCap(data, size);
  m.preview = (in.mode & 1) != 0;
  m.boxW = in.boxW;
  m.boxH = in.boxH;
  TMemorySource memory2(in.file, in.fileSize);
  const Result fast = Run(memory2, m);
  if (fast.status != ExpectedStatus(in, m, fast) || fast.ok != (fast.status == TTargaStatus::Accepted))
    std::abort();
  if (fast.ok && !header.ok)
    std::abort(); // a decodable file always passes the check

  // Every further run of a large image costs as much as the first or more
  // (the one-pixel path walks every stored pixel of a run-length preview):
  // those are made for one input in sixteen.
  const uint64_t storedPixels =
      in.fileSize >= targa::kHeaderSize
          ? uint64_t(TTargaHeader::Parse(in.file).ImageWidth) * TTargaHeader::Parse(in.file).ImageHeight
          : 0;
  const bool small = storedPixels <= (1u << 14) && uint64_t(fast.w) * uint64_t(fast.h) <= (1u << 14);
  const bool sampled = small || (hash >> 8) % 16 == 0;

  // Reads of 1 to a few bytes, or up to a few buffers.
  if (sampled) {
    TMemorySource memory3(in.file, in.fileSize);
    const size_t longest = (in.mode & 0x80) ? 1 + in.boxByteW * 97u : 1 + (in.mode >> 1) % 7;
    TShortReadSource shortReads(memory3, in.mode * 2654435761u ^ static_cast<uint32_t>(size), longest);
    Same(fast, Run(shortReads, m));
  }

  if (sampled && header.ok && storedPixels <= (1u << 16)) {
    Mode slow = m;
    slow.pixelByPixel = true;
    TMemorySource memory4(in.file, in.fileSize);
    Same(fast, Run(memory4, slow));
  }

  if (fast.ok && sampled) {
    ModelImage model;
    if (Model(Data{in.file, in.fileSize}, m, static_cast<uint64_t>(fast.step), &model) &&
        (model.w != fast.w || model.h != fast.h || model.pixels.size() != fast.pixels.size ||
         (fast.pixels.size && std::memcmp(model.pixels.data(), fast.pixels.p, fast.pixels.size) != 0) ||
         model.palette.size() != fast.palette.size ||
         (fast.palette.size && std::memcmp(model.palette.data(), fast.palette.p, fast.palette.size) != 0)))
      std::abort();
  }

  // Through the entry points, which open the file by name, for one input
  // in four: they add little beyond the memory runs but system calls.
  if ((hash >> 12) % 4 == 0) {
    static fuzz::MemFile file;
    CheckEntryPoints(file.Write(in.file, in.fileSize), header, fast, m, sampled);
  }

  // A pipe cannot seek: its gaps are read through. A sample of inputs.
  if ((in.mode & 0x0E) == 0x0E && sampled) {
    if (FILE *pipe = fuzz::PipeWith(in.file, in.fileSize)) {
      TFileSource stream(pipe);
      Same(fast, Run(stream, m));
    }
  }
  return 0;
}
