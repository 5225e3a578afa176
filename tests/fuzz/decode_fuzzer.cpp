// Header-only, full and preview decodes of one input. The whole-row fast
// paths must agree byte for byte with the one-pixel path, and everything the
// full decode accepts the file check must accept too.
#include "Dtarga.h"
#include "FuzzInput.h"

#include <cstring>

namespace {

struct Result {
  bool ok;
  int32_t w, h, rowBytes, paletteCount;
  uint8_t *pixels, *palette;
  int64_t consumed;
};

Result Run(const std::string &path, bool pixelByPixel, bool preview, int32_t boxW, int32_t boxH,
           size_t chunk) {
  TTargaDecoder d;
  d.MaxBlockBytes = fuzz::kMaxBlockBytes;
  d.PixelByPixel = pixelByPixel;
  d.ReadChunk = chunk;
  d.Preview = preview;
  d.PreviewMaxWidth = boxW;
  d.PreviewMaxHeight = boxH;
  Result r{};
  r.ok = d.Decode(path);
  r.consumed = d.BytesConsumed();
  if (r.ok) {
    r.w = d.OutWidth;
    r.h = d.OutHeight;
    r.rowBytes = d.RowBytes;
    r.paletteCount = d.PaletteCount;
    r.pixels = d.TakePixels();
    r.palette = d.TakePalette();
  }
  return r;
}

void Same(const Result &a, const Result &b) {
  if (a.ok != b.ok || a.consumed != b.consumed)
    std::abort();
  if (!a.ok)
    return;
  if (a.w != b.w || a.h != b.h || a.rowBytes != b.rowBytes || a.paletteCount != b.paletteCount)
    std::abort();
  size_t n = static_cast<size_t>(a.rowBytes) * static_cast<size_t>(a.h);
  if (n && std::memcmp(a.pixels, b.pixels, n) != 0)
    std::abort();
  if ((a.palette == nullptr) != (b.palette == nullptr))
    std::abort();
  if (a.palette && std::memcmp(a.palette, b.palette, 4 * static_cast<size_t>(a.paletteCount)) != 0)
    std::abort();
}

void Release(Result &r) {
  std::free(r.pixels);
  std::free(r.palette);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in = fuzz::Split(data, size);
  const std::string &path = fuzz::WriteFile(in.file, in.fileSize);

  TTargaDecoder header;
  header.HeaderOnly = true;
  bool valid = header.Decode(path);

  bool preview = (in.mode & 1) != 0;
  size_t chunk = (in.mode & 2) ? 1 + (in.mode >> 2) % 7 : 16384;
  Result fast = Run(path, false, preview, in.boxW, in.boxH, 16384);
  Result chunked = Run(path, false, preview, in.boxW, in.boxH, chunk);
  Same(fast, chunked);
  // The one-pixel path walks every stored pixel of a run-length preview:
  // compare it where that stays quick.
  Result slow{};
  if (static_cast<int64_t>(header.FileWidth) * header.FileHeight <= (int64_t(1) << 20)) {
    slow = Run(path, true, preview, in.boxW, in.boxH, 16384);
    Same(fast, slow);
  }
  if (fast.ok && !valid)
    std::abort(); // a decodable file always passes the check
  Release(fast);
  Release(slow);
  Release(chunked);
  return 0;
}
