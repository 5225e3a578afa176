// The commands of tga-host. Each drives the plug-in only through its exports.
#pragma once

#include "Input.h"
#include "PluginLoader.h"

#include <cstdint>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

int CmdAbout(Plugin &plugin, const Args &args);
int CmdConvert(Plugin &plugin, const Args &args); // with export, in Export.cpp
int CmdExport(Plugin &plugin, const Args &args);
int CmdMethod(Plugin &plugin, const Args &args);
int CmdOptions(Plugin &plugin, const Args &args);
int CmdInfo(Plugin &plugin, const Args &args);
int CmdImport(Plugin &plugin, const Args &args);

// After the panel was accepted: PLUGOUTCALLBACK stores the plug-in's method
// and, for a `chosen` method (-1 for none), the store must read it back.
// Prints the method after `label` ("method set"); the command's exit status.
int SaveMethod(const PluginApi &p, int chosen, const char *label);

// An InfoCallback that keeps the plug-in's text in g_keptText.
int32_t TLP_CALL KeepText(const char *text);
extern std::string g_keptText;

// What the running command is doing ("read 'in.png'"), for the message when
// memory runs out: "not enough memory to read 'in.png'".
void Doing(const std::string &what);

// A usage error of `command` (null: of tga-host itself): the one line that
// says what is wrong and where the help is, on standard error. Returns the
// exit status, 2.
int UsageError(const char *command, const std::string &line);

// Whether `arg` asks for help: --help or -h.
bool IsHelp(const std::string &arg);
// When --help or -h is among the arguments: prints `usage` and says so.
bool ShowHelp(const Args &args, const char *usage);

// A whole number from `min` to `max` in decimal digits, with an optional
// sign; false for anything else.
bool ParseNumber(const std::string &text, int64_t min, int64_t max, int64_t *out);
// Whether args[*i] is the option `name` ("--name VALUE" or "--name=VALUE");
// then `*value` is its value, *i is left on the last word it took, and
// `*missing` tells a value that is not there.
bool TakeOption(const Args &args, size_t *i, const char *name, std::string *value, bool *missing);

// The options every command that reads a picture takes, the same way:
// --max-pixels N and --max-missing BYTES. 1 when args[*i] is one and was understood, 0 when it is
// none of them, 2 (the exit status) when it is wrong: that is said as a
// usage error.
int ParseLimit(const char *command, const Args &args, size_t *i, ReadLimits *limits);
// A conversion method's number (Methods.h); false after a usage error of
// `command`.
bool ParseMethod(const char *command, const std::string &text, int *out);
