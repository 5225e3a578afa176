// tga-host convert: imports a Targa file through the plug-in and exports it
// again, with a progress bar and Ctrl-C to stop the write.
#include "Commands.h"
#include "Progress.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kUsage[] =
    "usage: tga-host convert [--keep-partial] IN.tga OUT.tga\n"
    "\n"
    "Reads IN.tga with the plug-in's import and writes it to OUT.tga with its\n"
    "export: a colour-mapped picture stays 8-bit colour-mapped, any other\n"
    "becomes 24-bit true colour. A progress bar shows on a terminal; Ctrl-C\n"
    "stops the write.\n"
    "\n"
    "  --keep-partial  keep the rows written before a stop (removed otherwise)\n"
    "\n"
    "exit status: 0 written, 1 cannot read or write, 2 usage, 130 stopped\n";

const int kExitStopped = 130;

const char *KindName(int32_t kind) {
  switch (kind) {
  case TLP_KIND_INDEXED8:
    return "8-bit colour-mapped";
  case TLP_KIND_HIGH16:
    return "16-bit true colour";
  case TLP_KIND_FULL24:
    return "24-bit true colour";
  default:
    return "unknown kind";
  }
}

} // namespace

int CmdConvert(Plugin &plugin, const Args &args) {
  bool keepPartial = false;
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (const std::string &a : args) {
    if (!optionsEnded && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!optionsEnded && a == "--keep-partial")
      keepPartial = true;
    else if (!optionsEnded && a == "--")
      optionsEnded = true;
    else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "tga-host convert: unknown option '%s'\n\n%s", a.c_str(), kUsage);
      return 2;
    } else
      paths.push_back(a);
  }
  if (paths.size() != 2) {
    std::fprintf(stderr, "tga-host convert: needs an input and an output file\n\n%s", kUsage);
    return 2;
  }
  const std::string &in = paths[0], &out = paths[1];

  const PluginApi &api = plugin.Api();
  Imported imported(api);
  api.IMPORT_CreateImage(in.c_str(), &imported.image);
  if (!imported.image) {
    std::fprintf(stderr, "tga-host: cannot read '%s' as a Targa file\n", in.c_str());
    return 1;
  }
  const HostImage &image = *imported.image;

  int32_t written;
  bool stopped;
  int32_t stoppedAt;
  {
    WriteProgress progress(image.Height);
    written = api.EXPORT_WriteToFile(out.c_str(), &image, progress.Callback());
    progress.Finish(written != 0);
    stopped = progress.Stopped();
    stoppedAt = progress.StoppedAt();
  }

  if (!written) {
    // The plug-in removes a file it could not complete.
    std::fprintf(stderr, "tga-host: cannot write '%s'\n", out.c_str());
    return 1;
  }
  if (stopped) {
    std::fprintf(stderr, "tga-host: stopped before row %d of %u", stoppedAt, image.Height);
    if (keepPartial) {
      std::fprintf(stderr, "; '%s' keeps the rows before it\n", out.c_str());
    } else {
      RemovePartial(out);
      std::fprintf(stderr, "; '%s' removed\n", out.c_str());
    }
    return kExitStopped;
  }
  std::printf("%s: %u x %u, %s\n", out.c_str(), image.Width, image.Height, KindName(image.Kind));
  return 0;
}
