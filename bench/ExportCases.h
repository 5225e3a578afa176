// The export over an existing file, timed the same way on Linux and for the
// 32-bit DLL under Wine: every path the safe-write sequence can take, beside
// the floors. The floor is the fastest plain way to make the same file: its
// bytes written to a new file (the old one removed, untimed) in the same
// folder, in pieces of 256 KiB through the C runtime, with and without a
// flush to the disk before the close; beside it, one fwrite per row over the
// existing file. Each case has an untimed step that sets the file up and a
// timed one.
#pragma once

#include "PluginLoader.h"
#include "TargaHeader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace bench {

struct ExportRecord {
  std::vector<uint8_t> pixels, palette;
  HostImage record{};
};

// A 4096 × 4096 record of kind 4 (24-bit) or 1 (8-bit, 256 colours).
inline ExportRecord MakeExportRecord(int32_t kind) {
  ExportRecord r;
  const uint32_t side = 4096, pixel = kind == TLP_KIND_INDEXED8 ? 1 : 3;
  r.pixels.resize(size_t(side) * side * pixel);
  for (size_t i = 0; i < r.pixels.size(); ++i)
    r.pixels[i] = static_cast<uint8_t>(i * 7 + i / 4099);
  if (kind == TLP_KIND_INDEXED8)
    for (int i = 0; i < 256; ++i)
      r.palette.insert(r.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
  r.record = HostImage{kind, r.pixels.data(), static_cast<int32_t>(side * pixel), side, side,
                       r.palette.empty() ? nullptr : r.palette.data(), static_cast<uint32_t>(r.palette.size() / 4)};
  return r;
}

// What the file holds before the rows: the header, then the colour map at 3
// bytes an entry.
inline std::vector<uint8_t> FileStart(const HostImage &r) {
  targa::TTargaHeader h;
  const bool mapped = r.Kind == TLP_KIND_INDEXED8;
  h.ColorMapType = mapped ? targa::kColorMapPresent : targa::kNoColorMap;
  h.ImageType = mapped ? targa::kColorMapped : targa::kTrueColor;
  h.ColorMapLen = static_cast<uint16_t>(r.PaletteCount);
  h.ColorMapEntrySize = mapped ? targa::kColorMapEntryBits : 0;
  h.ImageWidth = static_cast<uint16_t>(r.Width);
  h.ImageHeight = static_cast<uint16_t>(r.Height);
  h.PixelDepth = mapped ? 8 : 24;
  h.ImageDescriptor = targa::kTopLeftOriginBit;
  std::vector<uint8_t> start(targa::kHeaderSize);
  h.Serialise(start.data());
  for (uint32_t i = 0; i < r.PaletteCount; ++i)
    start.insert(start.end(), r.Palette + 4 * i, r.Palette + 4 * i + 3);
  return start;
}

inline size_t RowBytes(const HostImage &r) { return size_t(r.Width) * (r.Kind == TLP_KIND_INDEXED8 ? 1 : 3); }

inline const uint8_t *RowOf(const HostImage &r, uint32_t y) {
  return static_cast<const uint8_t *>(r.Pixels) + ptrdiff_t(y) * r.BytesPerRow;
}

constexpr size_t kPiece = size_t(256) << 10;

// Cuts the bytes it is given into pieces of kPiece bytes (the last one
// shorter) for `emit`. A piece that lies whole inside one given span goes out
// from there, uncopied; only pieces that straddle spans are gathered.
class Pieces {
public:
  explicit Pieces(std::function<bool(const uint8_t *, size_t)> emit) : emit_(std::move(emit)) {}

  bool Put(const uint8_t *p, size_t n) {
    while (n > 0 && ok_) {
      if (used_ == 0 && n >= kPiece) {
        ok_ = emit_(p, kPiece);
        p += kPiece;
        n -= kPiece;
        continue;
      }
      if (gather_.empty())
        gather_.resize(kPiece);
      const size_t take = std::min(n, kPiece - used_);
      std::memcpy(gather_.data() + used_, p, take);
      used_ += take;
      p += take;
      n -= take;
      if (used_ == kPiece) {
        ok_ = emit_(gather_.data(), kPiece);
        used_ = 0;
      }
    }
    return ok_;
  }

  bool Finish() {
    if (ok_ && used_ > 0)
      ok_ = emit_(gather_.data(), used_);
    used_ = 0;
    return ok_;
  }

private:
  std::function<bool(const uint8_t *, size_t)> emit_;
  std::vector<uint8_t> gather_;
  size_t used_ = 0;
  bool ok_ = true;
};

// Everything the C runtime holds for the file, and the system's cache of it,
// to the disk.
inline bool SyncToDisk(std::FILE *f) {
  if (std::fflush(f) != 0)
    return false;
#ifdef _WIN32
  return _commit(_fileno(f)) == 0;
#else
  return fsync(fileno(f)) == 0;
#endif
}

// The floor: the file's bytes in 256 KiB pieces. A piece larger than the
// stream's own buffer goes straight to the system, one call each.
inline bool FloorWrite(const std::string &path, const HostImage &r, bool flush) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    return false;
  Pieces out([f](const uint8_t *p, size_t n) { return std::fwrite(p, 1, n, f) == n; });
  const std::vector<uint8_t> start = FileStart(r);
  const size_t row = RowBytes(r);
  bool ok = out.Put(start.data(), start.size());
  if (size_t(r.BytesPerRow) == row)
    ok = ok && out.Put(RowOf(r, 0), row * r.Height);
  else
    for (uint32_t y = 0; ok && y < r.Height; ++y)
      ok = out.Put(RowOf(r, y), row);
  ok = ok && out.Finish() && (!flush || SyncToDisk(f));
  return std::fclose(f) == 0 && ok;
}

// The same bytes as a row-by-row writer would hand them over: the header,
// the colour map, then one fwrite per row.
inline bool PerRowWrite(const std::string &path, const HostImage &r) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    return false;
  const std::vector<uint8_t> start = FileStart(r);
  bool ok = std::fwrite(start.data(), 1, start.size(), f) == start.size();
  const size_t row = RowBytes(r);
  for (uint32_t y = 0; ok && y < r.Height; ++y)
    ok = std::fwrite(RowOf(r, y), 1, row, f) == row;
  return std::fclose(f) == 0 && ok;
}

struct ExportCase {
  std::string name;
  std::function<bool()> prepare, run;
};

// The cases for one record, named "export/<kind>/<path>". `second` is a
// hard link beside the file, the way to take the in-place path where
// a rename would otherwise be chosen (Linux); `link` makes it.
inline std::vector<ExportCase> ExportCases(const PluginApi &api, const ExportRecord &r, const std::string &dir,
                                           const std::function<bool(const std::string &, const std::string &)> &link,
                                           const std::function<void(const std::string &)> &remove) {
  const std::string kind = r.record.Kind == TLP_KIND_INDEXED8 ? "kind1" : "kind4";
  const std::string out = dir + "/export-" + kind + ".tga", second = dir + "/export-" + kind + "-2.tga";
  const HostImage *record = &r.record;
  auto plugin = [&api, record, out] { return api.EXPORT_WriteToFile(out.c_str(), record, nullptr) == 1; };
  auto floor = [record, out](bool flush) { return [=] { return FloorWrite(out, *record, flush); }; };
  auto perRow = [record, out] { return PerRowWrite(out, *record); };
  // Over a file of the record's own size; a larger one (80 MiB) is kept in a
  // temporary file rather than in memory.
  auto existing = [=](bool larger, bool linked) {
    return [=] {
      remove(second);
      bool ok = larger ? [&] {
        std::FILE *f = std::fopen(out.c_str(), "wb");
        return f && std::fseek(f, (80L << 20) - 1, SEEK_SET) == 0 && std::fputc(0, f) == 0 && std::fclose(f) == 0;
      }()
                       : FloorWrite(out, *record, false);
      return ok && (!linked || link(out, second));
    };
  };
  auto fresh = [=] {
    remove(second);
    remove(out);
    return true;
  };
  std::vector<ExportCase> cases = {
      {"export/" + kind + "/floor-new-256k", fresh, floor(false)},
      {"export/" + kind + "/floor-new-256k-flush", fresh, floor(true)},
      {"export/" + kind + "/floor-per-row-over-existing", existing(false, false), perRow},
      {"export/" + kind + "/plugin-over-existing", existing(false, false), plugin},
      {"export/" + kind + "/plugin-new", fresh, plugin},
      {"export/" + kind + "/plugin-over-80MiB", existing(true, false), plugin},
  };
  if (link) {
    cases.push_back({"export/" + kind + "/plugin-in-place", existing(false, true), plugin});
    cases.push_back({"export/" + kind + "/plugin-in-place-over-80MiB", existing(true, true), plugin});
  }
  return cases;
}

// Each case once a round, the order reversed every other round, so that no
// case always runs right after the same neighbour (whose dirty pages the
// system may still be writing out). The times, in ms, of the runs that
// succeeded.
inline std::vector<std::vector<double>> TimeCases(const std::vector<ExportCase> &cases, int rounds,
                                                  const std::function<double()> &nowMs) {
  std::vector<std::vector<double>> times(cases.size());
  for (int round = 0; round < rounds; ++round)
    for (size_t k = 0; k < cases.size(); ++k) {
      const size_t c = round % 2 ? cases.size() - 1 - k : k;
      if (!cases[c].prepare())
        continue;
      const double t0 = nowMs();
      const bool ok = cases[c].run();
      const double t1 = nowMs();
      if (ok)
        times[c].push_back(t1 - t0);
    }
  return times;
}

// One line per case: name, the record's side, best ms, median ms (the
// decode listing's form); false if a case never succeeded.
inline bool PrintTimes(const std::vector<ExportCase> &cases, std::vector<std::vector<double>> times, std::FILE *out,
                       const char *program) {
  bool ok = true;
  for (size_t c = 0; c < cases.size(); ++c) {
    std::vector<double> &t = times[c];
    if (t.empty()) {
      std::fprintf(stderr, "%s: %s failed\n", program, cases[c].name.c_str());
      ok = false;
      continue;
    }
    std::sort(t.begin(), t.end());
    std::fprintf(out, "%s\t4096\t%.3f\t%.3f\n", cases[c].name.c_str(), t.front(), t[t.size() / 2]);
  }
  return ok;
}

// ------------------------------------------------------------ checks
//
// A floor is only a floor if it does the same work: the checks below hold it
// to the plug-in's bytes and to its pieces. Each returns what is wrong, or
// an empty string.

// The first offset where two files differ (or their sizes), or "".
inline std::string CompareFiles(const std::string &a, const std::string &b) {
  std::FILE *fa = std::fopen(a.c_str(), "rb"), *fb = std::fopen(b.c_str(), "rb");
  std::string error;
  if (!fa || !fb)
    error = "cannot open " + (fa ? b : a);
  std::vector<uint8_t> pa(kPiece), pb(kPiece);
  for (unsigned long long at = 0; error.empty();) {
    const size_t na = std::fread(pa.data(), 1, kPiece, fa), nb = std::fread(pb.data(), 1, kPiece, fb);
    const size_t n = std::min(na, nb);
    const size_t same = size_t(std::mismatch(pa.begin(), pa.begin() + ptrdiff_t(n), pb.begin()).first - pa.begin());
    if (same < n || na != nb)
      error = b + " differs from " + a + " at byte " + std::to_string(at + same);
    if (na < kPiece)
      break;
    at += na;
  }
  if (fa)
    std::fclose(fa);
  if (fb)
    std::fclose(fb);
  return error;
}

// The plug-in's new file against each floor's, for one record.
inline std::string CheckFloorBytes(const PluginApi &api, const ExportRecord &r, const std::string &dir,
                                   const std::function<void(const std::string &)> &remove) {
  const std::string plugin = dir + "/check-plugin.tga", floor = dir + "/check-floor.tga";
  remove(plugin);
  std::string error;
  if (api.EXPORT_WriteToFile(plugin.c_str(), &r.record, nullptr) != 1)
    error = "the plug-in did not write " + plugin;
  const struct {
    const char *name;
    std::function<bool()> write;
  } floors[] = {
      {"floor-new-256k", [&] { return FloorWrite(floor, r.record, false); }},
      {"floor-new-256k-flush", [&] { return FloorWrite(floor, r.record, true); }},
      {"floor-per-row", [&] { return PerRowWrite(floor, r.record); }},
  };
  for (const auto &f : floors) {
    if (!error.empty())
      break;
    remove(floor);
    if (!f.write())
      error = std::string(f.name) + " did not write " + floor;
    else if (!(error = CompareFiles(plugin, floor)).empty())
      error = std::string(f.name) + ": " + error;
  }
  remove(plugin);
  remove(floor);
  return error;
}

// Pieces over spans of awkward lengths: the bytes come out whole and in
// order, every piece but the last is kPiece long, and a whole piece inside
// one span is that span's own memory.
inline std::string CheckPieces() {
  const struct {
    const char *name;
    std::vector<size_t> spans;
  } rows[] = {
      {"nothing", {}},
      {"one byte", {1}},
      {"a piece exactly", {kPiece}},
      {"a byte short of a piece, then the byte", {kPiece - 1, 1}},
      {"a byte, then a piece", {1, kPiece}},
      {"header, map, rows over three pieces", {18, 768, 3 * kPiece + 5}},
      {"header, rows of a whole number of pieces", {18, 4 * kPiece}},
      {"a piece and a byte, then a piece less one", {kPiece + 1, kPiece - 1, 2}},
      {"empty spans between", {5, 0, kPiece, 0, 7}},
  };
  for (const auto &row : rows) {
    std::vector<std::vector<uint8_t>> spans;
    std::vector<uint8_t> whole;
    for (size_t s = 0; s < row.spans.size(); ++s) {
      spans.emplace_back(row.spans[s]);
      for (size_t i = 0; i < row.spans[s]; ++i)
        spans.back()[i] = static_cast<uint8_t>(i * 31 + s * 7 + i / 251);
      whole.insert(whole.end(), spans.back().begin(), spans.back().end());
    }
    std::vector<uint8_t> got;
    std::vector<size_t> sizes;
    std::string error;
    Pieces out([&](const uint8_t *p, size_t n) {
      // Where this piece lies in the file, and the span holding it whole.
      size_t at = got.size(), base = 0;
      for (const std::vector<uint8_t> &s : spans) {
        if (n == kPiece && at >= base && at + n <= base + s.size() && p != s.data() + (at - base) &&
            error.empty())
          error = "a piece inside one span was copied";
        base += s.size();
      }
      got.insert(got.end(), p, p + n);
      sizes.push_back(n);
      return true;
    });
    for (const std::vector<uint8_t> &s : spans)
      out.Put(s.data(), s.size());
    out.Finish();
    if (error.empty() && got != whole)
      error = "the bytes came out changed";
    for (size_t i = 0; i < sizes.size() && error.empty(); ++i)
      if (sizes[i] == 0 || sizes[i] > kPiece || (i + 1 < sizes.size() && sizes[i] != kPiece))
        error = "piece " + std::to_string(i) + " is " + std::to_string(sizes[i]) + " bytes";
    if (error.empty() && sizes.size() != (whole.size() + kPiece - 1) / kPiece)
      error = std::to_string(sizes.size()) + " pieces";
    if (!error.empty())
      return std::string("pieces, ") + row.name + ": " + error;
  }
  return "";
}

// Every check above, both records; "" when all hold.
inline std::string CheckFloors(const PluginApi &api, const std::string &dir,
                               const std::function<void(const std::string &)> &remove) {
  std::string error = CheckPieces();
  for (int32_t kind : {TLP_KIND_FULL24, TLP_KIND_INDEXED8})
    if (error.empty())
      error = CheckFloorBytes(api, MakeExportRecord(kind), dir, remove);
  return error;
}

} // namespace bench
