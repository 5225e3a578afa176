// tga-host convert: imports a Targa file through the plug-in and exports it
// again, with a progress bar and Ctrl-C to stop the write.
#include "Commands.h"
#include "Conversions.h"
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

} // namespace

int CmdConvert(Plugin &plugin, const Args &args) {
  WriteOptions o;
  if (const int status = ParseWriteArgs("convert", args, false, [] { std::fputs(kUsage, stdout); }, &o);
      status >= 0)
    return status;
  const std::string &in = o.in, &out = o.out;

  const PluginApi &api = plugin.Api();
  Imported imported(api);
  Doing("read '" + in + "'");
  if (!ReadTarga("convert", api, in, o.limits, &imported))
    return 1;
  const HostImage &image = *imported.image;
  Doing("write '" + out + "'");
  const int status = WriteWithProgress(api, image, {"convert", out, o.keepPartial, 0});
  if (status == 0)
    std::printf("%s: %u x %u, %s\n", out.c_str(), image.Width, image.Height, KindName(image.Kind));
  return status;
}
