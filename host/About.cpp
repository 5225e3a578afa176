#include "Commands.h"
#include "Panel.h"

#include <cstdio>

namespace {

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
  std::vector<std::string> operands;
  const auto help = [] { std::fputs("usage: tga-host about\n\nPrints what the plug-in says about itself.\n", stdout); };
  if (const int read = ReadArgs("about", args, {}, help, &operands); read >= 0)
    return read;
  if (!operands.empty())
    return UsageError("about", "takes no arguments");
  const PluginApi &p = plugin.Api();
  p.UNITED_Verbose(KeepVerbose);
  std::printf("name: %s\nversion value: 0x%08X\ncopyright: %s\ndescription: %s\n", g_verbose.name.c_str(),
              static_cast<unsigned>(g_verbose.version), g_verbose.copyright.c_str(),
              SjisToUtf8(g_verbose.description).c_str());
  int32_t a = 0, b = 0;
  p.UNITED_SupportedInformation(&a, &b);
  std::printf("supported information: %d %d\n", a, b);
  for (const bool exporting : {false, true}) {
    int32_t v = 0;
    (exporting ? p.EXPORT_InterfaceVersion : p.IMPORT_InterfaceVersion)(&v);
    (exporting ? p.EXPORT_SupportedExtensions : p.IMPORT_SupportedExtensions)(KeepText);
    std::printf("%s: interface 0x%08X, extension %s\n", exporting ? "export" : "import",
                static_cast<unsigned>(v), g_keptText.c_str());
  }
  return 0;
}
