#include "HostWindow.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include "tlpwin.h"
#endif

namespace hostwin {

#if defined(_WIN32)
namespace {
HWND H(Wnd w) { return static_cast<HWND>(w); }
int Top(Wnd w) {
  RECT r;
  GetWindowRect(H(w), &r);
  return r.top;
}
} // namespace

Wnd MakeHostWindow(bool visible) {
  static const char kClass[] = "TgaHostWindow";
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kClass;
  RegisterClassA(&wc); // fails harmlessly when already registered
  DWORD style = WS_POPUP | WS_BORDER | (visible ? WS_VISIBLE : 0);
  return CreateWindowExA(0, kClass, "tga-host", style, 0, 0, 300, 180, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}
void DestroyHostWindow(Wnd w) { DestroyWindow(H(w)); }
bool Exists(Wnd w) { return IsWindow(H(w)) != FALSE; }
std::vector<Wnd> Children(Wnd w) {
  std::vector<Wnd> out;
  for (HWND c = GetWindow(H(w), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    out.push_back(c);
  return out;
}
std::string Text(Wnd w) {
  char buf[256];
  int n = GetWindowTextA(H(w), buf, sizeof buf);
  return std::string(buf, static_cast<size_t>(std::max(n, 0)));
}
bool Checked(Wnd w) { return SendMessageA(H(w), BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Click(Wnd w) { SendMessageA(H(w), BM_CLICK, 0, 0); }
void PumpMessages() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}
std::string ScreenRect(Wnd w) {
  RECT r;
  GetWindowRect(H(w), &r);
  char text[64];
  std::snprintf(text, sizeof text, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left, r.top);
  return text;
}
#else
namespace {
TlpHwnd H(Wnd w) { return static_cast<TlpHwnd>(w); }
int Top(Wnd w) {
  TlpRect r{};
  tlpwin_GetWindowRect(H(w), &r);
  return r.top;
}
} // namespace

Wnd MakeHostWindow(bool) {
  static const char kInstance = 0;
  tlpwin_RegisterClass("TgaHostWindow", &kInstance, tlpwin_DefWindowProc, TLP_COLOR_BTNFACE);
  return tlpwin_CreateWindow("TgaHostWindow", &kInstance, "tga-host", TLP_WS_VISIBLE, 0, 0, 300, 180,
                             nullptr, 0, nullptr);
}
void DestroyHostWindow(Wnd w) { tlpwin_DestroyWindow(H(w)); }
bool Exists(Wnd w) { return tlpwin_IsWindow(H(w)) != 0; }
std::vector<Wnd> Children(Wnd w) {
  std::vector<Wnd> out;
  for (TlpHwnd c = tlpwin_GetFirstChild(H(w)); c; c = tlpwin_GetNextSibling(c))
    out.push_back(c);
  return out;
}
std::string Text(Wnd w) {
  char buf[256];
  int32_t n = tlpwin_GetWindowText(H(w), buf, sizeof buf);
  return std::string(buf, static_cast<size_t>(std::min<int32_t>(std::max(n, 0), sizeof buf - 1)));
}
bool Checked(Wnd w) { return tlpwin_SendMessage(H(w), TLP_BM_GETCHECK, 0, 0) == TLP_BST_CHECKED; }
void Click(Wnd w) { tlpwin_SendMessage(H(w), TLP_BM_CLICK, 0, 0); }
void PumpMessages() {
  TlpMsg m;
  while (tlpwin_PeekMessage(&m, nullptr, 1))
    tlpwin_DispatchMessage(&m);
}
std::string ScreenRect(Wnd w) {
  TlpRect r{};
  tlpwin_GetWindowRect(H(w), &r);
  return std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + "+" +
         std::to_string(r.left) + "+" + std::to_string(r.top);
}
#endif

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

} // namespace hostwin
