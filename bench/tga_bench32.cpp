// The 32-bit Windows build's decode times, run under Wine by
// scripts/bench.sh: the plug-in's IMPORT_CreateImage and
// IMPORT_CreatePreviewImage (256 × 256 box), loaded as a host loads it and
// called through its exports, against stb_image built into this program with
// the product's compiler and flags, from the file and from memory, and the
// floor of any decode into a new block: the block written once from start to
// end while the file is read through a reused 256 KiB buffer (and each of
// the two alone); and the floor of a preview of an uncompressed file: the
// stored bytes of its delivered rows, one positioned read per row (the
// fewest calls that read no more than those rows), beside the same spans
// read a band of rows per call; then the export cases of bench/
// ExportCases.h, with the first plug-in. Google Benchmark does not build for
// this target; the timing loop is this file's own.
//
//   tga_bench32 [--rounds N] [--plugin PATH]... [--out FILE]
//   tga_bench32 --exports [--rounds N] [--plugin PATH] [--out FILE]
//   tga_bench32 --check [--plugin PATH]
//
// --exports: the export cases alone (no decode inputs are made).
// --check: no timing; whether the export floors write the plug-in's bytes,
// in whole 256 KiB pieces (exit status 1 and the difference if not).
//
// Every call gets a new block from the C heap, as a host's call does. The
// measurements take turns within each round (the order reversed every other
// round), so that noise from the rest of the machine falls on all of them
// alike; each figure is the best of the rounds. With several --plugin
// libraries (each a copy under its own file name) they are timed side by
// side in the same rounds. Output lines: measure, case, best ms, median ms.
#include "BenchInputs.h"
#include "ExportCases.h"
#include "PluginLoader.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#include <stb_image.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using bench::Bytes;
using bench::Input;

const size_t kPiece = size_t(256) << 10;

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Keeps the compiler from dropping work whose result is otherwise unused.
volatile uint8_t g_sink;

Bytes Slurp(const std::string &path) {
  Bytes b;
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return b;
  uint8_t piece[1 << 16];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, f)) > 0;)
    b.insert(b.end(), piece, piece + n);
  std::fclose(f);
  return b;
}

// The file through a reused buffer of kPiece bytes; with `block`, after each
// piece the block's matching share is written, so that the block is written
// once from start to end as the file goes by.
bool ReadThrough(const Input &in, uint8_t *buffer, uint8_t *block) {
  HANDLE h = CreateFileA(in.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  LARGE_INTEGER size;
  GetFileSizeEx(h, &size);
  const uint64_t total = static_cast<uint64_t>(size.QuadPart);
  uint64_t got = 0;
  size_t written = 0;
  for (DWORD n = 0; ReadFile(h, buffer, static_cast<DWORD>(kPiece), &n, nullptr) && n > 0;) {
    got += n;
    if (block) {
      size_t upTo = static_cast<size_t>(in.outputBytes * got / total);
      std::memset(block + written, buffer[0], upTo - written);
      written = upTo;
    }
  }
  CloseHandle(h);
  if (block && written < in.outputBytes)
    std::memset(block + written, 0x55, in.outputBytes - written);
  g_sink = buffer[0];
  return got == total;
}

// The rows a preview in a `box` × `box` box delivers from an uncompressed
// file, as stored: the first at `first`, one every `stride` bytes, `span`
// bytes each (from the first delivered pixel to the last). False for
// run-length files, whose preview must walk every packet.
struct PreviewRows {
  uint64_t first = 0, stride = 0;
  uint32_t span = 0, rows = 0;
};
bool PreviewRowsOf(const Bytes &file, int32_t box, PreviewRows *out) {
  if (file.size() < targa::kHeaderSize)
    return false;
  const targa::TTargaHeader h = targa::TTargaHeader::Parse(file.data());
  if (h.RunLength())
    return false;
  const uint32_t w = h.ImageWidth, ht = h.ImageHeight, px = static_cast<uint32_t>(h.PixelBytes());
  uint32_t step = 1;
  while (w / step >= static_cast<uint32_t>(box) || ht / step >= static_cast<uint32_t>(box))
    step *= 2;
  step = std::max<uint32_t>(1, step / 2);
  const uint32_t outW = (w + step - 1) / step;
  out->first = targa::kHeaderSize + h.IdLength + uint64_t(h.ColorMapLen) * 3;
  out->stride = uint64_t(step) * w * px;
  out->span = ((outW - 1) * step + 1) * px;
  out->rows = (ht + step - 1) / step;
  return true;
}

// The preview's rows, `perCall` of them per read (the gaps between them
// read too when more than one); the file is opened and closed as the
// plug-in opens and closes it.
bool ReadRows(const Input &in, const PreviewRows &rows, uint32_t perCall, std::vector<uint8_t> &buffer) {
  HANDLE h = CreateFileA(in.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return false;
  bool ok = true;
  for (uint32_t r = 0; r < rows.rows && ok; r += perCall) {
    const uint32_t n = std::min(perCall, rows.rows - r);
    const size_t bytes = static_cast<size_t>((n - 1) * rows.stride + rows.span);
    if (buffer.size() < bytes)
      buffer.resize(bytes);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(rows.first + r * rows.stride);
    DWORD got = 0;
    ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
         ReadFile(h, buffer.data(), static_cast<DWORD>(bytes), &got, nullptr) && got == bytes;
  }
  CloseHandle(h);
  g_sink = buffer[0];
  return ok;
}

struct Measure {
  std::string name;
  std::function<bool(const Input &)> run; // false: the call failed
  std::function<bool(const Input &)> applies = nullptr; // not timed where false
};

std::string BaseName(const std::string &path) {
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// The export over an existing file on every path the DLL takes under Wine,
// beside the floors (bench/ExportCases.h), taking turns within each round;
// lines as the decode measures print them, the case being the record.
bool TimeExports(const PluginApi &api, const std::string &dir, int rounds, FILE *out) {
  const bench::ExportRecord records[] = {bench::MakeExportRecord(TLP_KIND_FULL24),
                                         bench::MakeExportRecord(TLP_KIND_INDEXED8)};
  std::vector<bench::ExportCase> cases;
  for (const bench::ExportRecord &r : records) {
    auto more = bench::ExportCases(api, r, dir, nullptr, [](const std::string &path) { DeleteFileA(path.c_str()); });
    cases.insert(cases.end(), more.begin(), more.end());
  }
  const bool ok = bench::PrintTimes(cases, bench::TimeCases(cases, rounds, Now), out, "tga_bench32");
  DeleteFileA((dir + "/export-kind4.tga").c_str());
  DeleteFileA((dir + "/export-kind1.tga").c_str());
  return ok;
}

struct Options {
  int rounds = 7;
  std::vector<std::string> paths; // the plug-ins to time side by side
  const char *outPath = nullptr;  // stdout when none
  bool exportsOnly = false;       // the export cases alone, no decode inputs
  bool check = false;             // the floors' checks instead of timing
};

bool ParseOptions(int argc, char **argv, Options *o) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
      o->rounds = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
      o->paths.push_back(argv[++i]);
    else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
      o->outPath = argv[++i];
    else if (std::strcmp(argv[i], "--exports") == 0)
      o->exportsOnly = true;
    else if (std::strcmp(argv[i], "--check") == 0)
      o->check = true;
    else {
      std::fprintf(stderr, "usage: tga_bench32 [--exports | --check] [--rounds N] [--plugin PATH]... [--out FILE]\n");
      return false;
    }
  }
  if (o->paths.empty())
    o->paths.push_back(DefaultPluginPath());
  return true;
}

bool LoadPlugins(const std::vector<std::string> &paths, std::vector<std::unique_ptr<Plugin>> *plugins) {
  for (const std::string &p : paths) {
    plugins->push_back(std::make_unique<Plugin>());
    std::string error;
    if (!plugins->back()->Load(p, &error)) {
      std::fprintf(stderr, "tga_bench32: %s\n", error.c_str());
      return false;
    }
  }
  return true;
}

// The inputs, their bytes, and every measure over them; the measures refer
// to the rest, so all of it lives as long as the run.
struct Bench {
  std::string dir;
  std::vector<Input> inputs;
  std::vector<Bytes> files;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kPiece);
  std::vector<uint8_t> rowBuffer;
  std::vector<Measure> measures;

  const Bytes &FileOf(const Input &in) const { return files[static_cast<size_t>(&in - inputs.data())]; }
};

void MakeDir(Bench &b) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  b.dir = std::string(temp) + "tlp-bench32-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(b.dir.c_str(), nullptr);
}

void MakeInputs(Bench &b) {
  bench::MakeInputs(4096, 4096, "4096", b.dir, &b.inputs);
  for (const Input &in : b.inputs)
    b.files.push_back(Slurp(in.path));
}

void AddPluginMeasures(Bench &b, const std::vector<std::unique_ptr<Plugin>> &plugins,
                       const std::vector<std::string> &paths) {
  for (size_t p = 0; p < plugins.size(); ++p) {
    const PluginApi &api = plugins[p]->Api();
    std::string label = plugins.size() > 1 ? ":" + BaseName(paths[p]) : "";
    for (int32_t box : {0, 256})
      b.measures.push_back({(box ? "preview256/plugin" : "decode/plugin") + label, [&api, box](const Input &in) {
                              HostImage *image = nullptr;
                              if (box)
                                api.IMPORT_CreatePreviewImage(in.path.c_str(), box, box, &image);
                              else
                                api.IMPORT_CreateImage(in.path.c_str(), &image);
                              if (!image)
                                return false;
                              g_sink = static_cast<const uint8_t *>(image->Pixels)[0];
                              api.IMPORT_FreeImage(image);
                              std::free(image);
                              return true;
                            }});
  }
}

// An stb_image decode's outcome: its first byte kept where the optimiser
// must leave it, and its block freed.
bool KeepStb(stbi_uc *px) {
  if (!px)
    return false;
  g_sink = px[0];
  stbi_image_free(px);
  return true;
}

// stb_image, and the floors of a decode and of a preview's reads.
void AddOtherMeasures(Bench &b) {
  b.measures.push_back({"decode/stb-file", [](const Input &in) {
                          int w, h, n;
                          return KeepStb(stbi_load(in.path.c_str(), &w, &h, &n, 3));
                        }});
  b.measures.push_back({"decode/stb-memory", [&b](const Input &in) {
                          const Bytes &file = b.FileOf(in);
                          int w, h, n;
                          return KeepStb(stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 3));
                        }});
  b.measures.push_back({"floor", [&b](const Input &in) {
                          auto *block = static_cast<uint8_t *>(std::malloc(in.outputBytes));
                          bool ok = block && ReadThrough(in, b.buffer.data(), block);
                          if (block)
                            g_sink = block[in.outputBytes - 1];
                          std::free(block);
                          return ok;
                        }});
  b.measures.push_back({"touch", [](const Input &in) {
                          auto *block = static_cast<uint8_t *>(std::malloc(in.outputBytes));
                          if (!block)
                            return false;
                          std::memset(block, 0x55, in.outputBytes);
                          g_sink = block[in.outputBytes - 1];
                          std::free(block);
                          return true;
                        }});
  b.measures.push_back({"read", [&b](const Input &in) { return ReadThrough(in, b.buffer.data(), nullptr); }});
  for (uint32_t perCall : {1u, 16u})
    b.measures.push_back({perCall == 1 ? "preview-rows/one-per-read" : "preview-rows/16-per-read",
                          [&b, perCall](const Input &in) {
                            PreviewRows rows;
                            PreviewRowsOf(b.FileOf(in), 256, &rows);
                            return ReadRows(in, rows, perCall, b.rowBuffer);
                          },
                          [&b](const Input &in) {
                            PreviewRows rows;
                            return PreviewRowsOf(b.FileOf(in), 256, &rows);
                          }});
}

// times[measure][input] over the rounds; false when a call failed (the
// rounds stop there).
using Times = std::vector<std::vector<std::vector<double>>>;
bool RunRounds(const Bench &b, int rounds, Times *times) {
  times->assign(b.measures.size(), std::vector<std::vector<double>>(b.inputs.size()));
  for (int r = 0; r < rounds; ++r)
    for (size_t i = 0; i < b.inputs.size(); ++i)
      for (size_t k = 0; k < b.measures.size(); ++k) {
        size_t m = r % 2 ? b.measures.size() - 1 - k : k;
        if (b.measures[m].applies && !b.measures[m].applies(b.inputs[i]))
          continue;
        double t0 = Now();
        bool ok = b.measures[m].run(b.inputs[i]);
        double t1 = Now();
        if (!ok) {
          std::fprintf(stderr, "tga_bench32: %s failed on %s\n", b.measures[m].name.c_str(),
                       b.inputs[i].name.c_str());
          return false;
        }
        (*times)[m][i].push_back(t1 - t0);
      }
  return true;
}

void Report(const Bench &b, const Times &times, FILE *out) {
  for (size_t m = 0; m < b.measures.size(); ++m)
    for (size_t i = 0; i < b.inputs.size(); ++i) {
      std::vector<double> t = times[m][i];
      if (t.empty())
        continue;
      std::sort(t.begin(), t.end());
      std::fprintf(out, "%s\t%s\t%.3f\t%.3f\n", b.measures[m].name.c_str(), b.inputs[i].name.c_str(), t.front(),
                   t[t.size() / 2]);
    }
}

} // namespace

int main(int argc, char **argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o))
    return 2;
  std::vector<std::unique_ptr<Plugin>> plugins;
  if (!LoadPlugins(o.paths, &plugins))
    return 1;
  Bench b;
  MakeDir(b);
  if (o.check) {
    const std::string error =
        bench::CheckFloors(plugins.front()->Api(), b.dir, [](const std::string &path) { DeleteFileA(path.c_str()); });
    RemoveDirectoryA(b.dir.c_str());
    if (!error.empty()) {
      std::fprintf(stderr, "tga_bench32: %s\n", error.c_str());
      return 1;
    }
    std::printf("tga_bench32: the floors write the plug-in's bytes\n");
    return 0;
  }
  Times times;
  int rc = 0;
  if (!o.exportsOnly) {
    MakeInputs(b);
    AddPluginMeasures(b, plugins, o.paths);
    AddOtherMeasures(b);
    rc = RunRounds(b, o.rounds, &times) ? 0 : 1;
  }
  FILE *out = o.outPath ? std::fopen(o.outPath, "w") : stdout;
  if (!out) {
    std::fprintf(stderr, "tga_bench32: cannot write %s\n", o.outPath);
    rc = 1;
  } else {
    if (!o.exportsOnly)
      Report(b, times, out);
    if (!TimeExports(plugins.front()->Api(), b.dir, o.rounds, out))
      rc = 1;
    if (out != stdout)
      std::fclose(out);
  }
  for (const Input &in : b.inputs)
    DeleteFileA(in.path.c_str());
  RemoveDirectoryA(b.dir.c_str());
  return rc;
}
