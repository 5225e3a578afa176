// tlpwin: the few window operations that the plug-in's options panel and its
// hosts need, in one interface with two implementations: the system's windows
// on Windows (a static library in each module, over user32 and gdi32), and
// elsewhere a headless stand-in that draws nothing (a shared library, so that
// a host and the plug-in it loads see the same windows, as both see the same
// system on Windows).
//
// Styles and message numbers have their Windows values. A window belongs to
// the thread that made it: only that thread destroys it, and the messages
// posted to it wait for that thread's message loop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(_WIN32)
#define TLPWIN_API
#else
#define TLPWIN_API __attribute__((visibility("default")))
#endif

namespace tlpwin {

using Window = void *; // HWND on Windows
using Font = void *;   // HFONT on Windows

// A rectangle in its parent's client area (on the screen for a top-level window).
struct Rect {
  int32_t left = 0, top = 0, width = 0, height = 0;
  bool operator==(const Rect &o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};

// Window styles (WS_*, BS_*). The low four bits of a button's style give its kind.
constexpr uint32_t kPopup = 0x80000000;
constexpr uint32_t kChild = 0x40000000;
constexpr uint32_t kVisible = 0x10000000;
constexpr uint32_t kClipSiblings = 0x04000000;
constexpr uint32_t kClipChildren = 0x02000000;
constexpr uint32_t kCaption = 0x00C00000;
constexpr uint32_t kBorder = 0x00800000;
constexpr uint32_t kSysMenu = 0x00080000;
// The first control of a group (the keyboard's arrows stay inside a group),
// and a control that Tab stops at.
constexpr uint32_t kGroup = 0x00020000;
constexpr uint32_t kTabStop = 0x00010000;
constexpr uint32_t kPushButton = 0x0000;
constexpr uint32_t kDefPushButton = 0x0001;
constexpr uint32_t kRadioButton = 0x0004;
constexpr uint32_t kGroupBox = 0x0007;
constexpr uint32_t kAutoRadioButton = 0x0009;
constexpr uint32_t kButtonKindMask = 0x000F;
// Extended styles (WS_EX_*): a window whose children the keyboard reaches
// as if they were its parent's own controls, and a dialog's frame.
constexpr uint32_t kExControlParent = 0x00010000;
constexpr uint32_t kExDialogFrame = 0x00000001;

// The ids of a dialog's OK and Cancel buttons (IDOK, IDCANCEL).
constexpr int kOkId = 1;
constexpr int kCancelId = 2;

// The first message number a window class may use for messages of its own
// (WM_USER).
constexpr uint32_t kFirstPrivateMessage = 0x0400;

// The standard button control: push and radio buttons, group boxes.
inline constexpr char kButtonClass[] = "BUTTON";

// What a window of a class registered here is told, on its own thread.
class Handler {
public:
  // The button `id` inside `self` was clicked. A group box passes its own
  // buttons' clicks on to its parent. As in a dialog, Enter and Esc click
  // kOkId and kCancelId (see PumpMessages), and closing a top-level window
  // (its close box, Alt+F4) clicks kCancelId: the window stays until its
  // owner destroys it.
  virtual void Clicked(Window self, int id) = 0;
  // A private message posted to `self` has come through the message loop.
  virtual void Received(Window self, uint32_t message) = 0;
  // `self` is gone, its children first; nothing is called after this.
  virtual void Destroyed(Window self) = 0;

protected:
  ~Handler() = default;
};

// ---- What a window's owner does ----------------------------------------------

// Registers a window class of the module that holds the address `module`.
// Its windows have the button face as background and draw the texts of their
// controls in the window-text colour. While the class is registered it keeps
// that module loaded, so that no window of it ever outlives the module's code.
TLPWIN_API bool RegisterWindowClass(const char *name, const void *module);
// Fails while a window of the class exists; then the module stays held.
TLPWIN_API bool UnregisterWindowClass(const char *name, const void *module);

struct WindowSpec {
  const char *className = kButtonClass; // with `module`: a class registered above
  const void *module = nullptr;
  const char *text = "";
  uint32_t style = 0;
  uint32_t exStyle = 0; // WS_EX_*; none matters to the stand-in
  Rect rect;
  Window parent = nullptr;
  int id = 0;              // what a click on a button reports
  Font font = nullptr;     // given to the window (WM_SETFONT) once it is made
  Handler *handler = nullptr; // for a window of a registered class
};
// Null when the window cannot be made (a child of a parent that is gone, a
// class that is not registered).
TLPWIN_API Window Create(const WindowSpec &spec);
// False, with nothing done, for a window of another thread or one that is gone.
TLPWIN_API bool Destroy(Window window);
// The window stops calling its handler and any code of the module it belongs
// to: for a window that cannot be destroyed from here.
TLPWIN_API void Detach(Window window);
TLPWIN_API bool Post(Window window, uint32_t message);
// A radio button that is checked becomes its group's tab stop, and loses it
// when unchecked, as the system's do.
TLPWIN_API void SetCheck(Window button, bool checked);
TLPWIN_API bool ClientArea(Window window, Rect *area);

// The font of a face and character set at `height` (negative: a character
// height); null when it cannot be made. TextHeight is its cell height (0 when
// it cannot be measured).
TLPWIN_API Font MakeFont(int32_t height, int32_t charset, const char *face);
TLPWIN_API void FreeFont(Font font);
TLPWIN_API int32_t TextHeight(Font font);
TLPWIN_API int32_t ScreenPixelsPerInch();
#if !defined(_WIN32)
// The stand-in's screen: 96 pixels per inch unless a test sets another.
TLPWIN_API void SetScreenPixelsPerInch(int32_t pixelsPerInch);
// A window system that runs out, for tests: the stand-in makes `made` more
// windows and fonts, then refuses every one until this is called with -1.
TLPWIN_API void RefuseAfter(int made);
#endif

// ---- What a host does, and what tests read back --------------------------------

// Dispatches every message waiting for this thread. With `dialog`, the keys
// for its windows work as in a dialog: Tab and Shift+Tab move the focus
// between tab stops (into children of windows with kExControlParent), the
// arrow keys within a group (checking an automatic radio button), Enter
// clicks kOkId (or the push button that has the focus), Esc kCancelId.
TLPWIN_API void PumpMessages(Window dialog = nullptr);
// Whether a person can see and use windows: never for the stand-in, which
// has no screen; on Windows, not in a session without a visible desktop
// (a service's), nor on a desktop that no display shows (Wine's headless
// driver).
TLPWIN_API bool HasScreen();
// Gives the keyboard focus to the first tab stop of `dialog`'s windows.
TLPWIN_API void FocusFirstTabStop(Window dialog);
// Runs this thread's message loop as PumpMessages(dialog) does, waiting for
// messages, until `done` turns true or `dialog` is gone. The stand-in, with
// no person to wait for, dispatches what waits and returns.
TLPWIN_API void RunDialog(Window dialog, const bool &done);
// A top-level window of these styles, as large as it must be for a client
// area of `client`'s size, in the middle of the screen's work area as a
// dialog opens (the stand-in: at `client`'s corner, with no frame).
TLPWIN_API Rect FrameAround(const Rect &client, uint32_t style, uint32_t exStyle);
// As the user's click: a button reports it; a radio button does not check
// itself, an automatic one does (and unchecks the others beside it).
TLPWIN_API void Click(Window button);
TLPWIN_API bool IsChecked(Window button);
TLPWIN_API bool Exists(Window window);
TLPWIN_API Window Parent(Window window);
TLPWIN_API std::vector<Window> Children(Window window);
TLPWIN_API std::string Text(Window window);
TLPWIN_API uint32_t Style(Window window);
TLPWIN_API Rect Placement(Window window);
// The handler of a window of a registered class; null for any other.
TLPWIN_API Handler *HandlerOf(Window window);
// The instance of the module that registered the window's class.
TLPWIN_API const void *ClassInstance(Window window);
TLPWIN_API bool ClassRegistered(const char *name, const void *instance);

struct FontInfo {
  int32_t height = 0, charset = -1, textHeight = 0;
  std::string face;
};
// The font a window was given; a default FontInfo when none.
TLPWIN_API FontInfo FontOf(Window window);

} // namespace tlpwin
