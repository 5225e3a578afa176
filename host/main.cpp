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

int ReadArgs(const char *command, const Args &args, const std::vector<Option> &options,
             const std::function<void()> &help, std::vector<std::string> *operands) {
  const auto end = std::find(args.begin(), args.end(), "--");
  if (std::any_of(args.begin(), end, IsHelp)) {
    help();
    return 0;
  }
  std::vector<bool> given(options.size());
  for (auto word = args.begin(); word != args.end(); ++word) {
    const std::string &a = *word;
    if (word >= end || a.size() < 2 || a[0] != '-') {
      if (word != end)
        operands->push_back(a);
      continue;
    }
    const size_t equals = a.find('=');
    const std::string name = a.substr(0, equals);
    const auto option = std::find_if(options.begin(), options.end(), [&](const Option &o) { return o.name == name; });
    if (option == options.end())
      return UsageError(command, "unknown option '" + name + "'");
    const size_t at = static_cast<size_t>(option - options.begin());
    if (given[at])
      return UsageError(command, name + " given twice");
    given[at] = true;
    std::string value;
    if (option->wants.empty()) {
      if (equals != std::string::npos)
        return UsageError(command, name + " takes no value");
    } else if (equals != std::string::npos) {
      value = a.substr(equals + 1);
    } else if (word + 1 != end) {
      value = *++word;
    } else {
      return UsageError(command, name + " wants " + option->wants);
    }
    if (!option->take(value))
      return UsageError(command, name + " wants " + option->wants + ", not '" + value + "'");
  }
  return -1;
}

std::vector<Option> LimitOptions(ReadLimits *limits) {
  const int64_t most = int64_t(kMaxTargaSide) * kMaxTargaSide;
  const auto number = [](int64_t min, int64_t max, uint64_t *to) {
    return [=](const std::string &value) {
      int64_t v = 0;
      if (!ParseNumber(value, min, max, &v))
        return false;
      *to = static_cast<uint64_t>(v);
      return true;
    };
  };
  return {{"--max-missing", "a number of bytes", number(0, INT64_MAX / 2, &limits->maxMissing)},
          {"--max-pixels", "a number from 1 to " + std::to_string(most), number(1, most, &limits->maxPixels)}};
}

std::string MethodWanted() { return "a number from 0 to " + std::to_string(kMethodCount - 1); }

bool ParseMethod(const std::string &text, int *out) {
  int64_t v = 0;
  if (!ParseNumber(text, 0, kMethodCount - 1, &v))
    return false;
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
