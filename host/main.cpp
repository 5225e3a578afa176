// tga-host: a small host that loads the Targa plug-in by path and drives it
// through its exported functions.
#include "Commands.h"
#include "Files.h"
#include "Methods.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

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
    {"options", CmdOptions, "the export options dialog: choose and store a method"},
};

std::string g_doing = "go on";

} // namespace

void Doing(const std::string &what) { g_doing = what; }

std::string g_keptText;

int32_t TLP_CALL KeepText(const char *text) {
  g_keptText = text;
  return 0;
}

int UsageError(const char *command, const std::string &line) {
  // One line, so that the error does not scroll away behind the help.
  if (command)
    std::fprintf(stderr, "tga-host %s: %s\nsee 'tga-host %s --help'\n", command, line.c_str(), command);
  else
    std::fprintf(stderr, "tga-host: %s\nsee 'tga-host --help'\n", line.c_str());
  return 2;
}

bool IsHelp(const std::string &arg) { return arg == "--help" || arg == "-h"; }

bool ShowHelp(const Args &args, const char *usage) {
  if (std::none_of(args.begin(), args.end(), IsHelp))
    return false;
  std::fputs(usage, stdout);
  return true;
}

bool ParseNumber(const std::string &text, int64_t min, int64_t max, int64_t *out) {
  const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (text.size() <= digits || text.size() > 18 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos)
    return false;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v < min || v > max)
    return false;
  *out = v;
  return true;
}

bool TakeOption(const Args &args, size_t *i, const char *name, std::string *value, bool *missing) {
  const std::string &a = args[*i];
  const size_t n = std::strlen(name);
  *missing = false;
  if (a.compare(0, n, name) != 0 || (a.size() > n && a[n] != '='))
    return false;
  if (a.size() > n)
    *value = a.substr(n + 1);
  else if (*i + 1 < args.size())
    *value = args[++*i];
  else
    *missing = true;
  return true;
}

int ParseLimit(const char *command, const Args &args, size_t *i, ReadLimits *limits) {
  const int64_t most = int64_t(kMaxTargaSide) * kMaxTargaSide;
  const struct {
    const char *name;
    int64_t min, max;
    uint64_t *to;
    std::string wants;
  } kLimits[] = {{"--max-missing", 0, INT64_MAX / 2, &limits->maxMissing, "a number of bytes"},
                 {"--max-pixels", 1, most, &limits->maxPixels, "a number from 1 to " + std::to_string(most)}};
  for (const auto &limit : kLimits) {
    std::string value;
    bool missing = false;
    int64_t v = 0;
    if (!TakeOption(args, i, limit.name, &value, &missing))
      continue;
    if (missing || !ParseNumber(value, limit.min, limit.max, &v))
      return UsageError(command, std::string(limit.name) + " wants " + limit.wants +
                                     (missing ? "" : ", not '" + value + "'"));
    *limit.to = static_cast<uint64_t>(v);
    return 1;
  }
  return 0;
}

bool ParseMethod(const char *command, const std::string &text, int *out) {
  int64_t v = 0;
  if (!ParseNumber(text, 0, kMethodCount - 1, &v)) {
    UsageError(command, "the method must be a number from 0 to " + std::to_string(kMethodCount - 1) +
                            ", not '" + text + "'");
    return false;
  }
  *out = static_cast<int>(v);
  return true;
}

int main(int argc, char **argv) {
  IgnoreFileSizeSignal();
  std::string pluginPath = DefaultPluginPath();
  int i = 1;
  for (; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc)
      pluginPath = argv[++i];
    else if (std::strncmp(argv[i], "--plugin=", 9) == 0)
      pluginPath = argv[i] + 9;
    else if (IsHelp(argv[i])) {
      std::printf("usage: tga-host [--plugin PATH] COMMAND [ARGS...]\n\ncommands:\n");
      for (const Command &c : kCommands)
        std::printf("  %-8s %s\n", c.name, c.summary);
      std::printf("\n'tga-host COMMAND --help' tells more.\n");
      return 0;
    } else
      break;
  }
  if (i >= argc)
    return UsageError(nullptr, "which command?");
  const Command *cmd = nullptr;
  for (const Command &c : kCommands)
    if (std::strcmp(argv[i], c.name) == 0)
      cmd = &c;
  if (!cmd)
    return UsageError(nullptr, std::string("unknown command '") + argv[i] + "'");
  Plugin plugin;
  std::string error;
  if (!plugin.Load(pluginPath, &error)) {
    std::fprintf(stderr, "tga-host: %s\n", error.c_str());
    return 1;
  }
  // Whatever the command made (a temporary output file above all) is gone
  // by the time a handler runs.
  try {
    Args args(argv + i + 1, argv + argc);
    return cmd->run(plugin, args);
  } catch (const std::bad_alloc &) {
  } catch (const std::length_error &) {
  }
  std::fprintf(stderr, "tga-host %s: not enough memory to %s\n", cmd->name, g_doing.c_str());
  return 1;
}
