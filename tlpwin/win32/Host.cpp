// The window operations on Windows that a host uses and tests read windows
// back with; apart, so that a module that only owns windows leaves them out.
#include "TlpWin.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace tlpwin {

namespace {
HWND H(Window w) { return static_cast<HWND>(w); }

// The dialog's keys first; IsDialogMessage dispatches the rest of its messages itself.
void Dispatch(HWND dialog, MSG *m) {
  if (dialog && IsWindow(dialog) && IsDialogMessageA(dialog, m))
    return;
  TranslateMessage(m);
  DispatchMessageA(m);
}
} // namespace

void PumpMessages(Window dialog) {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE))
    Dispatch(H(dialog), &m);
}

namespace {

// Whether the desktop is drawn by no display at all. Wine's headless
// driver gives a desktop, windows and a screen size like any other, and
// shows nothing; the driver of the desktop's display device is named in
// the device's key, which the desktop window points to.
bool DrawnByNoDisplay() {
  const ATOM guid = static_cast<ATOM>(
      reinterpret_cast<ULONG_PTR>(GetPropA(GetDesktopWindow(), "__wine_display_device_guid")));
  char name[64] = {};
  if (!guid || !GlobalGetAtomNameA(guid, name, sizeof name))
    return false;
  const std::string key = std::string("System\\CurrentControlSet\\Control\\Video\\{") + name + "}\\0000";
  HKEY device = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &device) != ERROR_SUCCESS)
    return false;
  char driver[64] = {};
  DWORD type = 0, size = sizeof driver - 1;
  const bool read = RegQueryValueExA(device, "GraphicsDriver", nullptr, &type,
                                     reinterpret_cast<BYTE *>(driver), &size) == ERROR_SUCCESS;
  RegCloseKey(device);
  return read && type == REG_SZ && lstrcmpiA(driver, "null") == 0;
}

} // namespace

bool HasScreen() {
  USEROBJECTFLAGS flags = {};
  DWORD size = 0;
  HWINSTA station = GetProcessWindowStation();
  return station && GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &size) &&
         (flags.dwFlags & WSF_VISIBLE) && !DrawnByNoDisplay();
}

void FocusFirstTabStop(Window dialog) {
  if (HWND first = GetNextDlgTabItem(H(dialog), nullptr, FALSE))
    SetFocus(first);
}

void RunDialog(Window dialog, const bool &done) {
  HWND d = H(dialog);
  MSG m;
  while (!done && IsWindow(d)) {
    const BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT belongs to an outer loop.
      if (got == 0)
        PostQuitMessage(static_cast<int>(m.wParam));
      return;
    }
    Dispatch(d, &m);
  }
}

Rect FrameAround(const Rect &client, uint32_t style, uint32_t exStyle) {
  RECT r{client.left, client.top, client.left + client.width, client.top + client.height};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  const int32_t width = r.right - r.left, height = r.bottom - r.top;
  RECT work;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
    return Rect{client.left, client.top, width, height};
  return Rect{work.left + std::max<int32_t>(0, (work.right - work.left - width) / 2),
              work.top + std::max<int32_t>(0, (work.bottom - work.top - height) / 2), width, height};
}

void Click(Window button) { SendMessageA(H(button), BM_CLICK, 0, 0); }

bool IsChecked(Window button) { return SendMessageA(H(button), BM_GETCHECK, 0, 0) == BST_CHECKED; }

bool Exists(Window window) { return IsWindow(H(window)) != FALSE; }

Window Parent(Window window) {
  HWND parent = GetAncestor(H(window), GA_PARENT);
  return parent == GetDesktopWindow() ? nullptr : parent;
}

std::vector<Window> Children(Window window) {
  std::vector<Window> out;
  for (HWND c = GetWindow(H(window), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    out.push_back(c);
  return out;
}

std::string Text(Window window) {
  char buf[256];
  int n = GetWindowTextA(H(window), buf, sizeof buf);
  return std::string(buf, static_cast<size_t>(n > 0 ? n : 0));
}

uint32_t Style(Window window) { return static_cast<uint32_t>(GetWindowLongA(H(window), GWL_STYLE)); }

Rect Placement(Window window) {
  RECT r;
  if (!GetWindowRect(H(window), &r))
    return Rect{};
  POINT corner{r.left, r.top};
  MapWindowPoints(HWND_DESKTOP, GetAncestor(H(window), GA_PARENT), &corner, 1);
  return Rect{corner.x, corner.y, r.right - r.left, r.bottom - r.top};
}

Handler *HandlerOf(Window window) {
  return reinterpret_cast<Handler *>(GetWindowLongPtrA(H(window), GWLP_USERDATA));
}

const void *ClassInstance(Window window) {
  return reinterpret_cast<const void *>(GetClassLongPtrA(H(window), GCLP_HMODULE));
}

bool ClassRegistered(const char *name, const void *instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  return GetClassInfoExA(static_cast<HINSTANCE>(const_cast<void *>(instance)), name, &wc) != FALSE;
}

FontInfo FontOf(Window window) {
  FontInfo info;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(H(window), WM_GETFONT, 0, 0));
  LOGFONTA lf;
  if (!font || !GetObjectA(font, sizeof lf, &lf))
    return info;
  info.height = lf.lfHeight;
  info.charset = lf.lfCharSet;
  info.face = lf.lfFaceName;
  info.textHeight = TextHeight(font);
  return info;
}

} // namespace tlpwin
