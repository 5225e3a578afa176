#include "ExportPanel.h"

#include <algorithm>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include "tlpwin.h"
#endif

namespace {

#if defined(_WIN32)
using Wnd = HWND;

Wnd MakeHostWindow() {
  static const char kClass[] = "TgaHostExportWindow";
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kClass;
  RegisterClassA(&wc);
  return CreateWindowExA(0, kClass, "tga-host", WS_POPUP, 0, 0, 300, 180, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}
void DestroyHostWindow(Wnd w) { DestroyWindow(w); }
std::vector<Wnd> Children(Wnd w) {
  std::vector<Wnd> out;
  for (HWND c = GetWindow(w, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    out.push_back(c);
  return out;
}
int Top(Wnd w) {
  RECT r;
  GetWindowRect(w, &r);
  return r.top;
}
void Click(Wnd w) { SendMessageA(w, BM_CLICK, 0, 0); }
void PumpMessages() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}
#else
using Wnd = TlpHwnd;

Wnd MakeHostWindow() {
  static const char kInstance = 0;
  tlpwin_RegisterClass("TgaHostExportWindow", &kInstance, tlpwin_DefWindowProc,
                       TLP_COLOR_BTNFACE);
  return tlpwin_CreateWindow("TgaHostExportWindow", &kInstance, "tga-host", TLP_WS_VISIBLE, 0, 0,
                             300, 180, nullptr, 0, nullptr);
}
void DestroyHostWindow(Wnd w) { tlpwin_DestroyWindow(w); }
std::vector<Wnd> Children(Wnd w) {
  std::vector<Wnd> out;
  for (Wnd c = tlpwin_GetFirstChild(w); c; c = tlpwin_GetNextSibling(c))
    out.push_back(c);
  return out;
}
int Top(Wnd w) {
  TlpRect r{};
  tlpwin_GetWindowRect(w, &r);
  return r.top;
}
void Click(Wnd w) { tlpwin_SendMessage(w, TLP_BM_CLICK, 0, 0); }
void PumpMessages() {
  TlpMsg m;
  while (tlpwin_PeekMessage(&m, nullptr, 1))
    tlpwin_DispatchMessage(&m);
}
#endif

// The panel's radio buttons, top to bottom: the panel is the host window's
// one child and holds one group box.
std::vector<Wnd> PanelButtons(Wnd host) {
  std::vector<Wnd> panels = Children(host);
  if (panels.size() != 1)
    return {};
  std::vector<Wnd> inPanel = Children(panels[0]);
  if (inPanel.size() != 1)
    return {};
  std::vector<Wnd> buttons = Children(inPanel[0]);
  std::sort(buttons.begin(), buttons.end(), [](Wnd a, Wnd b) { return Top(a) < Top(b); });
  return buttons;
}

} // namespace

bool ChooseMethodOnPanel(const PluginApi &api, int method, std::string *error) {
  Wnd host = MakeHostWindow();
  if (!host) {
    *error = "cannot make a window for the plug-in's panel";
    return false;
  }
  api.EXPORT_EnterOption(host, host, 0);
  std::vector<Wnd> buttons = PanelButtons(host);
  const bool found = buttons.size() == 6;
  if (found)
    Click(buttons[static_cast<size_t>(method)]);
  // Left once for every entry, as the plug-in requires; without the panel's
  // items there is no choice to accept.
  api.EXPORT_LeaveOption(found ? 1 : 0);
  PumpMessages(); // the panel's release is posted
  DestroyHostWindow(host);
  if (!found)
    *error = "the plug-in's options panel did not appear";
  return found;
}
