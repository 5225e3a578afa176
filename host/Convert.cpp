// tga-host convert: imports a Targa file through the plug-in and exports it
// again, with a progress bar and Ctrl-C to stop the write.
#include "Commands.h"
#include "Input.h"
#include "Output.h"

#include <cstdio>
#include <string>

namespace {

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
  ReadLimits limits;
  std::vector<std::string> paths;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (!optionsEnded && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (const int limit = optionsEnded ? 0 : ParseLimit("convert", args, &i, &limits)) {
      if (limit == 2)
        return 2;
    } else if (!optionsEnded && a == "--keep-partial") {
      keepPartial = true;
    } else if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      return UsageError("convert", "unknown option '" + a + "'");
    } else {
      paths.push_back(a);
    }
  }
  if (paths.size() != 2) {
    return UsageError("convert", "needs an input and an output file");
  }
  const std::string &in = paths[0], &out = paths[1];

  const PluginApi &api = plugin.Api();
  Imported imported(api);
  Doing("read '" + in + "'");
  if (!ReadTarga("convert", api, in, limits, &imported))
    return 1;
  const HostImage &image = *imported.image;
  Doing("write '" + out + "'");
  const int status = WriteWithProgress(api, image, {"convert", out, keepPartial, 0});
  if (status == 0)
    std::printf("%s: %u x %u, %s\n", out.c_str(), image.Width, image.Height, KindName(image.Kind));
  return status;
}
