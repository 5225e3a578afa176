// The window operations where there is no window system: a headless stand-in
// that keeps each window as a record and draws nothing. A host calls the
// plug-in from one thread at a time, so the one table of the process needs no
// lock; each window still belongs to the thread that made it, as on Windows.
#include "TlpWin.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

namespace tlpwin {

namespace {

using ClassKey = std::pair<std::string, const void *>; // name, instance

struct WindowData {
  ClassKey cls;
  uintptr_t parent = 0;
  std::vector<uintptr_t> children;
  std::string text;
  uint32_t style = 0;
  Rect rect;
  int id = 0;
  Font font = nullptr;
  Handler *handler = nullptr;
  bool checked = false;
  bool destroying = false;
  std::thread::id owner;
};

struct FontData {
  int32_t height, charset;
  std::string face;
};

struct Posted {
  std::thread::id thread;
  uintptr_t window;
  uint32_t message;
};

struct State {
  std::map<ClassKey, std::pair<void *, int>> classes; // the module held, windows of the class
  std::map<uintptr_t, WindowData> windows;
  std::map<uintptr_t, FontData> fonts;
  std::vector<Posted> queue;
  uintptr_t next = 0x10000; // handles are never reused: a stale one is simply no window
  int32_t pixelsPerInch = 96;
  int madeBeforeRefusal = -1; // -1: never refused
};

// Never destroyed: hosts and plug-ins may still call in while the process ends.
State &S() {
  static State *state = new State;
  return *state;
}

uintptr_t Key(const void *handle) { return reinterpret_cast<uintptr_t>(handle); }
Window Handle(uintptr_t key) { return reinterpret_cast<Window>(key); }

WindowData *Find(Window w) {
  auto it = S().windows.find(Key(w));
  return it == S().windows.end() ? nullptr : &it->second;
}

const FontData *FindFont(Font f) {
  auto it = S().fonts.find(Key(f));
  return it == S().fonts.end() ? nullptr : &it->second;
}

// As a module's instance handle: the address it is loaded at.
const void *InstanceOf(const void *address, Dl_info *info) {
  return address && dladdr(address, info) ? info->dli_fbase : nullptr;
}

// Children go first; a window's handler hears of its end once its children are gone.
void DestroyTree(uintptr_t key) {
  S().windows.at(key).destroying = true;
  for (uintptr_t child : std::vector<uintptr_t>(S().windows.at(key).children))
    DestroyTree(child);
  if (Handler *handler = std::exchange(S().windows.at(key).handler, nullptr))
    handler->Destroyed(Handle(key));
  WindowData &w = S().windows.at(key);
  if (WindowData *parent = Find(Handle(w.parent)))
    parent->children.erase(std::find(parent->children.begin(), parent->children.end(), key));
  auto cls = S().classes.find(w.cls);
  if (cls != S().classes.end())
    --cls->second.second;
  S().windows.erase(key);
}

} // namespace

bool RegisterWindowClass(const char *name, const void *module) {
  Dl_info info;
  const void *instance = InstanceOf(module, &info);
  if (!instance || std::strcmp(name, kButtonClass) == 0 || S().classes.count({name, instance}))
    return false;
  // The class's reference to its module: loading it again by its name.
  S().classes[{name, instance}] = {dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD), 0};
  return true;
}

bool UnregisterWindowClass(const char *name, const void *module) {
  Dl_info info;
  auto it = S().classes.find({name, InstanceOf(module, &info)});
  if (it == S().classes.end() || it->second.second > 0)
    return false;
  void *held = it->second.first;
  S().classes.erase(it);
  if (held)
    dlclose(held);
  return true;
}

// Whether a test has the next window or font refused.
static bool Refused() {
  int &left = S().madeBeforeRefusal;
  if (left > 0)
    --left;
  else if (left == 0)
    return true;
  return false;
}

Window Create(const WindowSpec &s) {
  if (Refused())
    return nullptr;
  WindowData w;
  if (std::strcmp(s.className, kButtonClass) == 0) {
    w.cls = {kButtonClass, nullptr};
  } else {
    Dl_info info;
    w.cls = {s.className, InstanceOf(s.module, &info)};
    if (!S().classes.count(w.cls))
      return nullptr;
  }
  WindowData *parent = Find(s.parent);
  if ((s.parent || (s.style & kChild)) && (!parent || parent->destroying))
    return nullptr;
  w.parent = Key(s.parent);
  w.text = s.text ? s.text : "";
  w.style = s.style;
  w.rect = s.rect;
  w.id = s.id;
  w.font = s.font;
  w.handler = s.handler;
  w.owner = std::this_thread::get_id();
  const uintptr_t key = S().next;
  S().next += 4;
  if (parent)
    parent->children.push_back(key);
  if (w.cls.second)
    ++S().classes[w.cls].second;
  S().windows[key] = std::move(w);
  return Handle(key);
}

bool Destroy(Window window) {
  WindowData *w = Find(window);
  if (!w || w->destroying || w->owner != std::this_thread::get_id())
    return false;
  DestroyTree(Key(window));
  return true;
}

void Detach(Window window) {
  if (WindowData *w = Find(window))
    w->handler = nullptr;
}

bool Post(Window window, uint32_t message) {
  WindowData *w = Find(window);
  if (!w)
    return false;
  S().queue.push_back(Posted{w->owner, Key(window), message});
  return true;
}

void SetCheck(Window button, bool checked) {
  WindowData *w = Find(button);
  if (!w)
    return;
  w->checked = checked;
  const uint32_t kind = w->style & kButtonKindMask;
  if (!w->cls.second && (kind == kRadioButton || kind == kAutoRadioButton))
    w->style = checked ? w->style | kTabStop : w->style & ~kTabStop;
}

bool ClientArea(Window window, Rect *area) {
  WindowData *w = Find(window);
  if (!w)
    return false;
  *area = Rect{0, 0, w->rect.width, w->rect.height}; // no frame: the client area is the window
  return true;
}

// The stand-in's fonts have no internal leading: the cell height is the
// character height. Height 0 is the default font's, 12.
Font MakeFont(int32_t height, int32_t charset, const char *face) {
  if (Refused())
    return nullptr;
  const uintptr_t key = S().next;
  S().next += 4;
  S().fonts[key] = FontData{height, charset, face ? face : ""};
  return Handle(key);
}

void FreeFont(Font font) { S().fonts.erase(Key(font)); }

int32_t TextHeight(Font font) {
  const FontData *f = FindFont(font);
  if (!f)
    return 0;
  return f->height == 0 ? 12 : f->height < 0 ? -f->height : f->height;
}

int32_t ScreenPixelsPerInch() { return S().pixelsPerInch; }

void RefuseAfter(int made) { S().madeBeforeRefusal = made; }

void SetScreenPixelsPerInch(int32_t pixelsPerInch) { S().pixelsPerInch = pixelsPerInch > 0 ? pixelsPerInch : 96; }

void PumpMessages(Window) {
  const std::thread::id self = std::this_thread::get_id();
  for (;;) {
    auto it = std::find_if(S().queue.begin(), S().queue.end(), [&](const Posted &m) { return m.thread == self; });
    if (it == S().queue.end())
      return;
    const Posted m = *it;
    S().queue.erase(it);
    // A message for a window that is gone is dropped.
    if (WindowData *w = Find(Handle(m.window)); w && w->handler)
      w->handler->Received(Handle(m.window), m.message);
  }
}

// No screen, no keyboard: nothing has the focus and nobody answers.
bool HasScreen() { return false; }
void FocusFirstTabStop(Window) {}
void RunDialog(Window, const bool &) { PumpMessages(); }
Rect FrameAround(const Rect &client, uint32_t, uint32_t) { return client; }

// The click goes to the nearest window with a handler: a group box passes its
// buttons' clicks on to its parent. An automatic radio button checks itself
// first and unchecks the others beside it.
void Click(Window button) {
  WindowData *w = Find(button);
  if (!w || w->cls.second || (w->style & kButtonKindMask) == kGroupBox)
    return;
  if ((w->style & kButtonKindMask) == kAutoRadioButton) {
    if (WindowData *parent = Find(Handle(w->parent)))
      for (uintptr_t c : parent->children)
        if (c != Key(button) && (Find(Handle(c))->style & kButtonKindMask) == kAutoRadioButton)
          SetCheck(Handle(c), false);
    SetCheck(button, true);
    w = Find(button);
  }
  const int id = w->id;
  for (uintptr_t at = w->parent; WindowData *p = Find(Handle(at)); at = p->parent)
    if (p->handler) {
      p->handler->Clicked(Handle(at), id);
      return;
    }
}

bool IsChecked(Window button) {
  WindowData *w = Find(button);
  return w && w->checked;
}

bool Exists(Window window) { return Find(window) != nullptr; }

Window Parent(Window window) {
  WindowData *w = Find(window);
  return w ? Handle(w->parent) : nullptr;
}

std::vector<Window> Children(Window window) {
  std::vector<Window> out;
  if (WindowData *w = Find(window))
    for (uintptr_t c : w->children)
      out.push_back(Handle(c));
  return out;
}

std::string Text(Window window) {
  WindowData *w = Find(window);
  return w ? w->text : std::string();
}

uint32_t Style(Window window) {
  WindowData *w = Find(window);
  return w ? w->style : 0;
}

Rect Placement(Window window) {
  WindowData *w = Find(window);
  return w ? w->rect : Rect{};
}

Handler *HandlerOf(Window window) {
  WindowData *w = Find(window);
  return w ? w->handler : nullptr;
}

const void *ClassInstance(Window window) {
  WindowData *w = Find(window);
  return w ? w->cls.second : nullptr;
}

bool ClassRegistered(const char *name, const void *instance) { return S().classes.count({name, instance}) != 0; }

FontInfo FontOf(Window window) {
  FontInfo info;
  WindowData *w = Find(window);
  const FontData *f = w ? FindFont(w->font) : nullptr;
  if (!f)
    return info;
  info.height = f->height;
  info.charset = f->charset;
  info.face = f->face;
  info.textHeight = TextHeight(w->font);
  return info;
}

} // namespace tlpwin
