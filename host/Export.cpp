// The two commands that write a Targa file through the plug-in's export.
// tga-host export: a Targa or PNG picture converted as the plug-in's
// conversion method asks and written by the plug-in's export, the way a host
// does it: EXPORT_BeforeTransform names the conversion, the host performs it,
// EXPORT_WriteToFile writes the result. tga-host convert: a Targa file
// imported through the plug-in and exported again.
#include "Commands.h"
#include "Conversions.h"
#include "Methods.h"
#include "Dialog.h"
#include "Progress.h"
#if TLP_HOST_PNG
#include "Png.h"
#endif

#include <cstdio>

namespace {

// What convert and export take: IN and OUT, the read limits and
// --keep-partial; export also --method N and --stop-at-row R.
struct WriteOptions {
  int method = -1; // none: the stored one
  bool keepPartial = false;
  int32_t stopAtRow = 0;
  ReadLimits limits;
  std::string in, out;
};

// -1 when `args` were understood, else the exit status to leave with: 0
// after `help` was asked for and shown, 2 after a usage error of `command`.
int ParseWriteArgs(const char *command, const Args &args, bool exporting, void (*help)(),
                   WriteOptions *o) {
  std::vector<Option> options = LimitOptions(&o->limits);
  options.push_back({"--keep-partial", "", [o](const std::string &) { return o->keepPartial = true; }});
  if (exporting) {
    options.push_back({"--method", MethodWanted(), [o](const std::string &v) { return ParseMethod(v, &o->method); }});
    options.push_back({"--stop-at-row", "a row from 1 to 65535", [o](const std::string &v) {
                         int64_t row = 0;
                         return ParseNumber(v, 1, 65535, &row) && (o->stopAtRow = static_cast<int32_t>(row)) > 0;
                       }});
  }
  std::vector<std::string> paths;
  if (const int read = ReadArgs(command, args, options, help, &paths); read >= 0)
    return read;
  if (paths.size() != 2)
    return UsageError(command, "needs an input and an output file");
  o->in = paths[0];
  o->out = paths[1];
  return -1;
}

const char kUsage[] =
    "usage: tga-host convert [--keep-partial] [--max-pixels N] [--max-missing BYTES] IN.tga OUT.tga\n"
    "\n"
    "Reads IN.tga with the plug-in's import and writes it to OUT.tga with its\n"
    "export: a colour-mapped picture stays 8-bit colour-mapped, any other\n"
    "becomes 24-bit true colour. OUT.tga is replaced only once the write has\n"
    "succeeded. A progress bar shows on a terminal; Ctrl-C stops the write.\n"
    "\n"
    "  --keep-partial  keep the rows written before a stop, as OUT.partial.tga\n"
    "  --max-pixels N  refuse pictures of more than N pixels (default 268435456)\n"
    "  --max-missing BYTES  refuse files that lack more than BYTES of the pixel\n"
    "                  data their header claims (default 67108864)\n"
    "\n"
    "exit status: 0 written, 1 cannot read or write, 2 usage, 130 stopped\n";

void Usage(FILE *to) {
  std::fprintf(
      to,
      "usage: tga-host export [--method N] [--keep-partial] [--stop-at-row R] [--max-pixels N]\n"
      "                       [--max-missing BYTES] IN OUT.tga\n"
      "\n"
      "Reads IN, a Targa file (through the plug-in's import) or a PNG file (alpha\n"
      "flattened onto white), converts it as the plug-in's conversion method asks\n"
      "and writes OUT.tga through the plug-in's export. The method is the one the\n"
      "plug-in has stored ('tga-host method N' stores one) unless --method chooses\n"
      "one on the plug-in's panel for this export only. OUT.tga is replaced only\n"
      "once the write has succeeded. A progress bar shows on a terminal; Ctrl-C\n"
      "stops the write.\n"
      "\n"
      "  --method N        use method N (0 to %d) for this export; nothing is stored\n"
      "  --keep-partial    keep the rows written before a stop, as OUT.partial.tga\n"
      "  --stop-at-row R   stop before row R (1 = top), as Ctrl-C would\n"
      "  --max-pixels N    refuse pictures of more than N pixels (default 268435456)\n"
      "  --max-missing BYTES  refuse Targa files that lack more than BYTES of the\n"
      "                    pixel data their header claims (default 67108864)\n"
      "\n"
      "methods and what this host does for them:\n",
      kMethodCount - 1);
  ListMethods(to);
  std::fprintf(to, "\nexit status: 0 written, 1 cannot read, convert or write, 2 usage, "
                   "130 stopped\n");
}

// ---- Reading the input ---------------------------------------------------------

struct Picture {
  RgbPicture rgb;
  const char *from = "";
  std::string notice; // what the user should know of the picture read
};

bool ReadInput(const PluginApi &api, const WriteOptions &o, Picture *picture, std::string *error) {
  const std::string &path = o.in;
  const InputFile input = Examine(path);
  if (!input.unreadable.empty()) {
    *error = "cannot read '" + path + "': " + input.unreadable;
    return false;
  }
  // A PNG signature is definite; the Targa header has no signature at all.
  if (input.IsPng()) {
#if TLP_HOST_PNG
    picture->from = "PNG";
    const AcceptSize accept = [&](uint32_t width, uint32_t height, std::string *message) {
      return WithinLimits(path, width, height, o.limits.maxPixels, message) &&
             PngCanHold(input, width, height, message);
    };
    Steps reading("reading '" + path + "'");
    const bool read = ReadPng(path, accept, &picture->rgb, error,
                              [&](uint64_t done, uint64_t total) { reading.Report("", done, total); });
    if (read)
      reading.Done();
    return read;
#else
    *error = "cannot read '" + path + "': this build of tga-host reads no PNG files";
    return false;
#endif
  }
  Imported imported(api);
  const ImportResult result = ImportTarga(api, input, o.limits, &imported, error, &picture->notice);
  // "'x' is not a Targa file (why)" says neither what it might have been.
  if (result == ImportResult::NotTarga) {
    const size_t isNot = ("'" + path + "' is " + targa::kNotTarga).size();
    *error = "'" + path + "' is neither a Targa file nor a PNG file" + error->substr(isNot);
  }
  if (result != ImportResult::Ok)
    return false;
  if (!RgbFromRecord(*imported.image, &picture->rgb)) {
    *error = "cannot read '" + path + "': the plug-in delivered a picture of an unknown kind";
    return false;
  }
  picture->from = "Targa";
  return true;
}

// ---- Choosing and converting -------------------------------------------------------

// The host code the plug-in reports; -1 when it reports none.
int32_t HostCode(const PluginApi &api, int chosenMethod, std::string *error) {
  api.PLUGINCALLBACK(0);
  // The panel answered for this export only: nothing is stored.
  DialogAnswer given;
  if (chosenMethod >= 0 && !AnswerDialog(api, chosenMethod, &given, error))
    return -1;
  int32_t code = -1;
  api.EXPORT_BeforeTransform(&code, 0);
  if (MethodOfCode(code) < 0) {
    *error = "the plug-in names no conversion: its stored method is outside 0 to " +
             std::to_string(kMethodCount - 1) +
             "; choose one with --method N, or store one with 'tga-host method N'";
    return -1;
  }
  if (chosenMethod >= 0 && code != kMethods[chosenMethod].hostCode) {
    *error = "the plug-in names host code " + std::to_string(code) + " after method " +
             std::to_string(chosenMethod) + " was chosen on its panel";
    return -1;
  }
  return code;
}

std::string Describe(const ConvertedImage &image) {
  if (image.kind != TLP_KIND_INDEXED8)
    return KindName(image.kind);
  return std::string(KindName(image.kind)) + ", " + std::to_string(image.palette.size()) +
         (image.palette.size() == 1 ? " colour" : " colours");
}

int Run(const PluginApi &api, const WriteOptions &o) {
  Picture picture;
  std::string error;
  Doing("read '" + o.in + "'");
  if (!ReadInput(api, o, &picture, &error))
    return Say("export", error);
  if (!picture.notice.empty())
    Say("export", picture.notice);
  const int32_t code = HostCode(api, o.method, &error);
  if (code < 0)
    return Say("export", error);

  Doing("convert '" + o.in + "'");
  ConvertedImage converted;
  Steps converting("converting: ");
  const ConvertProgress progress = [&](const char *step, uint64_t done, uint64_t total) {
    converting.Report(step, done, total);
  };
  if (Convert(code, picture.rgb.View(), &converted, progress) != ConvertStatus::Ok)
    return Say("export", "'" + o.in + "' is too large to convert here");
  converting.Done();
  picture.rgb = {}; // not needed while writing
  HostImage record = converted.Record();

  Doing("write '" + o.out + "'");
  const int status = WriteWithProgress(api, record, {"export", o.out, o.keepPartial, o.stopAtRow});
  if (status == 0)
    std::printf("%s: %u x %u, %s (from %s; method %d, host code %d: %s)\n", o.out.c_str(),
                record.Width, record.Height, Describe(converted).c_str(), picture.from,
                MethodOfCode(code), code, kMethods[MethodOfCode(code)].conversion);
  return status;
}

} // namespace

int CmdExport(Plugin &plugin, const Args &args) {
  WriteOptions options;
  if (const int status = ParseWriteArgs("export", args, true, [] { Usage(stdout); }, &options); status >= 0)
    return status;
  return Run(plugin.Api(), options);
}

int CmdConvert(Plugin &plugin, const Args &args) {
  WriteOptions o;
  if (const int status = ParseWriteArgs("convert", args, false, [] { std::fputs(kUsage, stdout); }, &o);
      status >= 0)
    return status;
  const PluginApi &api = plugin.Api();
  Imported imported(api);
  Doing("read '" + o.in + "'");
  if (!ReadTarga("convert", api, o.in, o.limits, &imported))
    return 1;
  const HostImage &image = *imported.image;
  Doing("write '" + o.out + "'");
  const int status = WriteWithProgress(api, image, {"convert", o.out, o.keepPartial, 0});
  if (status == 0)
    std::printf("%s: %u x %u, %s\n", o.out.c_str(), image.Width, image.Height,
                KindName(image.Kind));
  return status;
}
