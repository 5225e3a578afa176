// tga-host method: the conversion method as the plug-in keeps it, and choosing
// one on the plug-in's own options panel, in a window of this host, as a user
// of a host would.
#include "Commands.h"
#include "ExportPanel.h"
#include "Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "HostWindow.h"

namespace {

using namespace hostwin;

// What each method means to the host, and the code the plug-in reports for it.
const char *const kMeanings[6] = {
    "full colour",
    "high colour",
    "full colour, 256 colours where possible",
    "high colour, 256 colours where possible",
    "256 colours, optimised palette",
    "256 colours of the Windows palette",
};
const int32_t kHostCodes[6] = {2, 4, 6, 8, 9, 10};

// Keeps the host's message loop running for a while, so the panel can be seen.
void Hold(Wnd host, int seconds) {
  std::printf("holding the panel window at %s for %d s\n", ScreenRect(host).c_str(), seconds);
  std::fflush(stdout);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    PumpMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// ---- The command -------------------------------------------------------------

// What the plug-in reports through EXPORT_BeforeTransform; -1 when nothing.
int32_t ReportedCode(const PluginApi &p) {
  int32_t code = -1;
  p.EXPORT_BeforeTransform(&code, 0);
  return code;
}

void PrintMethod(const char *label, int32_t code) {
  const int32_t *at = std::find(std::begin(kHostCodes), std::end(kHostCodes), code);
  if (at == std::end(kHostCodes)) {
    std::printf("%s: outside 0 to 5\nhost code: none\n", label);
    return;
  }
  long method = at - kHostCodes;
  std::printf("%s: %ld (%s)\nhost code: %d\n", label, method, kMeanings[method], code);
}

void Usage(FILE *to) {
  std::fprintf(to,
               "usage: tga-host method [N] [--show SECONDS]\n\n"
               "Without N, prints the conversion method the plug-in has stored and the\n"
               "host code it reports for it. With N (0 to 5), opens the plug-in's options\n"
               "panel in a window of this host, clicks item N, accepts it and stores it.\n"
               "--show keeps the panel on screen for SECONDS first, in the host's message\n"
               "loop; without N the panel is then left without a change.\n\n"
               "methods:\n");
  for (int k = 0; k < 6; ++k)
    std::fprintf(to, "  %d  %s (host code %d)\n", k, kMeanings[k], kHostCodes[k]);
}

// Where the plug-in keeps the method, for the message when it could not: the
// registry key on Windows, elsewhere the settings store's file (found by the
// same rule as the store uses).
std::string StoreLocation() {
#if defined(_WIN32)
  return "the registry key HKEY_CURRENT_USER\\Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga";
#else
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  const char *home = std::getenv("HOME");
  std::string config;
  if (xdg && xdg[0] == '/')
    config = xdg;
  else if (home && home[0] == '/')
    config = std::string(home) + "/.config";
  else
    return "the settings store: neither XDG_CONFIG_HOME nor HOME names a folder for it";
  while (config.size() > 1 && config.back() == '/')
    config.pop_back();
  return "'" + config + "/Tolva/HKEY_CURRENT_USER.reg'";
#endif
}

// Whether the plug-in reads `method` back from its store. The plug-in keeps
// the value it has when a load fails, so a different method is chosen first.
bool Stored(const PluginApi &p, int method) {
  std::string error;
  if (!ChooseMethodOnPanel(p, method == 0 ? 1 : 0, &error))
    return false;
  p.PLUGINCALLBACK(0);
  return ReportedCode(p) == kHostCodes[method];
}

} // namespace

int CmdMethod(Plugin &plugin, const Args &args) {
  int64_t chosen = -1, show = 0;
  bool haveChoice = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    }
    if (a == "--show") {
      if (i + 1 >= args.size() || !ParseNumber(args[i + 1], 0, 3600, &show)) {
        std::fprintf(stderr, "tga-host: --show wants a number of seconds (0 to 3600)\n");
        return 2;
      }
      ++i;
    } else if (!haveChoice) {
      if (!ParseNumber(a, 0, 5, &chosen)) {
        std::fprintf(stderr, "tga-host: the method must be a number from 0 to 5, not '%s'\n", a.c_str());
        return 2;
      }
      haveChoice = true;
    } else {
      std::fprintf(stderr, "tga-host: method takes one method number\n");
      Usage(stderr);
      return 2;
    }
  }

  const PluginApi &p = plugin.Api();
  p.PLUGINCALLBACK(0);
  if (!haveChoice && show == 0) {
    PrintMethod("method", ReportedCode(p));
    return 0;
  }

  Wnd host = MakeHostWindow(show > 0);
  if (!host) {
    std::fprintf(stderr, "tga-host: cannot make a host window\n");
    return 1;
  }
  p.EXPORT_EnterOption(host, host, 0);
  std::vector<Wnd> buttons = PanelButtons(host);
  if (buttons.size() != 6) {
    std::fprintf(stderr, "tga-host: the plug-in's panel did not appear in the host window\n");
    DestroyHostWindow(host);
    return 1;
  }
  int opened = -1;
  for (size_t k = 0; k < buttons.size(); ++k)
    if (Checked(buttons[k]))
      opened = static_cast<int>(k);
  std::string openedText = opened < 0 ? "none" : SjisToUtf8(Text(buttons[static_cast<size_t>(opened)]));
  std::printf("panel opened with: %s\n", openedText.c_str());
  if (haveChoice) {
    Click(buttons[static_cast<size_t>(chosen)]);
    std::printf("clicked: %s\n", SjisToUtf8(Text(buttons[static_cast<size_t>(chosen)])).c_str());
  }
  if (show > 0)
    Hold(host, static_cast<int>(show));
  std::vector<Wnd> panel = Children(host);
  p.EXPORT_LeaveOption(haveChoice ? 1 : 0);
  PumpMessages();
  if (!panel.empty() && Exists(panel[0]))
    std::fprintf(stderr, "tga-host: the panel is still there after the message loop ran\n");
  DestroyHostWindow(host);
  int32_t code = ReportedCode(p);
  p.PLUGOUTCALLBACK();
  if (haveChoice && !Stored(p, static_cast<int>(chosen))) {
    std::fprintf(stderr, "tga-host: method %d could not be stored in %s\n",
                 static_cast<int>(chosen), StoreLocation().c_str());
    return 1;
  }
  PrintMethod(haveChoice ? "method set" : "method", code);
  return 0;
}
