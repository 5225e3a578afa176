// The panel's windows on Windows: a window class of the module's own for the
// panel, and the system's button control for the group box and the radio
// buttons.
#include "Expoptf.h"

#include <windows.h>

namespace panel_window {
namespace {

const char kClassName[] = "TExportOptionForm";
// The panel's private message: destroy yourself. The class is the module's
// own, so a number from the class's private range is safe.
const UINT kReleaseMessage = WM_USER + 0x100;
const int kFirstButtonId = 0x100;
const DWORD kPanelStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

ATOM g_class = 0;
HMODULE g_heldModule = nullptr; // the class's reference to this module
WNDPROC g_buttonProc = nullptr; // the system's procedure under the group box

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
  return module;
}

Events *EventsOf(HWND h) { return reinterpret_cast<Events *>(GetWindowLongPtrA(h, 0)); }

LRESULT PanelColours(HDC dc) {
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK PanelProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
  case WM_NCCREATE:
    SetWindowLongPtrA(h, 0, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(l)->lpCreateParams));
    break;
  case WM_COMMAND:
    if (HIWORD(w) == BN_CLICKED) {
      int item = static_cast<int>(LOWORD(w)) - kFirstButtonId;
      if (Events *e = EventsOf(h); e && item >= 0 && item < OptionPanelModel::kItemCount)
        e->Clicked(item);
      return 0;
    }
    break;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return PanelColours(reinterpret_cast<HDC>(w));
  case kReleaseMessage:
    DestroyWindow(h);
    return 0;
  case WM_NCDESTROY:
    if (Events *e = EventsOf(h)) {
      SetWindowLongPtrA(h, 0, 0);
      e->Destroyed();
    }
    break;
  }
  return DefWindowProcA(h, msg, w, l);
}

// The radio buttons are the group box's children: their notices and colour
// requests reach the group box, which hands them on to the panel.
LRESULT CALLBACK GroupBoxProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
  case WM_COMMAND:
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return SendMessageA(GetParent(h), msg, w, l);
  }
  return CallWindowProcA(g_buttonProc, h, msg, w, l);
}

bool RegisterPanelClass() {
  if (g_class)
    return true;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = PanelProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = ModuleInstance();
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kClassName;
  g_class = RegisterClassExA(&wc);
  if (g_class)
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&PanelProc),
                       &g_heldModule);
  return g_class != 0;
}

HWND MakeButton(const char *text, DWORD style, const PanelRect &r, HWND parent, int id, Font font) {
  HWND b = CreateWindowExA(0, "BUTTON", text, WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.width,
                           r.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           ModuleInstance(), nullptr);
  if (b)
    SendMessageA(b, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return b;
}

} // namespace

int32_t ScreenPixelsPerInch() {
  HDC dc = GetDC(nullptr);
  if (!dc)
    return OptionPanelModel::kDesignPixelsPerInch;
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : OptionPanelModel::kDesignPixelsPerInch;
}

Font CreatePanelFont(int32_t height) {
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, kPanelFontFace);
}

int32_t TextHeight(Font font) {
  HDC dc = GetDC(nullptr);
  if (!dc)
    return 0;
  HGDIOBJ old = SelectObject(dc, static_cast<HFONT>(font));
  TEXTMETRICA tm;
  BOOL ok = GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return ok ? tm.tmHeight : 0;
}

void DeleteFont(Font font) {
  if (font)
    DeleteObject(static_cast<HFONT>(font));
}

bool Create(Windows &w, Events *events, Handle parent, const OptionPanelModel &model, Font font) {
  HWND host = static_cast<HWND>(parent);
  RECT client;
  if (!RegisterPanelClass() || !GetClientRect(host, &client))
    return false;
  HWND panel = CreateWindowExA(0, kClassName, kPanelCaption, kPanelStyle, 0, 0, client.right,
                               client.bottom, host, nullptr, ModuleInstance(), events);
  if (!panel)
    return false;
  SendMessageA(panel, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  Windows made;
  made.panel = panel;
  bool ok = true;
  HWND group = MakeButton(kConvMethodCaption, BS_GROUPBOX, model.group, panel, 1, font);
  if (group) {
    made.group = group;
    g_buttonProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(group, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroupBoxProc)));
    for (int k = 0; k < OptionPanelModel::kItemCount && ok; ++k) {
      made.buttons[k] = MakeButton(kConvMethodItems[k], BS_RADIOBUTTON | (k == 0 ? WS_GROUP : 0),
                                   model.Button(k), group, kFirstButtonId + k, font);
      ok = made.buttons[k] != nullptr;
    }
  }
  if (!group || !ok) {
    // Nothing of a half-made panel stays, and its end is not reported.
    SetWindowLongPtrA(panel, 0, 0);
    DestroyWindow(panel);
    return false;
  }
  w = made;
  return true;
}

void SetCheck(Handle button, bool checked) {
  SendMessageA(static_cast<HWND>(button), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void PostRelease(Handle panel) { PostMessageA(static_cast<HWND>(panel), kReleaseMessage, 0, 0); }

void Destroy(Handle panel) {
  HWND h = static_cast<HWND>(panel);
  if (DestroyWindow(h))
    return;
  // Only the panel's own thread can destroy it. Cut its windows loose from the
  // module's code so that nothing calls into a module that is gone.
  SetWindowLongPtrA(h, 0, 0);
  SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
  if (HWND group = GetWindow(h, GW_CHILD); group && g_buttonProc)
    SetWindowLongPtrA(group, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_buttonProc));
}

void UnregisterPanelClass() {
  if (!g_class || !UnregisterClassA(kClassName, ModuleInstance()))
    return;
  g_class = 0;
  // Called by the host through an export, so the host's own reference keeps
  // the module loaded until this returns.
  if (HMODULE held = g_heldModule) {
    g_heldModule = nullptr;
    FreeLibrary(held);
  }
}

} // namespace panel_window
