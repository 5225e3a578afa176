// tga-host method: the conversion method as the plug-in keeps it, and choosing
// one on the plug-in's own options panel, in the options dialog, as a user of
// a host would.
#include "Commands.h"
#include "Methods.h"
#include "Dialog.h"
#include "Store.h"

#include <cstdio>

namespace {

// What the plug-in reports through EXPORT_BeforeTransform; -1 when nothing.
int32_t ReportedCode(const PluginApi &p) {
  int32_t code = -1;
  p.EXPORT_BeforeTransform(&code, 0);
  return code;
}

void PrintMethod(const char *label, int32_t code) {
  const int method = MethodOfCode(code);
  if (method < 0)
    std::printf("%s: outside 0 to %d\nhost code: none\n", label, kMethodCount - 1);
  else
    std::printf("%s: %d (%s)\nhost code: %d\n", label, method, kMethods[method].meaning, code);
}

int Usage() {
  std::printf("usage: tga-host method [N]\n\n"
              "Without N, prints the conversion method the plug-in has stored and the\n"
              "host code it reports for it. With N (0 to %d), answers the export options\n"
              "dialog as 'tga-host options --answer N' does: clicks item N on the\n"
              "plug-in's panel and OK, and stores it.\n\n"
              "methods:\n",
              kMethodCount - 1);
  ListMethods(stdout);
  return 0;
}

} // namespace

int CmdMethod(Plugin &plugin, const Args &args) {
  std::vector<std::string> methods;
  if (const int read = ReadArgs("method", args, {}, [] { Usage(); }, &methods); read >= 0)
    return read;
  int chosen = -1;
  if (methods.size() > 1)
    return UsageError("method", "takes one method number");
  if (!methods.empty() && !ParseMethod(methods[0], &chosen))
    return UsageError("method", "the method must be " + MethodWanted() + ", not '" + methods[0] + "'");
  const PluginApi &p = plugin.Api();
  p.PLUGINCALLBACK(0);
  if (chosen < 0) {
    PrintMethod("method", ReportedCode(p));
    return 0;
  }
  // As a user would: the options dialog, the method's item, OK.
  DialogAnswer given;
  std::string error;
  if (!AnswerDialog(p, chosen, &given, &error)) {
    std::fprintf(stderr, "tga-host: %s\n", error.c_str());
    return 1;
  }
  return StoreAnswer(p, given, false, chosen);
}

// The store is read back as the plug-in reads it. Another program may store
// a method of its own between this save and the read-back; that is no
// failure of this one.
int SaveMethod(const PluginApi &p, int chosen, const char *label) {
  const int32_t code = ReportedCode(p);
  p.PLUGOUTCALLBACK();
  const std::optional<uint32_t> stored = tlp::store::LoadDword(tlp::store::kMethodValue);
  const int back = stored ? static_cast<int8_t>(*stored) : -1;
  if (chosen >= 0 && !stored) {
    std::fprintf(stderr, "tga-host: method %d could not be stored in %s\n", chosen, tlp::store::Where().c_str());
    return 1;
  }
  if (chosen >= 0 && back != chosen)
    std::fprintf(stderr, "tga-host: method %d was stored in %s, then changed by another program: "
                         "it now holds method %d\n", chosen, tlp::store::Where().c_str(), back);
  PrintMethod(label, code);
  return 0;
}
