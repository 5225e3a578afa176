// The commands of tga-host. Each drives the plug-in only through its exports.
#pragma once

#include "PluginLoader.h"

#include <string>
#include <vector>

using Args = std::vector<std::string>;

int CmdAbout(Plugin &plugin, const Args &args);
int CmdConvert(Plugin &plugin, const Args &args);
int CmdExport(Plugin &plugin, const Args &args);
int CmdMethod(Plugin &plugin, const Args &args);
int CmdInfo(Plugin &plugin, const Args &args);
int CmdImport(Plugin &plugin, const Args &args);
