// tga-host options: the export options dialog, as an image application shows
// it before an export, for a person or answered by script through the same
// dialog.
#include "Commands.h"
#include "Dialog.h"
#include "Methods.h"
#include "Progress.h"
#include "System.h"

#include <cstdio>

namespace {

const int kCancelled = 3;

std::string Opened(const DialogAnswer &given) { return given.opened < 0 ? "none" : given.openedItem; }

int Usage() {
  std::printf("usage: tga-host options [--answer N|cancel]\n\n"
              "Opens the export options dialog: a window titled \"Targa export options\"\n"
              "with the plug-in's options panel, opened on the stored method, and OK\n"
              "and Cancel. OK (or Enter) stores the method checked on the panel;\n"
              "Cancel, Esc or closing the window stores nothing. Tab and Shift+Tab move\n"
              "between the panel's methods and the buttons, the arrow keys change the\n"
              "method.\n\n"
              "  --answer N       check method N (0 to %d) on the panel and press OK,\n"
              "                   with no window on the screen\n"
              "  --answer cancel  press Cancel\n\n"
              "Without --answer the dialog needs a screen; where there is none (the\n"
              "Linux build has none) the command says so and exits 2.\n\n"
              "exit status: 0 a method stored (printed), 1 the dialog could not open or\n"
              "the method could not be stored, 2 a usage error or no screen,\n"
              "3 cancelled: nothing stored.\n\n"
              "methods:\n",
              kMethodCount - 1);
  ListMethods(stdout);
  return 0;
}

} // namespace

int CmdOptions(Plugin &plugin, const Args &args) {
  bool answered = false;
  int answer = -1; // the method, -1 for Cancel
  const std::vector<Option> options = {{"--answer", MethodWanted() + " or cancel", [&](const std::string &v) {
                                          answered = true;
                                          return v == "cancel" || ParseMethod(v, &answer);
                                        }}};
  std::vector<std::string> extra;
  if (const int read = ReadArgs("options", args, options, [] { Usage(); }, &extra); read >= 0)
    return read;
  if (!extra.empty())
    return UsageError("options", "unexpected '" + extra[0] + "'");
  if (!answered && !tlpwin::HasScreen()) {
    std::fprintf(stderr, "tga-host options: there is no screen to show the dialog on%s; "
                         "--answer N or --answer cancel answers it without one\n",
                 kWindowsNote);
    return 2;
  }

  const PluginApi &p = plugin.Api();
  p.PLUGINCALLBACK(0);
  DialogAnswer given;
  std::string error;
  const bool opened =
      answered ? AnswerDialog(p, answer, &given, &error)
               : ShowDialog(p, [&given](tlpwin::Rect r) {
                   std::printf("dialog opened with: %s\n", Opened(given).c_str());
                   std::printf("waiting for OK or Cancel in the window at %dx%d+%d+%d\n", r.width, r.height, r.left,
                               r.top);
                   std::fflush(stdout);
                 }, &given, &error);
  if (!opened)
    return Say("options", error);
  return StoreAnswer(p, given, !answered, -1);
}

int StoreAnswer(const PluginApi &p, const DialogAnswer &given, bool toldOpened, int expected) {
  if (!toldOpened)
    std::printf("dialog opened with: %s\n", Opened(given).c_str());
  if (!given.ok) {
    std::printf("cancelled: nothing stored\n");
    return kCancelled;
  }
  if (given.checked >= 0)
    std::printf("OK with: %s\n", given.checkedItem.c_str());
  const int method = expected >= 0 ? expected : given.checked;
  return SaveMethod(p, method, method >= 0 ? "method set" : "nothing checked; method kept");
}
