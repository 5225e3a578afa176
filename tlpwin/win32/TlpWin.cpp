// The window operations on Windows that a window's owner uses: the system's
// own, through its ANSI functions. Each module links its own copy, so the
// procedure of a class that a module registers is that module's code.
#include "TlpWin.h"

#include <windows.h>

#include <cstring>

namespace tlpwin {

static_assert(kPopup == WS_POPUP && kChild == WS_CHILD && kVisible == WS_VISIBLE &&
                  kClipSiblings == WS_CLIPSIBLINGS && kClipChildren == WS_CLIPCHILDREN &&
                  kCaption == WS_CAPTION && kBorder == WS_BORDER && kSysMenu == WS_SYSMENU &&
                  kGroup == WS_GROUP && kTabStop == WS_TABSTOP && kPushButton == BS_PUSHBUTTON &&
                  kDefPushButton == BS_DEFPUSHBUTTON && kRadioButton == BS_RADIOBUTTON &&
                  kGroupBox == BS_GROUPBOX && kAutoRadioButton == BS_AUTORADIOBUTTON &&
                  kButtonKindMask == BS_TYPEMASK,
              "the system's styles");
static_assert(kExControlParent == WS_EX_CONTROLPARENT && kExDialogFrame == WS_EX_DLGMODALFRAME,
              "the system's extended styles");
static_assert(kOkId == IDOK && kCancelId == IDCANCEL, "the system's dialog ids");
static_assert(kFirstPrivateMessage == WM_USER, "the system's first private message");

namespace {

HWND H(Window w) { return static_cast<HWND>(w); }

HINSTANCE InstanceOf(const void *address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(address), &module);
  return module;
}

WNDPROC g_buttonProc = nullptr; // the system's procedure under our group boxes

Handler *HandlerIn(HWND h) { return reinterpret_cast<Handler *>(GetWindowLongPtrA(h, GWLP_USERDATA)); }

LRESULT ControlColours(HDC dc) {
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK ClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
  case WM_NCCREATE:
    SetWindowLongPtrA(h, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA *>(l)->lpCreateParams));
    break;
  case WM_COMMAND:
    if (HIWORD(w) != BN_CLICKED)
      break;
    if (Handler *handler = HandlerIn(h))
      handler->Clicked(h, LOWORD(w));
    return 0;
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return ControlColours(reinterpret_cast<HDC>(w));
  case WM_CLOSE:
    // As a dialog takes it: Cancel, and the owner decides.
    if (GetWindowLongA(h, GWL_STYLE) & WS_CHILD)
      break;
    if (Handler *handler = HandlerIn(h)) {
      handler->Clicked(h, IDCANCEL);
      return 0;
    }
    break;
  case WM_NCDESTROY:
    if (Handler *handler = HandlerIn(h)) {
      SetWindowLongPtrA(h, GWLP_USERDATA, 0);
      handler->Destroyed(h);
    }
    break;
  default:
    if (msg < WM_USER || msg >= WM_APP)
      break;
    if (Handler *handler = HandlerIn(h))
      handler->Received(h, msg);
    return 0;
  }
  return DefWindowProcA(h, msg, w, l);
}

// Buttons inside a group box tell the group box of their clicks and ask it
// for their colours; it hands both on to its parent.
LRESULT CALLBACK GroupBoxProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
  case WM_COMMAND:
  case WM_CTLCOLORSTATIC:
  case WM_CTLCOLORBTN:
    return SendMessageA(GetParent(h), msg, w, l);
  }
  return CallWindowProcA(g_buttonProc, h, msg, w, l);
}

LONG_PTR ProcValue(WNDPROC proc) { return reinterpret_cast<LONG_PTR>(proc); }

} // namespace

bool RegisterWindowClass(const char *name, const void *module) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ClassProc;
  wc.hInstance = InstanceOf(module);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = name;
  if (!RegisterClassExA(&wc))
    return false;
  HMODULE held = nullptr; // the class's reference, given back when it goes
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCSTR>(module), &held);
  return true;
}

bool UnregisterWindowClass(const char *name, const void *module) {
  HINSTANCE instance = InstanceOf(module);
  if (!UnregisterClassA(name, instance))
    return false;
  FreeLibrary(instance);
  return true;
}

Window Create(const WindowSpec &s) {
  HWND h = CreateWindowExA(s.exStyle, s.className, s.text, s.style, s.rect.left, s.rect.top,
                           s.rect.width, s.rect.height, H(s.parent),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(s.id)),
                           InstanceOf(s.module ? s.module : kButtonClass), s.handler);
  if (!h)
    return nullptr;
  if (s.font)
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(s.font), FALSE);
  if (std::strcmp(s.className, kButtonClass) == 0 && (s.style & kButtonKindMask) == kGroupBox)
    g_buttonProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, ProcValue(GroupBoxProc)));
  return h;
}

bool Destroy(Window window) { return DestroyWindow(H(window)) != FALSE; }

void Detach(Window window) {
  HWND h = H(window);
  SetWindowLongPtrA(h, GWLP_USERDATA, 0);
  SetWindowLongPtrA(h, GWLP_WNDPROC, ProcValue(DefWindowProcA));
  for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (GetWindowLongPtrA(c, GWLP_WNDPROC) == ProcValue(GroupBoxProc))
      SetWindowLongPtrA(c, GWLP_WNDPROC, ProcValue(g_buttonProc));
}

bool Post(Window window, uint32_t message) { return PostMessageA(H(window), message, 0, 0) != FALSE; }

void SetCheck(Window button, bool checked) {
  SendMessageA(H(button), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool ClientArea(Window window, Rect *area) {
  RECT r;
  if (!GetClientRect(H(window), &r))
    return false;
  *area = Rect{0, 0, r.right, r.bottom};
  return true;
}

Font MakeFont(int32_t height, int32_t charset, const char *face) {
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, static_cast<DWORD>(charset),
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

void FreeFont(Font font) {
  if (font)
    DeleteObject(static_cast<HFONT>(font));
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

int32_t ScreenPixelsPerInch() {
  const int32_t kDefault = 96;
  HDC dc = GetDC(nullptr);
  if (!dc)
    return kDefault;
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : kDefault;
}

} // namespace tlpwin
