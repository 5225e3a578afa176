// tga-host method: the conversion method as the plug-in keeps it, and choosing
// one on the plug-in's own options panel, in a window of this host, as a user
// of a host would.
#include "Commands.h"
#include "Methods.h"
#include "Panel.h"
#include "Registry.h"
#include "Settings.h"
#include "System.h"

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
  if (method < 0) {
    std::printf("%s: outside 0 to %d\nhost code: none\n", label, kMethodCount - 1);
    return;
  }
  std::printf("%s: %d (%s)\nhost code: %d\n", label, method, kMethods[method].meaning, code);
}

void Usage(FILE *to) {
  std::fprintf(to,
               "usage: tga-host method [N] [--show SECONDS]\n\n"
               "Without N, prints the conversion method the plug-in has stored and the\n"
               "host code it reports for it. With N (0 to %d), opens the plug-in's options\n"
               "panel in a window of this host, clicks item N, accepts it and stores it.\n"
               "--show keeps the panel on screen for SECONDS first, in the host's message\n"
               "loop; without N the panel is then left without a change.\n\n"
               "methods:\n",
               kMethodCount - 1);
  ListMethods(to);
}

// The method the plug-in reads back from its store after `method` was
// stored; -1 for none. The plug-in keeps the value it has when a load
// fails, so a different method is chosen first.
int ReadBack(const PluginApi &p, int method) {
  std::string error;
  if (!ChooseMethodOnPanel(p, method == 0 ? 1 : 0, &error))
    return -1;
  p.PLUGINCALLBACK(0);
  return MethodOfCode(ReportedCode(p));
}

// Whether the store lets this user change the setting: then a save of the
// plug-in's succeeds, as it asks for no more.
bool StoreWritable() {
  tlp::registry::Key key;
  return tlp::registry::OpenKey(kSettingsKey, key.Receive()) == tlp::registry::kSuccess;
}

} // namespace

int CmdMethod(Plugin &plugin, const Args &args) {
  int chosen = -1;
  int64_t show = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    }
    if (a == "--show") {
      if (i + 1 >= args.size() || !ParseNumber(args[i + 1], 0, 3600, &show))
        return UsageError("method", "--show wants a number of seconds (0 to 3600)");
      ++i;
    } else if (chosen < 0) {
      if (!ParseMethod("method", a, &chosen))
        return 2;
    } else {
      return UsageError("method", "takes one method number");
    }
  }
  const bool haveChoice = chosen >= 0;

  const PluginApi &p = plugin.Api();
  p.PLUGINCALLBACK(0);
  if (!haveChoice && show == 0) {
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
    if (haveChoice) {
      panel.Click(chosen);
      std::printf("clicked: %s\n", panel.Item(chosen).c_str());
    }
    if (show > 0)
      panel.Hold(static_cast<int>(show));
    if (!panel.Leave(haveChoice))
      std::fprintf(stderr, "tga-host: the panel is still there after the message loop ran\n");
  }
  return SaveMethod(p, chosen, haveChoice ? "method set" : "method");
}

int SaveMethod(const PluginApi &p, int chosen, const char *label) {
  const int32_t code = ReportedCode(p);
  p.PLUGOUTCALLBACK();
  const int back = chosen >= 0 ? ReadBack(p, chosen) : chosen;
  if (back != chosen) {
    // Another program may store a method of its own between this save and
    // the read-back; that is no failure of this one.
    if (back < 0 || !StoreWritable()) {
      std::fprintf(stderr, "tga-host: method %d could not be stored in %s\n", chosen,
                   StoreLocation().c_str());
      return 1;
    }
    std::fprintf(stderr, "tga-host: method %d was stored in %s, then changed by another program: "
                         "it now holds method %d\n", chosen, StoreLocation().c_str(), back);
  }
  PrintMethod(label, code);
  return 0;
}
