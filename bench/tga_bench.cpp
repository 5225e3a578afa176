// Decode and encode times of the plug-in, through its exports as a host calls
// them, against stb_image / stb_image_write on the same files, and the time
// to read() each file. Inputs are generated here, once per run.
//
//   tga_bench [--warm] [--peak] [--plugin PATH] [benchmark flags]
//   tga_bench --exports [--rounds N] [--plugin PATH] [--out FILE]
//   tga_bench --check [--plugin PATH]
//
// --warm: freed blocks are kept by the C heap and handed out again, so every
// decode writes into memory that is already touched (decode work only).
// Without it large blocks come fresh from the system each call, as in a host.
// --peak: instead of timing, print the peak memory of one decode per case,
// each in a child process of its own, and the bytes a 256 × 256 preview
// reads from the file, counted by the decoder's file source.
// --plugin: this library instead of the Targa.tlp beside the program.
// --exports: the export cases alone, timed by the 32-bit driver's loop and
// listed as it lists them (best and median of N rounds, 7 unless given), so
// that the two builds' lines compare as they are; no decode inputs are made.
// --check: no timing; whether the export floors write the plug-in's bytes,
// in whole 256 KiB pieces (exit status 1 and the difference if not).
#include "BenchInputs.h"
#include "ExportCases.h"
#include "Dtarga.h"
#include "PluginLoader.h"

#include <benchmark/benchmark.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::Bytes;
using bench::Input;
using bench::Picture;

Plugin g_plugin;
std::string g_pluginPath;
std::string g_dir;
std::vector<Input> g_inputs;

// ------------------------------------------------------------ decoding

void PluginDecode(benchmark::State &state, const Input *in, int32_t box) {
  const PluginApi &api = g_plugin.Api();
  size_t out = 0;
  for (auto _ : state) {
    HostImage *image = nullptr;
    if (box)
      api.IMPORT_CreatePreviewImage(in->path.c_str(), box, box, &image);
    else
      api.IMPORT_CreateImage(in->path.c_str(), &image);
    if (!image) {
      state.SkipWithError("the plug-in did not read the file");
      return;
    }
    out = static_cast<size_t>(image->BytesPerRow) * image->Height;
    benchmark::DoNotOptimize(image->Pixels);
    api.IMPORT_FreeImage(image);
    std::free(image);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out));
}

void StbDecode(benchmark::State &state, const Input *in) {
  for (auto _ : state) {
    int w, h, n;
    stbi_uc *px = stbi_load(in->path.c_str(), &w, &h, &n, 3);
    if (!px) {
      state.SkipWithError(stbi_failure_reason());
      return;
    }
    benchmark::DoNotOptimize(px);
    stbi_image_free(px);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * static_cast<size_t>(in->width) * in->height * 3));
}

void ReadFile(benchmark::State &state, const Input *in) {
  size_t size = std::filesystem::file_size(in->path);
  Bytes buf(size);
  for (auto _ : state) {
    int fd = open(in->path.c_str(), O_RDONLY);
    size_t got = 0;
    while (got < size) {
      ssize_t n = read(fd, buf.data() + got, size - got);
      if (n <= 0)
        break;
      got += static_cast<size_t>(n);
    }
    close(fd);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->outputBytes));
}

// The floor of any decode into a new block: allocate it, touch every byte.
void TouchBlock(benchmark::State &state, const Input *in) {
  for (auto _ : state) {
    auto *p = static_cast<uint8_t *>(std::malloc(in->outputBytes));
    std::memset(p, 0x55, in->outputBytes);
    benchmark::DoNotOptimize(p);
    benchmark::ClobberMemory();
    std::free(p);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->outputBytes));
}

// ------------------------------------------------------------ encoding

struct Image {
  Bytes pixels;
  HostImage record;
};

Image MakeImage(int w, int h) {
  Image im;
  im.pixels = Picture(w, h, false);
  im.record = HostImage{TLP_KIND_FULL24, im.pixels.data(), 3 * w, static_cast<uint32_t>(w),
                        static_cast<uint32_t>(h), nullptr, 0};
  return im;
}

void PluginEncode(benchmark::State &state, int w, int h) {
  Image im = MakeImage(w, h);
  std::string path = g_dir + "/out-plugin.tga";
  for (auto _ : state)
    if (g_plugin.Api().EXPORT_WriteToFile(path.c_str(), &im.record, nullptr) != 1)
      state.SkipWithError("write failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * im.pixels.size()));
}

void StbEncode(benchmark::State &state, int w, int h) {
  Image im = MakeImage(w, h);
  // stb takes red, green, blue; the order does not change its work.
  std::string path = g_dir + "/out-stb.tga";
  stbi_write_tga_with_rle = 0;
  for (auto _ : state)
    if (!stbi_write_tga(path.c_str(), w, h, 3, im.pixels.data()))
      state.SkipWithError("write failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * im.pixels.size()));
}

// ------------------------------------------------------------ peak memory

// High-water mark of this process's resident memory (per address space, so
// a fresh exec starts low, unlike getrusage's figure).
long MaxRssKb() {
  FILE *f = std::fopen("/proc/self/status", "r");
  long kb = -1;
  char line[256];
  while (f && std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1)
      break;
  if (f)
    std::fclose(f);
  return kb;
}

// Peak resident memory added by one decode, in a fresh process: this program
// again, with --peak-one, so that nothing of this process's memory counts.
long PeakKb(const char *self, const char *decoder, const std::string &path) {
  int fds[2];
  if (pipe(fds) != 0)
    return -1;
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    execl(self, self, "--peak-one", decoder, path.c_str(), g_pluginPath.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[64] = {0};
  ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return n > 0 ? std::atol(buf) : -1;
}

int PeakOne(const char *decoder, const char *path) {
  long before = MaxRssKb();
  if (std::strcmp(decoder, "plugin") == 0) {
    HostImage *image = nullptr;
    g_plugin.Api().IMPORT_CreateImage(path, &image);
    if (image) {
      g_plugin.Api().IMPORT_FreeImage(image);
      std::free(image);
    }
  } else {
    int w, h, n;
    stbi_image_free(stbi_load(path, &w, &h, &n, 3));
  }
  std::printf("%ld\n", MaxRssKb() - before);
  return 0;
}

// Bytes a 256 × 256 preview takes from the file, counted by the decoder's
// file source (read, or read and dropped where it cannot seek).
uint64_t PreviewBytesRead(const std::string &path) {
  TFileSource file;
  if (!file.Open(path))
    return 0;
  TTargaDecoder d;
  d.Preview = true;
  d.PreviewMaxWidth = 256;
  d.PreviewMaxHeight = 256;
  d.Decode(file);
  std::free(d.TakePixels());
  std::free(d.TakePalette());
  return file.BytesRead();
}

void PrintPeaks(const char *self) {
  std::printf("%-28s %12s %12s %12s %12s %16s\n", "case", "output KiB", "plugin KiB", "stb KiB", "file KiB",
              "preview read KiB");
  for (const Input &in : g_inputs)
    std::printf("%-28s %12zu %12ld %12ld %12zu %16llu\n", in.name.c_str(), in.outputBytes / 1024,
                PeakKb(self, "plugin", in.path), PeakKb(self, "stb", in.path),
                static_cast<size_t>(std::filesystem::file_size(in.path)) / 1024,
                static_cast<unsigned long long>(PreviewBytesRead(in.path) / 1024));
}

bool HardLink(const std::string &from, const std::string &to) { return link(from.c_str(), to.c_str()) == 0; }
void Remove(const std::string &path) { unlink(path.c_str()); }

std::vector<bench::ExportCase> MakeExportCases(std::vector<bench::ExportRecord> &records) {
  records.push_back(bench::MakeExportRecord(TLP_KIND_FULL24));
  records.push_back(bench::MakeExportRecord(TLP_KIND_INDEXED8));
  std::vector<bench::ExportCase> cases;
  for (const bench::ExportRecord &r : records) {
    auto more = bench::ExportCases(g_plugin.Api(), r, g_dir, HardLink, Remove);
    cases.insert(cases.end(), more.begin(), more.end());
  }
  return cases;
}

// The export over an existing file on every path, beside the floors
// (bench/ExportCases.h); the file is set up with the timer paused.
void RegisterExports() {
  static std::vector<bench::ExportRecord> records;
  static std::vector<bench::ExportCase> cases = MakeExportCases(records);
  for (const bench::ExportCase &c : cases)
    benchmark::RegisterBenchmark(c.name.c_str(), [&c](benchmark::State &state) {
      for (auto _ : state) {
        state.PauseTiming();
        const bool ready = c.prepare();
        state.ResumeTiming();
        if (!ready || !c.run())
          state.SkipWithError("export failed");
      }
    })->Unit(benchmark::kMillisecond)->UseRealTime();
}

double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The export cases alone, in the 32-bit driver's loop and listing.
bool TimeExports(int rounds, FILE *out) {
  std::vector<bench::ExportRecord> records;
  const std::vector<bench::ExportCase> cases = MakeExportCases(records);
  return bench::PrintTimes(cases, bench::TimeCases(cases, rounds, NowMs), out, "tga_bench");
}

} // namespace

int main(int argc, char **argv) {
  bool warm = false, peak = false, exportsOnly = false, check = false;
  int rounds = 7;
  const char *outPath = nullptr;
  g_pluginPath = DefaultPluginPath();
  std::vector<char *> rest{argv[0]};
  if (argc == 5 && std::strcmp(argv[1], "--peak-one") == 0) {
    g_pluginPath = argv[4];
  } else {
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--warm") == 0)
        warm = true;
      else if (std::strcmp(argv[i], "--peak") == 0)
        peak = true;
      else if (std::strcmp(argv[i], "--exports") == 0)
        exportsOnly = true;
      else if (std::strcmp(argv[i], "--check") == 0)
        check = true;
      else if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
        g_pluginPath = argv[++i];
      else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
        rounds = std::max(1, std::atoi(argv[++i]));
      else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc)
        outPath = argv[++i];
      else
        rest.push_back(argv[i]);
    }
  }
  if (warm) {
    // Keep freed blocks in the heap (no block of its own from the system, no
    // trimming): the next decode reuses memory that is already touched.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
  }
  std::string error;
  if (!g_plugin.Load(g_pluginPath, &error)) {
    std::fprintf(stderr, "tga_bench: %s\n", error.c_str());
    return 1;
  }
  if (argc == 5 && std::strcmp(argv[1], "--peak-one") == 0)
    return PeakOne(argv[2], argv[3]);
  g_dir = (std::filesystem::temp_directory_path() / ("tlp-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(g_dir);

  int rc = 0;
  if (check) {
    error = bench::CheckFloors(g_plugin.Api(), g_dir, Remove);
    if (error.empty())
      std::printf("tga_bench: the floors write the plug-in's bytes\n");
    else
      std::fprintf(stderr, "tga_bench: %s\n", error.c_str());
    rc = error.empty() ? 0 : 1;
  } else if (exportsOnly) {
    FILE *out = outPath ? std::fopen(outPath, "w") : stdout;
    if (!out) {
      std::fprintf(stderr, "tga_bench: cannot write %s\n", outPath);
      rc = 1;
    } else {
      rc = TimeExports(rounds, out) ? 0 : 1;
      if (out != stdout)
        std::fclose(out);
    }
  } else {
    bench::MakeInputs(4096, 4096, "4096", g_dir, &g_inputs);
    bench::MakeInputs(64, 64, "64", g_dir, &g_inputs);
    if (peak) {
      PrintPeaks("/proc/self/exe");
    } else {
      for (const Input &in : g_inputs) {
        benchmark::RegisterBenchmark(("decode/plugin/" + in.name).c_str(), PluginDecode, &in, 0)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decode/stb/" + in.name).c_str(), StbDecode, &in)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("read/" + in.name).c_str(), ReadFile, &in)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("touch/" + in.name).c_str(), TouchBlock, &in)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("preview256/plugin/" + in.name).c_str(), PluginDecode, &in, 256)->Unit(benchmark::kMillisecond);
      }
      for (int size : {4096, 64}) {
        std::string s = std::to_string(size);
        benchmark::RegisterBenchmark(("encode/plugin/24/" + s).c_str(), PluginEncode, size, size)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("encode/stb/24/" + s).c_str(), StbEncode, size, size)->Unit(benchmark::kMillisecond);
      }
      RegisterExports();
      int n = static_cast<int>(rest.size());
      benchmark::Initialize(&n, rest.data());
      benchmark::RunSpecifiedBenchmarks();
      benchmark::Shutdown();
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  return rc;
}
