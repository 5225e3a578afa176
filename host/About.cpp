#include "Commands.h"
#include "Text.h"

#include <cstdio>
#include <string>

namespace {

std::string g_text;

int32_t TLP_CALL KeepText(const char *text) {
  g_text = text;
  return 0;
}

struct Verbose {
  uint32_t version = 0;
  std::string name, copyright, description;
} g_verbose;

int32_t TLP_CALL KeepVerbose(uint32_t version, const char *name, const char *copyright,
                             const char *description) {
  g_verbose = {version, name, copyright, description};
  return 0;
}

} // namespace

int CmdAbout(Plugin &plugin, const Args &args) {
  if (WantsHelp(args)) {
    std::printf("usage: tga-host about\n\nPrints what the plug-in says about itself.\n");
    return 0;
  }
  if (!args.empty())
    return UsageError("about", "takes no arguments");
  const PluginApi &p = plugin.Api();
  p.UNITED_Verbose(KeepVerbose);
  std::printf("name: %s\n", g_verbose.name.c_str());
  std::printf("version value: 0x%08X\n", static_cast<unsigned>(g_verbose.version));
  std::printf("copyright: %s\n", g_verbose.copyright.c_str());
  std::string desc = SjisToUtf8(g_verbose.description);
  std::printf("description: %s\n", desc.c_str());
  int32_t a = 0, b = 0;
  p.UNITED_SupportedInformation(&a, &b);
  std::printf("supported information: %d %d\n", a, b);
  int32_t v = 0;
  p.IMPORT_InterfaceVersion(&v);
  p.IMPORT_SupportedExtensions(KeepText);
  std::printf("import: interface 0x%08X, extension %s\n", static_cast<unsigned>(v), g_text.c_str());
  v = 0;
  p.EXPORT_InterfaceVersion(&v);
  p.EXPORT_SupportedExtensions(KeepText);
  std::printf("export: interface 0x%08X, extension %s\n", static_cast<unsigned>(v), g_text.c_str());
  return 0;
}
