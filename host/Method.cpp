// tga-host method: the conversion method as the plug-in keeps it, and choosing
// one on the plug-in's own options panel, in a window of this host, as a user
// of a host would.
#include "Commands.h"
#include "Methods.h"
#include "Panel.h"
#include "Store.h"

#include <cstdio>

namespace {

// What the plug-in reports through EXPORT_BeforeTransform; -1 when nothing.
int32_t ReportedCode(const PluginApi &p) {
  int32_t code = -1;
  p.EXPORT_BeforeTransform(&code, 0);
  return code;
}

void PrintMethod(const char *label, int32_t code) {
  const int method = MethodOfCode(code);
  if (method < 0)
    std::printf("%s: outside 0 to %d\nhost code: none\n", label, kMethodCount - 1);
  else
    std::printf("%s: %d (%s)\nhost code: %d\n", label, method, kMethods[method].meaning, code);
}

int Usage() {
  std::printf("usage: tga-host method [N] [--show SECONDS]\n\n"
              "Without N, prints the conversion method the plug-in has stored and the\n"
              "host code it reports for it. With N (0 to %d), opens the plug-in's options\n"
              "panel in a window of this host, clicks item N, accepts it and stores it.\n"
              "--show keeps the panel on screen for SECONDS first, in the host's message\n"
              "loop; without N the panel is then left without a change.\n\n"
              "methods:\n",
              kMethodCount - 1);
  ListMethods(stdout);
  return 0;
}

} // namespace

int CmdMethod(Plugin &plugin, const Args &args) {
  int chosen = -1;
  int64_t show = 0;
  const std::vector<Option> options = {{"--show", "a number of seconds from 0 to 3600", [&](const std::string &v) {
                                          return ParseNumber(v, 0, 3600, &show);
                                        }}};
  std::vector<std::string> methods;
  if (const int read = ReadArgs("method", args, options, [] { Usage(); }, &methods); read >= 0)
    return read;
  if (methods.size() > 1)
    return UsageError("method", "takes one method number");
  if (!methods.empty() && !ParseMethod(methods[0], &chosen))
    return UsageError("method", "the method must be " + MethodWanted() + ", not '" + methods[0] + "'");
  const PluginApi &p = plugin.Api();
  p.PLUGINCALLBACK(0);
  if (chosen < 0 && show == 0) {
    PrintMethod("method", ReportedCode(p));
    return 0;
  }
  {
    HostPanel panel(p, show > 0);
    if (!panel.Error().empty()) {
      std::fprintf(stderr, "tga-host: %s\n", panel.Error().c_str());
      return 1;
    }
    const int opened = panel.Checked();
    std::printf("panel opened with: %s\n", opened < 0 ? "none" : panel.Item(opened).c_str());
    if (chosen >= 0) {
      panel.Click(chosen);
      std::printf("clicked: %s\n", panel.Item(chosen).c_str());
    }
    if (show > 0)
      panel.Hold(static_cast<int>(show));
    if (!panel.Leave(chosen >= 0))
      std::fprintf(stderr, "tga-host: the panel is still there after the message loop ran\n");
  }
  return SaveMethod(p, chosen, chosen >= 0 ? "method set" : "method");
}

// The store is read back as the plug-in reads it. Another program may store
// a method of its own between this save and the read-back; that is no
// failure of this one.
int SaveMethod(const PluginApi &p, int chosen, const char *label) {
  const int32_t code = ReportedCode(p);
  p.PLUGOUTCALLBACK();
  const std::optional<uint32_t> stored = tlp::store::LoadDword(tlp::store::kMethodValue);
  const int back = stored ? static_cast<int8_t>(*stored) : -1;
  if (chosen >= 0 && !stored) {
    std::fprintf(stderr, "tga-host: method %d could not be stored in %s\n", chosen, tlp::store::Where().c_str());
    return 1;
  }
  if (chosen >= 0 && back != chosen)
    std::fprintf(stderr, "tga-host: method %d was stored in %s, then changed by another program: "
                         "it now holds method %d\n", chosen, tlp::store::Where().c_str(), back);
  PrintMethod(label, code);
  return 0;
}
