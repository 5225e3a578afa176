// tga-host import: the image the plug-in delivers, as a PNG.
#include "Commands.h"
#include "Conversions.h"
#include "Progress.h"
#if TLP_HOST_PNG
#include "Png.h"
#endif

#include <cstdio>

namespace {

const char kUsage[] =
    "usage: tga-host import FILE -o OUT.png [--preview WxH] [--max-pixels N]\n"
    "                       [--max-missing BYTES]\n\n"
    "Writes the image the plug-in delivers for FILE as a PNG, the palette\n"
    "applied; with --preview, the reduced image it delivers for a preview box:\n"
    "every s-th pixel of every s-th row, s the largest power of two that keeps\n"
    "it at least the box on one side (a 96x64 picture with --preview 32x32\n"
    "gives 48x32), or the whole picture when it is smaller than the box.\n"
    "OUT.png is replaced only once the write has succeeded; Ctrl-C stops it.\n"
    "--max-pixels N refuses files of more than N pixels (default 268435456),\n"
    "--max-missing BYTES files that lack more than BYTES of the pixel data\n"
    "their header claims (default 67108864); less than that reads as white.\n"
    "exit status: 0 written, 1 cannot read or write, 2 usage, 130 stopped\n";

} // namespace

int CmdImport(Plugin &plugin, const Args &args) {
  std::string out;
  int64_t boxW = 0, boxH = 0;
  ReadLimits limits;
  std::vector<Option> options = LimitOptions(&limits);
  options.push_back({"-o", "the output file", [&](const std::string &value) { return !(out = value).empty(); }});
  options.push_back({"--preview", "WxH such as 256x256", [&](const std::string &value) {
                       const size_t x = value.find_first_of("xX");
                       return x != std::string::npos && ParseNumber(value.substr(0, x), 1, INT32_MAX, &boxW) &&
                              ParseNumber(value.substr(x + 1), 1, INT32_MAX, &boxH);
                     }});
  std::vector<std::string> files;
  if (const int read = ReadArgs("import", args, options, [] { std::fputs(kUsage, stdout); }, &files); read >= 0)
    return read;
  if (files.size() > 1)
    return UsageError("import", "unexpected argument '" + files[1] + "'");
  const std::string in = files.empty() ? "" : files[0];
  if (in.empty())
    return UsageError("import", "names no file to read");
  if (out.empty())
    return UsageError("import", "needs -o OUT.png, the file to write");
#if TLP_HOST_PNG
  const PluginApi &p = plugin.Api();
  Imported imported(p);
  Doing("read '" + in + "'");
  if (!ReadTarga("import", p, in, limits, &imported, static_cast<int32_t>(boxW),
                 static_cast<int32_t>(boxH)))
    return 1;
  const HostImage &image = *imported.image;
  Doing("write '" + out + "'");
  if (image.Width == 0 || image.Height == 0)
    return Say("import", "cannot write '" + out + "': a PNG cannot hold an empty picture");
  if (!KnownKind(image.Kind))
    return Say("import", "the plug-in delivered a picture of an unknown kind");
  // OUT changes only when the write worked.
  const int status = WriteStream({"import", out}, [&image, &out](std::FILE *stream) {
    // A row at a time from the record, the palette applied.
    Phase writing("writing '" + out + "'", image.Height);
    const RowSource row = [&image](uint32_t y, uint8_t *rgb) {
      RgbRowFromRecord(image, y, rgb);
      return !CtrlCStops::Pressed();
    };
    WriteResult result;
    result.written = WritePng(stream, image.Width, image.Height, row, &result.error,
                              [&writing](uint32_t y) { writing.Update(y); });
    if (result.written)
      writing.Done();
    result.stopped = CtrlCStops::Pressed();
    return result;
  });
  if (status == 0)
    std::printf("%s: %ux%u, delivered as %s, written as 24-bit RGB\n", out.c_str(), image.Width, image.Height,
                image.Kind == TLP_KIND_INDEXED8 ? "8-bit indexed" : "24-bit RGB");
  return status;
#else
  (void)plugin;
  (void)limits;
  return Say("import", "this build has no PNG support");
#endif
}
