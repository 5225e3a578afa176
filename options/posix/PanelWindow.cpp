// The panel's windows where there is no system window library: the same
// windows in tlpwin, the headless stand-in that the host shares.
#include "Expoptf.h"
#include "tlpwin.h"

#include <dlfcn.h>

namespace panel_window {
namespace {

const char kClassName[] = "TExportOptionForm";
const uint32_t kReleaseMessage = TLP_WM_USER + 0x100;
const int kFirstButtonId = 0x100;
const uint32_t kPanelStyle = TLP_WS_CHILD | TLP_WS_VISIBLE | TLP_WS_CLIPSIBLINGS | TLP_WS_CLIPCHILDREN;

// Tells this module's class from another copy's, as an instance handle does.
const char kInstance = 0;
bool g_registered = false;
void *g_heldModule = nullptr; // the class's reference to this module
TlpWndProc g_buttonProc = nullptr;

TlpHwnd H(Handle h) { return static_cast<TlpHwnd>(h); }
Events *EventsOf(TlpHwnd h) { return reinterpret_cast<Events *>(tlpwin_GetWindowData(h)); }

TlpLresult PanelProc(TlpHwnd h, uint32_t msg, TlpWparam w, TlpLparam l) {
  switch (msg) {
  case TLP_WM_NCCREATE:
    tlpwin_SetWindowData(h, reinterpret_cast<intptr_t>(reinterpret_cast<TlpCreateStruct *>(l)->createParam));
    break;
  case TLP_WM_COMMAND:
    if ((w >> 16) == TLP_BN_CLICKED) {
      int item = static_cast<int>(w & 0xFFFF) - kFirstButtonId;
      if (Events *e = EventsOf(h); e && item >= 0 && item < OptionPanelModel::kItemCount)
        e->Clicked(item);
      return 0;
    }
    break;
  case kReleaseMessage:
    tlpwin_DestroyWindow(h);
    return 0;
  case TLP_WM_NCDESTROY:
    if (Events *e = EventsOf(h)) {
      tlpwin_SetWindowData(h, 0);
      e->Destroyed();
    }
    break;
  }
  return tlpwin_DefWindowProc(h, msg, w, l);
}

// The radio buttons' notices reach the group box, which hands them on.
TlpLresult GroupBoxProc(TlpHwnd h, uint32_t msg, TlpWparam w, TlpLparam l) {
  if (msg == TLP_WM_COMMAND)
    return tlpwin_SendMessage(tlpwin_GetParent(h), msg, w, l);
  return g_buttonProc(h, msg, w, l);
}

TlpHwnd MakeButton(const char *text, uint32_t style, const PanelRect &r, TlpHwnd parent, int id, Font font) {
  TlpHwnd b = tlpwin_CreateWindow(TLP_BUTTON_CLASS, nullptr, text, TLP_WS_CHILD | TLP_WS_VISIBLE | style,
                                  r.left, r.top, r.width, r.height, parent, id, nullptr);
  if (b) {
    tlpwin_SendMessage(b, TLP_WM_SETFONT, reinterpret_cast<TlpWparam>(font), 0);
    tlpwin_SetTextColor(b, TLP_COLOR_WINDOWTEXT);
  }
  return b;
}

// A second reference to this module, taken by loading it again by its name.
void *HoldModule() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void *>(&PanelProc), &info) || !info.dli_fname)
    return nullptr;
  return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
}

} // namespace

int32_t ScreenPixelsPerInch() { return tlpwin_GetScreenPixelsPerInch(); }

Font CreatePanelFont(int32_t height) { return tlpwin_CreateFont(height, kShiftJisCharset, kPanelFontFace); }

int32_t TextHeight(Font font) { return tlpwin_GetTextHeight(static_cast<TlpHfont>(font)); }

void DeleteFont(Font font) {
  if (font)
    tlpwin_DeleteFont(static_cast<TlpHfont>(font));
}

bool Create(Windows &w, Events *events, Handle parent, const OptionPanelModel &model, Font font) {
  TlpRect client;
  if (!g_registered) {
    g_registered = tlpwin_RegisterClass(kClassName, &kInstance, PanelProc, TLP_COLOR_BTNFACE) != 0;
    if (g_registered)
      g_heldModule = HoldModule();
  }
  if (!g_registered || !tlpwin_GetClientRect(H(parent), &client))
    return false;
  TlpHwnd panel = tlpwin_CreateWindow(kClassName, &kInstance, kPanelCaption, kPanelStyle, 0, 0,
                                      client.right, client.bottom, H(parent), 0, events);
  if (!panel)
    return false;
  tlpwin_SetTextColor(panel, TLP_COLOR_WINDOWTEXT);
  Windows made;
  made.panel = panel;
  bool ok = true;
  TlpHwnd group = MakeButton(kConvMethodCaption, TLP_BS_GROUPBOX, model.group, panel, 1, font);
  if (group) {
    made.group = group;
    g_buttonProc = tlpwin_SetWindowProc(group, GroupBoxProc);
    for (int k = 0; k < OptionPanelModel::kItemCount && ok; ++k) {
      made.buttons[k] = MakeButton(kConvMethodItems[k], TLP_BS_RADIOBUTTON | (k == 0 ? TLP_WS_GROUP : 0),
                                   model.Button(k), group, kFirstButtonId + k, font);
      ok = made.buttons[k] != nullptr;
    }
  }
  if (!group || !ok) {
    tlpwin_SetWindowData(panel, 0);
    tlpwin_DestroyWindow(panel);
    return false;
  }
  w = made;
  return true;
}

void SetCheck(Handle button, bool checked) {
  tlpwin_SendMessage(H(button), TLP_BM_SETCHECK, checked ? TLP_BST_CHECKED : TLP_BST_UNCHECKED, 0);
}

void PostRelease(Handle panel) { tlpwin_PostMessage(H(panel), kReleaseMessage, 0, 0); }

void Destroy(Handle panel) {
  if (tlpwin_DestroyWindow(H(panel)))
    return;
  // Only the panel's own thread can destroy it: cut it loose from this module.
  tlpwin_SetWindowData(H(panel), 0);
  tlpwin_SetWindowProc(H(panel), tlpwin_DefWindowProc);
  if (TlpHwnd group = tlpwin_GetFirstChild(H(panel)); group && g_buttonProc)
    tlpwin_SetWindowProc(group, g_buttonProc);
}

void UnregisterPanelClass() {
  if (!g_registered || !tlpwin_UnregisterClass(kClassName, &kInstance))
    return;
  g_registered = false;
  // The host's own reference keeps the module loaded until this returns.
  if (void *held = g_heldModule) {
    g_heldModule = nullptr;
    dlclose(held);
  }
}

} // namespace panel_window
