// tga-host: a small host that loads the Targa plug-in by path and drives it
// through its exported functions.
#include "Commands.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Command {
  const char *name;
  int (*run)(Plugin &, const Args &);
  const char *summary;
};

const Command kCommands[] = {
    {"about", CmdAbout, "what the plug-in says about itself"},
    {"info", CmdInfo, "whether files are Targa files, and their information text"},
    {"import", CmdImport, "the image the plug-in delivers, as a PNG"},
    {"convert", CmdConvert, "re-encode a Targa file through import and export"},
    {"export", CmdExport, "a Targa or PNG file converted by method, written as Targa"},
    {"method", CmdMethod, "show the conversion method, or choose one on the panel"},
};

void Usage(FILE *to) {
  std::fprintf(to, "usage: tga-host [--plugin PATH] COMMAND [ARGS...]\n\ncommands:\n");
  for (const Command &c : kCommands)
    std::fprintf(to, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(to, "\n'tga-host COMMAND --help' tells more.\n");
}

} // namespace

int main(int argc, char **argv) {
  std::string pluginPath = DefaultPluginPath();
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
      pluginPath = argv[++i];
    else if (std::strncmp(argv[i], "--plugin=", 9) == 0)
      pluginPath = argv[i] + 9;
    else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Usage(stdout);
      return 0;
    } else
      break;
  }
  if (i >= argc) {
    Usage(stderr);
    return 2;
  }
  const Command *cmd = nullptr;
  for (const Command &c : kCommands)
    if (std::strcmp(argv[i], c.name) == 0)
      cmd = &c;
  if (!cmd) {
    std::fprintf(stderr, "tga-host: unknown command '%s'\n", argv[i]);
    Usage(stderr);
    return 2;
  }
  Plugin plugin;
  std::string error;
  if (!plugin.Load(pluginPath, &error)) {
    std::fprintf(stderr, "tga-host: %s\n", error.c_str());
    return 1;
  }
  Args args(argv + i + 1, argv + argc);
  return cmd->run(plugin, args);
}
