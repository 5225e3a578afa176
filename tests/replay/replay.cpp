// Replays a list of files through the plug-in's import exports, loaded by
// path as a host loads it, and prints one line of digests per file: the file
// check, the information text, the full image and two previews. The Linux
// library and the 32-bit DLL under Wine must print the same lines.
//
//   tlp_replay LIST [PLUGIN]
//
// LIST holds one file name a line, relative to the working folder, so that
// the names printed are the same on both systems. PLUGIN defaults to the
// Targa.tlp beside the program.
#include "PluginLoader.h"
#include "TargaHeader.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

// The file being replayed, for the report of a crash: under Wine an
// unhandled fault would otherwise wait for a debugger.
std::string current;

#if defined(_WIN32)
LONG WINAPI OnCrash(EXCEPTION_POINTERS *e) {
  std::fprintf(stderr, "tlp_replay: exception %08lx on %s\n", e->ExceptionRecord->ExceptionCode, current.c_str());
  std::fflush(stderr);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}
void CatchCrashes() { SetUnhandledExceptionFilter(OnCrash); }
#else
void OnCrash(int signal) {
  const char head[] = "tlp_replay: signal on ";
  (void)!write(2, head, sizeof head - 1);
  (void)!write(2, current.data(), current.size());
  (void)!write(2, "\n", 1);
  _exit(128 + signal);
}
void CatchCrashes() {
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    std::signal(s, OnCrash);
}
#endif

// A full image whose block would pass this is compared by its previews only:
// the import of a huge claimed size costs seconds and, in a 32-bit process,
// may meet the end of the address space where the 64-bit one does not.
constexpr uint64_t kFullImageLimit = uint64_t(256) << 20;

struct Digest {
  uint64_t h = 14695981039346656037ull; // 64-bit FNV-1a
  void Add(const void *data, size_t size) {
    const auto *p = static_cast<const uint8_t *>(data);
    for (size_t i = 0; i < size; ++i)
      h = (h ^ p[i]) * 1099511628211ull;
  }
  void Add32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    Add(b, 4);
  }
};

Digest info_digest;
int info_calls = 0;

int32_t TLP_CALL OnInfo(const char *text) {
  ++info_calls;
  info_digest.Add(text, std::strlen(text) + 1);
  return 0;
}

// What the record holds, as its fields say: kind, row pitch, size, every
// row's pixels and the palette's entries.
std::string RecordDigest(const HostImage *image) {
  if (!image)
    return "null";
  Digest d;
  d.Add32(uint32_t(image->Kind));
  d.Add32(uint32_t(image->BytesPerRow));
  d.Add32(image->Width);
  d.Add32(image->Height);
  d.Add32(image->PaletteCount);
  const uint64_t pixel_bytes = image->Kind == TLP_KIND_FULL24 ? 3 : image->Kind == TLP_KIND_HIGH16 ? 2 : 1;
  const uint64_t row = image->Width * pixel_bytes;
  if (image->Pixels) {
    for (uint32_t r = 0; r < image->Height; ++r)
      d.Add(image->Pixels + int64_t(r) * image->BytesPerRow, size_t(row));
  } else {
    d.Add("no pixels", 9);
  }
  if (image->Palette)
    d.Add(image->Palette, size_t(image->PaletteCount) * 4);
  else
    d.Add("no palette", 10);
  char text[64];
  std::snprintf(text, sizeof text, "%" PRIu32 "x%" PRIu32 ":%016" PRIx64, image->Width, image->Height, d.h);
  return text;
}

// The block the full import would ask for, from the header alone: one byte
// a pixel for colour-mapped files, three for the rest.
bool FullImageTooLarge(const std::string &path) {
  uint8_t bytes[targa::kHeaderSize];
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return false;
  const size_t got = std::fread(bytes, 1, sizeof bytes, f);
  std::fclose(f);
  if (got < sizeof bytes)
    return false;
  const targa::TTargaHeader header = targa::TTargaHeader::Parse(bytes);
  const uint64_t pixel = header.BaseType() == targa::kColorMapped ? 1 : 3;
  return uint64_t(header.ImageWidth) * header.ImageHeight * pixel > kFullImageLimit;
}

std::string FullImage(const PluginApi &api, const std::string &path) {
  if (FullImageTooLarge(path))
    return "large";
  Imported image(api);
  api.IMPORT_CreateImage(path.c_str(), &image.image);
  return RecordDigest(image.image);
}

std::string Preview(const PluginApi &api, const std::string &path, int32_t w, int32_t h) {
  Imported image(api);
  api.IMPORT_CreatePreviewImage(path.c_str(), w, h, &image.image);
  return RecordDigest(image.image);
}

std::string Line(const PluginApi &api, const std::string &path) {
  const int32_t check = api.IMPORT_ValidFileCheck(path.c_str());
  info_digest = Digest();
  info_calls = 0;
  api.IMPORT_ImageInformation(path.c_str(), OnInfo);
  // A small fixed box, and one of the name's own: boxes of every shape
  // across the corpus.
  Digest name;
  name.Add(path.data(), path.size());
  const int32_t bw = int32_t(name.h % 300) + 1, bh = int32_t((name.h >> 32) % 300) + 1;
  char head[96];
  std::snprintf(head, sizeof head, " check=%d info=%d:%016" PRIx64, check, info_calls, info_digest.h);
  return path + head + " full=" + FullImage(api, path) + " box32=" + Preview(api, path, 32, 32) + " box" +
         std::to_string(bw) + "x" + std::to_string(bh) + "=" + Preview(api, path, bw, bh);
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: tlp_replay LIST [PLUGIN]\n");
    return 2;
  }
  std::ifstream list(argv[1]);
  if (!list) {
    std::fprintf(stderr, "tlp_replay: cannot read the list %s\n", argv[1]);
    return 1;
  }
  Plugin plugin;
  std::string error;
  if (!plugin.Load(argc == 3 ? argv[2] : DefaultPluginPath(), &error)) {
    std::fprintf(stderr, "tlp_replay: %s\n", error.c_str());
    return 1;
  }
  CatchCrashes();
  size_t count = 0;
  for (std::string path; std::getline(list, path);) {
    if (!path.empty() && path.back() == '\r')
      path.pop_back();
    if (path.empty())
      continue;
    current = path;
    // One line at a time: after a crash the output ends at the file before.
    std::printf("%s\n", Line(plugin.Api(), path).c_str());
    std::fflush(stdout);
    ++count;
  }
  std::fprintf(stderr, "tlp_replay: %zu files\n", count);
  return 0;
}
