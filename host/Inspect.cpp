// tga-host info: what the plug-in says of each file, and tga-host import:
// the image it delivers, as a PNG.
#include "Commands.h"
#include "Conversions.h"
#include "Refusal.h"
#include "Text.h"
#if TLP_HOST_PNG
#include "Png.h"
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

std::string g_info;
int32_t TLP_CALL KeepInfo(const char *text) {
  g_info = text;
  return 0;
}

// Why `path` cannot be read at all, or empty when it can: the plug-in only
// says "not a Targa file", which misleads for a file that is not there.
std::string Unreadable(const std::string &path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    return "it is a folder";
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return std::strerror(errno);
  std::fclose(f);
  return {};
}

bool WantsHelp(const Args &args) {
  for (const std::string &a : args)
    if (a == "--help" || a == "-h")
      return true;
  return false;
}

} // namespace

int CmdInfo(Plugin &plugin, const Args &args) {
  if (WantsHelp(args) || args.empty()) {
    std::printf("usage: tga-host info FILE...\n\n"
                "For each file: whether the plug-in reads it, and its information text.\n"
                "exit status: 0 all files are Targa files, 1 otherwise\n");
    return args.empty() ? 2 : 0;
  }
  const PluginApi &p = plugin.Api();
  int rc = 0;
  for (const std::string &file : args) {
    const std::string unreadable = Unreadable(file);
    if (!unreadable.empty()) {
      std::printf("%s: cannot read: %s\n", file.c_str(), unreadable.c_str());
      rc = 1;
      continue;
    }
    bool valid = p.IMPORT_ValidFileCheck(file.c_str()) == 1;
    p.IMPORT_ImageInformation(file.c_str(), KeepInfo);
    std::printf("%s: %s\n", file.c_str(), valid ? "Targa file" : RefusalReason(file, false).c_str());
    std::printf("%s%s", SjisToUtf8(g_info).c_str(), g_info.empty() || g_info.back() == '\n' ? "" : "\n");
    if (!valid)
      rc = 1;
  }
  return rc;
}

int CmdImport(Plugin &plugin, const Args &args) {
  const char *usage = "usage: tga-host import FILE -o OUT.png [--preview WxH]\n\n"
                      "Writes the image the plug-in delivers for FILE as a PNG, the palette\n"
                      "applied; with --preview, the reduced image it delivers for a preview box.\n"
                      "exit status: 0 written, 1 cannot read or write, 2 usage\n";
  if (WantsHelp(args)) {
    std::printf("%s", usage);
    return 0;
  }
  std::string in, out;
  long boxW = 0, boxH = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i] == "--preview" && i + 1 < args.size()) {
      char *end = nullptr;
      const char *s = args[++i].c_str();
      boxW = std::strtol(s, &end, 10);
      if (!end || (*end != 'x' && *end != 'X') || boxW < 1) {
        std::fprintf(stderr, "tga-host import: --preview wants WxH, e.g. 256x256\n");
        return 2;
      }
      boxH = std::strtol(end + 1, &end, 10);
      if (*end || boxH < 1) {
        std::fprintf(stderr, "tga-host import: --preview wants WxH, e.g. 256x256\n");
        return 2;
      }
    } else if (in.empty() && args[i][0] != '-') {
      in = args[i];
    } else {
      std::fprintf(stderr, "tga-host import: unexpected argument '%s'\n%s", args[i].c_str(), usage);
      return 2;
    }
  }
  if (in.empty() || out.empty()) {
    std::fprintf(stderr, "%s", usage);
    return 2;
  }
  const std::string unreadable = Unreadable(in);
  if (!unreadable.empty()) {
    std::fprintf(stderr, "tga-host import: cannot read %s: %s\n", in.c_str(), unreadable.c_str());
    return 1;
  }
#if TLP_HOST_PNG
  const PluginApi &p = plugin.Api();
  Imported imported(p);
  if (boxW)
    p.IMPORT_CreatePreviewImage(in.c_str(), static_cast<int32_t>(boxW), static_cast<int32_t>(boxH),
                                &imported.image);
  else
    p.IMPORT_CreateImage(in.c_str(), &imported.image);
  if (!imported.image) {
    std::fprintf(stderr, "tga-host import: cannot read %s: %s\n", in.c_str(), RefusalReason(in, true).c_str());
    return 1;
  }
  // The palette applied; an index beyond it shows black.
  RgbImage rgb;
  rgb.width = imported.image->Width;
  rgb.height = imported.image->Height;
  RgbFromRecord(*imported.image, &rgb.rgb);
  const int kind = imported.image->Kind;
  std::string error;
  if (!WritePng(out, rgb, &error)) {
    std::fprintf(stderr, "tga-host import: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %ux%u, %s\n", out.c_str(), rgb.width, rgb.height,
              kind == TLP_KIND_INDEXED8 ? "8-bit indexed" : "24-bit");
  return 0;
#else
  (void)plugin;
  std::fprintf(stderr, "tga-host import: this build has no PNG support\n");
  return 1;
#endif
}
