// Choosing a conversion method for one export, as a host does: on the
// plug-in's own options panel.
#pragma once

#include "PluginLoader.h"

#include <string>

// Opens the plug-in's panel in a hidden window of this host, clicks item
// `method` (0 to 5) and accepts it with EXPORT_LeaveOption. The plug-in then
// reports that method's code until it is unloaded; nothing is stored unless
// the host calls PLUGOUTCALLBACK afterwards. False with `error` set when the
// panel did not appear as expected.
bool ChooseMethodOnPanel(const PluginApi &api, int method, std::string *error);
