// The commands of tga-host. Each drives the plug-in only through its exports.
#pragma once

#include "Input.h"
#include "PluginLoader.h"

#include <cstdint>
#include <functional>
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

// After the options dialog was answered: says what it opened with (unless
// `toldOpened`) and how it was left, and on OK stores the checked method,
// read back as method `expected` (-1: whatever was checked). The exit
// status: 3 when cancelled, else SaveMethod's.
struct DialogAnswer;
int StoreAnswer(const PluginApi &p, const DialogAnswer &given, bool toldOpened, int expected);

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

// One option of a command, given once at most: `--name VALUE` or
// `--name=VALUE`, or `--name` alone for a flag.
struct Option {
  std::string name;
  // What its value must be, for "NAME wants WANTS[, not 'VALUE']"; empty for a flag.
  std::string wants;
  // Takes the value (empty for a flag); false when it is not one.
  std::function<bool(const std::string &value)> take;
};

// Reads a command's arguments by its options. Every other word, and every
// word after `--`, is an operand, in order. With --help or -h among them,
// `help` prints the usage and the answer is 0; after a usage error (said)
// it is 2; -1 when all was read.
int ReadArgs(const char *command, const Args &args, const std::vector<Option> &options,
             const std::function<void()> &help, std::vector<std::string> *operands);

// --max-pixels N and --max-missing BYTES, which every command that reads a
// picture takes, into `limits`.
std::vector<Option> LimitOptions(ReadLimits *limits);

// A whole number from `min` to `max` in decimal digits, with an optional
// sign; false for anything else.
bool ParseNumber(const std::string &text, int64_t min, int64_t max, int64_t *out);
// A conversion method's number (Methods.h) into `*out`; false for anything else.
bool ParseMethod(const std::string &text, int *out);
// What a method's number must be: "a number from 0 to 5".
std::string MethodWanted();
