// tga-host export: a Targa or PNG picture converted as the plug-in's
// conversion method asks and written by the plug-in's export, the way a host
// does it: EXPORT_BeforeTransform names the conversion, the host performs it,
// EXPORT_WriteToFile writes the result.
#include "Commands.h"
#include "Conversions.h"
#include "ExportPanel.h"
#include "Progress.h"
#if TLP_HOST_PNG
#include "Png.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

namespace {

const int kExitStopped = 130;
// The Targa header keeps each dimension in 16 bits.
const uint32_t kMaxTargaSide = 65535;

void Usage(FILE *to) {
  std::fprintf(
      to,
      "usage: tga-host export [--method N] [--keep-partial] [--stop-at-row R] IN OUT.tga\n"
      "\n"
      "Reads IN, a Targa file (through the plug-in's import) or a PNG file (alpha\n"
      "flattened onto white), converts it as the plug-in's conversion method asks\n"
      "and writes OUT.tga through the plug-in's export. The method is the one the\n"
      "plug-in has stored ('tga-host method N' stores one) unless --method chooses\n"
      "one on the plug-in's panel for this export only. A progress bar shows on a\n"
      "terminal; Ctrl-C stops the write.\n"
      "\n"
      "  --method N        use method N (0 to 5) for this export; nothing is stored\n"
      "  --keep-partial    keep the rows written before a stop (removed otherwise)\n"
      "  --stop-at-row R   stop before row R (1 = top), as Ctrl-C would\n"
      "\n"
      "methods and what this host does for them:\n");
  for (int m = 0; m < 6; ++m)
    std::fprintf(to, "  %d  host code %-2d  %s\n", m, kHostCodes[m], ConversionName(kHostCodes[m]));
  std::fprintf(to, "\nexit status: 0 written, 1 cannot read, convert or write, 2 usage, "
                   "130 stopped\n");
}

struct Options {
  int method = -1; // none: the stored one
  bool keepPartial = false;
  int32_t stopAtRow = 0;
  std::string in, out;
};

bool ParseNumber(const std::string &text, long min, long max, long *out) {
  if (text.empty() || text.size() > 9)
    return false;
  char *end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < min || v > max)
    return false;
  *out = v;
  return true;
}

// 0 when `args` were understood, else the exit status to leave with.
int ParseArgs(const Args &args, Options *o) {
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    const bool option = !optionsEnded && a.size() > 1 && a[0] == '-';
    if (!option) {
      paths.push_back(a);
      continue;
    }
    std::string name = a, value;
    const size_t eq = a.find('=');
    if (eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
    }
    const bool takesValue = name == "--method" || name == "--stop-at-row";
    if (takesValue && eq == std::string::npos) {
      if (i + 1 >= args.size()) {
        std::fprintf(stderr, "tga-host export: %s wants a value\n", name.c_str());
        return 2;
      }
      value = args[++i];
    }
    long v = 0;
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return -1;
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--keep-partial") {
      o->keepPartial = true;
    } else if (name == "--method") {
      if (!ParseNumber(value, 0, 5, &v)) {
        std::fprintf(stderr, "tga-host export: the method must be a number from 0 to 5, not '%s'\n",
                     value.c_str());
        return 2;
      }
      o->method = static_cast<int>(v);
    } else if (name == "--stop-at-row") {
      if (!ParseNumber(value, 1, 65535, &v)) {
        std::fprintf(stderr, "tga-host export: --stop-at-row wants a row from 1 to 65535, not '%s'\n",
                     value.c_str());
        return 2;
      }
      o->stopAtRow = static_cast<int32_t>(v);
    } else {
      std::fprintf(stderr, "tga-host export: unknown option '%s'\n\n", a.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (paths.size() != 2) {
    std::fprintf(stderr, "tga-host export: needs an input and an output file\n\n");
    Usage(stderr);
    return 2;
  }
  o->in = paths[0];
  o->out = paths[1];
  return 0;
}

// ---- Reading the input ---------------------------------------------------------

struct Picture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
  const char *from = "";
  RgbView View() const { return {width, height, rgb.data()}; }
};

// The first bytes of `path`; false with `error` set when it cannot be read.
bool ReadSignature(const std::string &path, unsigned char (&sig)[8], size_t *got,
                   std::string *error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *error = "cannot read '" + path + "': it is a folder";
    return false;
  }
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot read '" + path + "': " + std::strerror(errno);
    return false;
  }
  *got = std::fread(sig, 1, sizeof sig, f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  return true;
}

bool IsPng(const unsigned char (&sig)[8], size_t got) {
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return got == 8 && std::memcmp(sig, kPng, 8) == 0;
}

bool ReadInput(const PluginApi &api, const std::string &path, Picture *picture,
               std::string *error) {
  unsigned char sig[8] = {};
  size_t got = 0;
  if (!ReadSignature(path, sig, &got, error))
    return false;
  // A PNG signature is definite; the Targa header has no signature at all.
  if (IsPng(sig, got)) {
#if TLP_HOST_PNG
    RgbImage png;
    if (!ReadPng(path, &png, error)) {
      *error = "cannot read " + *error;
      return false;
    }
    picture->width = png.width;
    picture->height = png.height;
    picture->rgb = std::move(png.rgb);
    picture->from = "PNG";
    return true;
#else
    *error = "cannot read '" + path + "': this build of tga-host reads no PNG files";
    return false;
#endif
  }
  if (api.IMPORT_ValidFileCheck(path.c_str()) != 1) {
    *error = "'" + path + "' is neither a Targa file nor a PNG file";
    return false;
  }
  Imported imported(api);
  api.IMPORT_CreateImage(path.c_str(), &imported.image);
  if (!imported.image || !RgbFromRecord(*imported.image, &picture->rgb)) {
    *error = "cannot read '" + path + "' as a Targa file";
    return false;
  }
  picture->width = imported.image->Width;
  picture->height = imported.image->Height;
  picture->from = "Targa";
  return true;
}

// ---- Choosing and converting -------------------------------------------------------

// The host code the plug-in reports; -1 when it reports none.
int32_t HostCode(const PluginApi &api, int chosenMethod, std::string *error) {
  api.PLUGINCALLBACK(0);
  if (chosenMethod >= 0 && !ChooseMethodOnPanel(api, chosenMethod, error))
    return -1;
  int32_t code = -1;
  api.EXPORT_BeforeTransform(&code, 0);
  if (MethodOfCode(code) < 0) {
    *error = "the plug-in names no conversion: its stored method is outside 0 to 5; "
             "choose one with --method N, or store one with 'tga-host method N'";
    return -1;
  }
  if (chosenMethod >= 0 && code != kHostCodes[chosenMethod]) {
    *error = "the plug-in names host code " + std::to_string(code) + " after method " +
             std::to_string(chosenMethod) + " was chosen on its panel";
    return -1;
  }
  return code;
}

std::string Describe(const ConvertedImage &image) {
  switch (image.kind) {
  case TLP_KIND_INDEXED8:
    return "8-bit colour-mapped, " + std::to_string(image.palette.size()) +
           (image.palette.size() == 1 ? " colour" : " colours");
  case TLP_KIND_HIGH16:
    return "16-bit true colour";
  default:
    return "24-bit true colour";
  }
}

int Run(const PluginApi &api, const Options &o) {
  Picture picture;
  std::string error;
  if (!ReadInput(api, o.in, &picture, &error)) {
    std::fprintf(stderr, "tga-host export: %s\n", error.c_str());
    return 1;
  }
  if (picture.width > kMaxTargaSide || picture.height > kMaxTargaSide) {
    std::fprintf(stderr, "tga-host export: '%s' is %u x %u; a Targa file holds at most %u x %u\n",
                 o.in.c_str(), picture.width, picture.height, kMaxTargaSide, kMaxTargaSide);
    return 1;
  }
  const int32_t code = HostCode(api, o.method, &error);
  if (code < 0) {
    std::fprintf(stderr, "tga-host export: %s\n", error.c_str());
    return 1;
  }

  ConvertedImage converted;
  if (Convert(code, picture.View(), &converted) != ConvertStatus::Ok) {
    std::fprintf(stderr, "tga-host export: '%s' is too large to convert here\n", o.in.c_str());
    return 1;
  }
  picture.rgb = {}; // not needed while writing
  HostImage record = converted.Record();

  int32_t written;
  bool stopped;
  int32_t stoppedAt;
  {
    WriteProgress progress(record.Height, o.stopAtRow);
    written = api.EXPORT_WriteToFile(o.out.c_str(), &record, progress.Callback());
    progress.Finish(written != 0);
    stopped = progress.Stopped();
    stoppedAt = progress.StoppedAt();
  }
  if (!written) {
    // The plug-in removes a file it could not complete.
    std::fprintf(stderr, "tga-host export: cannot write '%s'\n", o.out.c_str());
    return 1;
  }
  if (stopped) {
    std::fprintf(stderr, "tga-host export: stopped before row %d of %u", stoppedAt, record.Height);
    if (o.keepPartial) {
      std::fprintf(stderr, "; '%s' keeps the rows before it\n", o.out.c_str());
    } else {
      RemovePartial(o.out);
      std::fprintf(stderr, "; '%s' removed\n", o.out.c_str());
    }
    return kExitStopped;
  }
  std::printf("%s: %u x %u, %s (from %s; method %d, host code %d: %s)\n", o.out.c_str(),
              record.Width, record.Height, Describe(converted).c_str(), picture.from,
              MethodOfCode(code), code, ConversionName(code));
  return 0;
}

} // namespace

int CmdExport(Plugin &plugin, const Args &args) {
  Options options;
  const int parsed = ParseArgs(args, &options);
  if (parsed != 0)
    return parsed < 0 ? 0 : parsed;
  try {
    return Run(plugin.Api(), options);
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  std::fprintf(stderr, "tga-host export: not enough memory for '%s'\n", options.in.c_str());
  return 1;
}
