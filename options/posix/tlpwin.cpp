// tlpwin: the headless window library. One table of windows, classes and fonts
// for the process, guarded by one lock; window procedures are always called
// without the lock held, since they call back into the library.
#include "tlpwin.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct ClassKey {
  std::string name;
  const void *instance;
  bool operator<(const ClassKey &o) const {
    return name != o.name ? name < o.name : std::less<const void *>()(instance, o.instance);
  }
};

struct WindowClass {
  TlpWndProc proc = nullptr;
  int32_t background = -1;
  int windows = 0;
};

struct Window {
  ClassKey cls;
  TlpWndProc proc = nullptr;
  uintptr_t parent = 0;
  std::vector<uintptr_t> children;
  uint32_t style = 0;
  TlpRect rect{};
  std::string text;
  intptr_t id = 0;
  intptr_t data = 0;
  TlpHfont font = nullptr;
  int check = TLP_BST_UNCHECKED;
  int32_t textColor = TLP_COLOR_WINDOWTEXT;
  std::thread::id owner;
  bool destroying = false;
};

struct Font {
  int32_t height;
  int32_t charset;
  std::string face;
};

struct State {
  std::mutex lock;
  std::map<ClassKey, WindowClass> classes;
  std::map<uintptr_t, Window> windows;
  std::map<uintptr_t, Font> fonts;
  std::map<std::thread::id, std::deque<TlpMsg>> queues;
  uintptr_t nextWindow = 0x10000;
  uintptr_t nextFont = 0x20000;
  int32_t pixelsPerInch = 96;
};

// Never destroyed: hosts and plug-ins may still call in while the process ends.
State &S() {
  static State *state = new State;
  return *state;
}

uintptr_t Key(TlpHwnd h) { return reinterpret_cast<uintptr_t>(h); }
TlpHwnd Handle(uintptr_t k) { return reinterpret_cast<TlpHwnd>(k); }

// The window behind a handle, or null; the caller holds the lock.
Window *Find(TlpHwnd h) {
  auto it = S().windows.find(Key(h));
  return it == S().windows.end() ? nullptr : &it->second;
}

const char kButtonClass[] = TLP_BUTTON_CLASS;

TlpLresult ButtonProc(TlpHwnd h, uint32_t msg, TlpWparam w, TlpLparam l) {
  switch (msg) {
  case TLP_WM_SETFONT:
  case TLP_WM_GETFONT:
  case TLP_BM_GETCHECK:
  case TLP_BM_SETCHECK: {
    std::lock_guard<std::mutex> g(S().lock);
    Window *win = Find(h);
    if (!win)
      return 0;
    if (msg == TLP_WM_SETFONT)
      win->font = reinterpret_cast<TlpHfont>(w);
    else if (msg == TLP_WM_GETFONT)
      return reinterpret_cast<TlpLresult>(win->font);
    else if (msg == TLP_BM_GETCHECK)
      return win->check;
    else
      win->check = static_cast<int>(w);
    return 0;
  }
  case TLP_BM_CLICK: {
    TlpHwnd parent = nullptr;
    intptr_t id = 0;
    {
      std::lock_guard<std::mutex> g(S().lock);
      Window *win = Find(h);
      if (!win || (win->style & TLP_WS_DISABLED))
        return 0;
      uint32_t kind = win->style & TLP_BS_TYPEMASK;
      if (kind == TLP_BS_GROUPBOX)
        return 0;
      if (kind == TLP_BS_AUTORADIOBUTTON) {
        // An automatic radio button checks itself and clears its siblings.
        if (Window *p = Find(Handle(win->parent)))
          for (uintptr_t c : p->children) {
            Window *sib = Find(Handle(c));
            if (sib && sib->cls.name == kButtonClass &&
                (sib->style & TLP_BS_TYPEMASK) == TLP_BS_AUTORADIOBUTTON)
              sib->check = TLP_BST_UNCHECKED;
          }
        win->check = TLP_BST_CHECKED;
      }
      parent = Handle(win->parent);
      id = win->id;
    }
    TlpWparam wp = (static_cast<TlpWparam>(TLP_BN_CLICKED) << 16) | (static_cast<TlpWparam>(id) & 0xFFFF);
    tlpwin_SendMessage(parent, TLP_WM_COMMAND, wp, reinterpret_cast<TlpLparam>(h));
    return 0;
  }
  default:
    return tlpwin_DefWindowProc(h, msg, w, l);
  }
}

TlpLresult Send(TlpHwnd h, uint32_t msg, TlpWparam w, TlpLparam l) { return tlpwin_SendMessage(h, msg, w, l); }

// WM_DESTROY parent first, WM_NCDESTROY children first; then the window leaves
// the table.
void DestroyTree(uintptr_t k) {
  std::vector<uintptr_t> children;
  {
    std::lock_guard<std::mutex> g(S().lock);
    Window *win = Find(Handle(k));
    if (!win || win->destroying)
      return;
    win->destroying = true;
  }
  Send(Handle(k), TLP_WM_DESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> g(S().lock);
    if (Window *win = Find(Handle(k)))
      children = win->children;
  }
  for (uintptr_t c : children)
    DestroyTree(c);
  Send(Handle(k), TLP_WM_NCDESTROY, 0, 0);
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(Handle(k));
  if (!win)
    return;
  if (Window *p = Find(Handle(win->parent)))
    p->children.erase(std::remove(p->children.begin(), p->children.end(), k), p->children.end());
  auto cls = S().classes.find(win->cls);
  if (cls != S().classes.end())
    --cls->second.windows;
  S().windows.erase(k);
}

} // namespace

extern "C" {

int tlpwin_RegisterClass(const char *name, const void *instance, TlpWndProc proc, int32_t background) {
  if (!name || !*name || !proc || std::strcmp(name, kButtonClass) == 0)
    return 0;
  std::lock_guard<std::mutex> g(S().lock);
  ClassKey key{name, instance};
  if (S().classes.count(key))
    return 0;
  WindowClass c;
  c.proc = proc;
  c.background = background;
  S().classes[key] = c;
  return 1;
}

int tlpwin_UnregisterClass(const char *name, const void *instance) {
  if (!name)
    return 0;
  std::lock_guard<std::mutex> g(S().lock);
  auto it = S().classes.find(ClassKey{name, instance});
  if (it == S().classes.end() || it->second.windows > 0)
    return 0;
  S().classes.erase(it);
  return 1;
}

int tlpwin_IsClassRegistered(const char *name, const void *instance) {
  if (!name)
    return 0;
  std::lock_guard<std::mutex> g(S().lock);
  return S().classes.count(ClassKey{name, instance}) ? 1 : 0;
}

int32_t tlpwin_GetClassBackground(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win)
    return -1;
  auto it = S().classes.find(win->cls);
  return it == S().classes.end() ? -1 : it->second.background;
}

const void *tlpwin_GetClassInstance(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win ? win->cls.instance : nullptr;
}

TlpHwnd tlpwin_CreateWindow(const char *className, const void *instance, const char *text,
                            uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                            TlpHwnd parent, intptr_t id, void *createParam) {
  if (!className)
    return nullptr;
  uintptr_t k;
  {
    std::lock_guard<std::mutex> g(S().lock);
    Window win;
    if (std::strcmp(className, kButtonClass) == 0) {
      win.cls = ClassKey{kButtonClass, nullptr};
      win.proc = ButtonProc;
    } else {
      auto it = S().classes.find(ClassKey{className, instance});
      if (it == S().classes.end())
        return nullptr;
      win.cls = it->first;
      win.proc = it->second.proc;
      ++it->second.windows;
    }
    Window *p = parent ? Find(parent) : nullptr;
    if ((parent && (!p || p->destroying)) || ((style & TLP_WS_CHILD) && !p)) {
      auto it = S().classes.find(win.cls);
      if (it != S().classes.end())
        --it->second.windows;
      return nullptr;
    }
    win.parent = p ? Key(parent) : 0;
    win.style = style;
    win.rect = TlpRect{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    win.text = text ? text : "";
    win.id = id;
    win.owner = std::this_thread::get_id();
    k = S().nextWindow;
    S().nextWindow += 4;
    S().windows[k] = win;
    if (p)
      p->children.push_back(k);
  }
  TlpCreateStruct cs{createParam, parent, style, x, y, width, height, text};
  TlpLparam l = reinterpret_cast<TlpLparam>(&cs);
  if (Send(Handle(k), TLP_WM_NCCREATE, 0, l) == 0 || Send(Handle(k), TLP_WM_CREATE, 0, l) == -1) {
    DestroyTree(k);
    return nullptr;
  }
  return Handle(k);
}

int tlpwin_DestroyWindow(TlpHwnd window) {
  {
    std::lock_guard<std::mutex> g(S().lock);
    Window *win = Find(window);
    if (!win || win->owner != std::this_thread::get_id())
      return 0;
  }
  DestroyTree(Key(window));
  return 1;
}

int tlpwin_IsWindow(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  return Find(window) ? 1 : 0;
}

TlpHwnd tlpwin_GetParent(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win ? Handle(win->parent) : nullptr;
}

TlpHwnd tlpwin_GetFirstChild(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win && !win->children.empty() ? Handle(win->children.front()) : nullptr;
}

TlpHwnd tlpwin_GetNextSibling(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  Window *p = win ? Find(Handle(win->parent)) : nullptr;
  if (!p)
    return nullptr;
  auto it = std::find(p->children.begin(), p->children.end(), Key(window));
  if (it == p->children.end() || ++it == p->children.end())
    return nullptr;
  return Handle(*it);
}

intptr_t tlpwin_GetId(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win ? win->id : 0;
}

uint32_t tlpwin_GetStyle(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win ? win->style : 0;
}

int tlpwin_GetWindowRect(TlpHwnd window, TlpRect *rect) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win || !rect)
    return 0;
  *rect = win->rect;
  return 1;
}

int tlpwin_GetClientRect(TlpHwnd window, TlpRect *rect) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win || !rect)
    return 0;
  *rect = TlpRect{0, 0, win->rect.right - win->rect.left, win->rect.bottom - win->rect.top};
  return 1;
}

int tlpwin_MoveWindow(TlpHwnd window, int32_t x, int32_t y, int32_t width, int32_t height) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win)
    return 0;
  win->rect = TlpRect{x, y, x + std::max(width, 0), y + std::max(height, 0)};
  return 1;
}

int32_t tlpwin_GetWindowText(TlpHwnd window, char *buffer, int32_t size) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  std::string text = win ? win->text : std::string();
  if (buffer && size > 0) {
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int32_t>(text.size());
}

int tlpwin_SetWindowText(TlpHwnd window, const char *text) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win)
    return 0;
  win->text = text ? text : "";
  return 1;
}

intptr_t tlpwin_SetWindowData(TlpHwnd window, intptr_t data) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win)
    return 0;
  std::swap(win->data, data);
  return data;
}

intptr_t tlpwin_GetWindowData(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win ? win->data : 0;
}

TlpWndProc tlpwin_SetWindowProc(TlpHwnd window, TlpWndProc proc) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win || !proc)
    return nullptr;
  std::swap(win->proc, proc);
  return proc;
}

int tlpwin_SetTextColor(TlpHwnd window, int32_t color) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  if (!win)
    return 0;
  win->textColor = color;
  return 1;
}

int32_t tlpwin_GetTextColor(TlpHwnd window) {
  std::lock_guard<std::mutex> g(S().lock);
  Window *win = Find(window);
  return win ? win->textColor : -1;
}

TlpHfont tlpwin_CreateFont(int32_t height, int32_t charset, const char *face) {
  std::lock_guard<std::mutex> g(S().lock);
  uintptr_t k = S().nextFont;
  S().nextFont += 4;
  S().fonts[k] = Font{height, charset, face ? face : ""};
  return reinterpret_cast<TlpHfont>(k);
}

int tlpwin_DeleteFont(TlpHfont font) {
  std::lock_guard<std::mutex> g(S().lock);
  return S().fonts.erase(reinterpret_cast<uintptr_t>(font)) ? 1 : 0;
}

int32_t tlpwin_GetTextHeight(TlpHfont font) {
  std::lock_guard<std::mutex> g(S().lock);
  auto it = S().fonts.find(reinterpret_cast<uintptr_t>(font));
  if (it == S().fonts.end() || it->second.height == 0)
    return 12;
  return it->second.height < 0 ? -it->second.height : it->second.height;
}

int tlpwin_GetFontInfo(TlpHfont font, int32_t *height, int32_t *charset, char *face, int32_t faceSize) {
  std::lock_guard<std::mutex> g(S().lock);
  auto it = S().fonts.find(reinterpret_cast<uintptr_t>(font));
  if (it == S().fonts.end())
    return 0;
  if (height)
    *height = it->second.height;
  if (charset)
    *charset = it->second.charset;
  if (face && faceSize > 0) {
    size_t n = std::min(it->second.face.size(), static_cast<size_t>(faceSize - 1));
    std::memcpy(face, it->second.face.data(), n);
    face[n] = '\0';
  }
  return 1;
}

int32_t tlpwin_GetScreenPixelsPerInch(void) {
  std::lock_guard<std::mutex> g(S().lock);
  return S().pixelsPerInch;
}

void tlpwin_SetScreenPixelsPerInch(int32_t pixelsPerInch) {
  std::lock_guard<std::mutex> g(S().lock);
  S().pixelsPerInch = pixelsPerInch > 0 ? pixelsPerInch : 96;
}

TlpLresult tlpwin_SendMessage(TlpHwnd window, uint32_t message, TlpWparam wParam, TlpLparam lParam) {
  TlpWndProc proc;
  {
    std::lock_guard<std::mutex> g(S().lock);
    Window *win = Find(window);
    if (!win)
      return 0;
    proc = win->proc;
  }
  return proc(window, message, wParam, lParam);
}

int tlpwin_PostMessage(TlpHwnd window, uint32_t message, TlpWparam wParam, TlpLparam lParam) {
  std::lock_guard<std::mutex> g(S().lock);
  std::thread::id thread = std::this_thread::get_id();
  if (window) {
    Window *win = Find(window);
    if (!win)
      return 0;
    thread = win->owner;
  }
  S().queues[thread].push_back(TlpMsg{window, message, wParam, lParam});
  return 1;
}

int tlpwin_PeekMessage(TlpMsg *msg, TlpHwnd filter, int remove) {
  std::lock_guard<std::mutex> g(S().lock);
  auto q = S().queues.find(std::this_thread::get_id());
  if (q == S().queues.end())
    return 0;
  for (auto it = q->second.begin(); it != q->second.end(); ++it) {
    if (filter && it->window != filter)
      continue;
    if (msg)
      *msg = *it;
    if (remove)
      q->second.erase(it);
    return 1;
  }
  return 0;
}

TlpLresult tlpwin_DispatchMessage(const TlpMsg *msg) {
  if (!msg || !msg->window)
    return 0;
  return tlpwin_SendMessage(msg->window, msg->message, msg->wParam, msg->lParam);
}

TlpLresult tlpwin_DefWindowProc(TlpHwnd, uint32_t message, TlpWparam, TlpLparam) {
  return message == TLP_WM_NCCREATE ? 1 : 0;
}

} // extern "C"
