#include "ExportPanel.h"

#include <vector>

#include "HostWindow.h"

using namespace hostwin;

bool ChooseMethodOnPanel(const PluginApi &api, int method, std::string *error) {
  Wnd host = MakeHostWindow(false);
  if (!host) {
    *error = "cannot make a window for the plug-in's panel";
    return false;
  }
  api.EXPORT_EnterOption(host, host, 0);
  std::vector<Wnd> buttons = PanelButtons(host);
  const bool found = buttons.size() == 6;
  if (found)
    Click(buttons[static_cast<size_t>(method)]);
  // Left once for every entry, as the plug-in requires; without the panel's
  // items there is no choice to accept.
  api.EXPORT_LeaveOption(found ? 1 : 0);
  PumpMessages(); // the panel's release is posted
  DestroyHostWindow(host);
  if (!found)
    *error = "the plug-in's options panel did not appear";
  return found;
}
