// tga-host info: what the plug-in says of each file, and why it refuses one.
#include "Commands.h"
#include "Panel.h"

#include <cstdio>

int CmdInfo(Plugin &plugin, const Args &args) {
  std::vector<std::string> files;
  const auto help = [] {
    std::fputs("usage: tga-host info FILE...\n\n"
               "For each file: whether the plug-in reads it, and its information text.\n"
               "exit status: 0 all files are Targa files, 1 otherwise, 2 usage\n",
               stdout);
  };
  if (const int read = ReadArgs("info", args, {}, help, &files); read >= 0)
    return read;
  if (files.empty())
    return UsageError("info", "names no file");
  const PluginApi &p = plugin.Api();
  int rc = 0;
  for (const std::string &file : files) {
    // The plug-in only says "not a Targa file", which misleads for a file
    // that is not there, and it would wait for ever on a pipe.
    const InputFile input = Examine(file);
    if (!input.unreadable.empty()) {
      std::printf("%s: cannot read: %s\n", file.c_str(), input.unreadable.c_str());
      rc = 1;
      continue;
    }
    bool valid = p.IMPORT_ValidFileCheck(file.c_str()) == 1;
    p.IMPORT_ImageInformation(file.c_str(), KeepText);
    std::printf("%s: %s\n", file.c_str(), valid ? "Targa file" : RefusalReason(input, false).c_str());
    std::printf("%s%s", SjisToUtf8(g_keptText).c_str(), g_keptText.empty() || g_keptText.back() == '\n' ? "" : "\n");
    if (!valid)
      rc = 1;
  }
  return rc;
}
