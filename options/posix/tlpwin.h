/* tlpwin: a small headless window library, the stand-in for the system's
 * window functions where there are none. It keeps the model that the options
 * panel and its hosts rely on: windows of registered classes with a parent,
 * style, position, size, text, font and check state; standard buttons (group
 * boxes and radio buttons); and one queue of posted messages per thread that
 * the owner of the windows pumps. Nothing is drawn.
 *
 * It is a shared library so that a host and the plug-in it loads see the same
 * windows, as both see the same system on Windows. Message numbers, styles and
 * colour indexes have their Windows values. Handles are opaque numbers that are
 * never reused: a stale handle is safe to pass and is simply not a window. */
#ifndef TLPWIN_H
#define TLPWIN_H

#include <stdint.h>

#define TLPWIN_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TlpWindow_ *TlpHwnd;
typedef struct TlpFont_ *TlpHfont;
typedef uintptr_t TlpWparam;
typedef intptr_t TlpLparam;
typedef intptr_t TlpLresult;
typedef TlpLresult (*TlpWndProc)(TlpHwnd window, uint32_t message, TlpWparam wParam,
                                 TlpLparam lParam);

enum {
  TLP_WM_CREATE = 0x0001,
  TLP_WM_DESTROY = 0x0002,
  TLP_WM_QUIT = 0x0012,
  TLP_WM_SETFONT = 0x0030,
  TLP_WM_GETFONT = 0x0031,
  TLP_WM_NCCREATE = 0x0081,
  TLP_WM_NCDESTROY = 0x0082,
  TLP_WM_COMMAND = 0x0111,
  TLP_BM_GETCHECK = 0x00F0,
  TLP_BM_SETCHECK = 0x00F1,
  TLP_BM_CLICK = 0x00F5,
  TLP_WM_USER = 0x0400,
  TLP_WM_APP = 0x8000
};

enum { TLP_BN_CLICKED = 0, TLP_BST_UNCHECKED = 0, TLP_BST_CHECKED = 1 };

/* Window styles. The low 4 bits of a BUTTON's style give its kind. */
#define TLP_WS_CHILD 0x40000000u
#define TLP_WS_VISIBLE 0x10000000u
#define TLP_WS_CLIPSIBLINGS 0x04000000u
#define TLP_WS_CLIPCHILDREN 0x02000000u
#define TLP_WS_DISABLED 0x08000000u
#define TLP_WS_GROUP 0x00020000u
#define TLP_WS_TABSTOP 0x00010000u
#define TLP_BS_RADIOBUTTON 0x0004u
#define TLP_BS_GROUPBOX 0x0007u
#define TLP_BS_AUTORADIOBUTTON 0x0009u
#define TLP_BS_TYPEMASK 0x000Fu

/* System colour indexes. */
enum { TLP_COLOR_WINDOWTEXT = 8, TLP_COLOR_BTNFACE = 15 };

/* The one built-in class: group boxes and radio buttons. Registered classes
 * are told apart by name and instance, as on Windows. */
#define TLP_BUTTON_CLASS "BUTTON"

typedef struct TlpRect {
  int32_t left, top, right, bottom;
} TlpRect;

typedef struct TlpMsg {
  TlpHwnd window;
  uint32_t message;
  TlpWparam wParam;
  TlpLparam lParam;
} TlpMsg;

/* Passed as lParam of TLP_WM_NCCREATE and TLP_WM_CREATE. */
typedef struct TlpCreateStruct {
  void *createParam;
  TlpHwnd parent;
  uint32_t style;
  int32_t x, y, width, height;
  const char *text;
} TlpCreateStruct;

/* Classes. `background` is a system colour index, or -1 for none. Unregistering
 * fails while a window of the class exists. Results: 1 done, 0 refused. */
TLPWIN_API int tlpwin_RegisterClass(const char *name, const void *instance, TlpWndProc proc,
                                    int32_t background);
TLPWIN_API int tlpwin_UnregisterClass(const char *name, const void *instance);
TLPWIN_API int tlpwin_IsClassRegistered(const char *name, const void *instance);
TLPWIN_API int32_t tlpwin_GetClassBackground(TlpHwnd window);
/* The instance that registered the window's class; null for a button. */
TLPWIN_API const void *tlpwin_GetClassInstance(TlpHwnd window);

/* Windows. A window belongs to the thread that creates it; its posted messages
 * go to that thread's queue. A child of no parent is refused. Position and size
 * are in the parent's client area; the client area is the whole window. The
 * creation fails (null) when TLP_WM_NCCREATE answers 0 or TLP_WM_CREATE -1. */
TLPWIN_API TlpHwnd tlpwin_CreateWindow(const char *className, const void *instance,
                                       const char *text, uint32_t style, int32_t x, int32_t y,
                                       int32_t width, int32_t height, TlpHwnd parent,
                                       intptr_t id, void *createParam);
/* Sends TLP_WM_DESTROY to the window and then to its children, then
 * TLP_WM_NCDESTROY children first; only the owning thread may destroy. */
TLPWIN_API int tlpwin_DestroyWindow(TlpHwnd window);
TLPWIN_API int tlpwin_IsWindow(TlpHwnd window);
TLPWIN_API TlpHwnd tlpwin_GetParent(TlpHwnd window);
/* Children in the order of their creation. */
TLPWIN_API TlpHwnd tlpwin_GetFirstChild(TlpHwnd window);
TLPWIN_API TlpHwnd tlpwin_GetNextSibling(TlpHwnd window);
TLPWIN_API intptr_t tlpwin_GetId(TlpHwnd window);
TLPWIN_API uint32_t tlpwin_GetStyle(TlpHwnd window);
/* The window's rectangle in its parent's client area. */
TLPWIN_API int tlpwin_GetWindowRect(TlpHwnd window, TlpRect *rect);
/* Always at 0,0: there is no frame. */
TLPWIN_API int tlpwin_GetClientRect(TlpHwnd window, TlpRect *rect);
TLPWIN_API int tlpwin_MoveWindow(TlpHwnd window, int32_t x, int32_t y, int32_t width,
                                 int32_t height);
/* Copies at most size - 1 bytes and a zero; answers the text's full length. */
TLPWIN_API int32_t tlpwin_GetWindowText(TlpHwnd window, char *buffer, int32_t size);
TLPWIN_API int tlpwin_SetWindowText(TlpHwnd window, const char *text);
/* One pointer-sized value for the window's owner; answers the previous one. */
TLPWIN_API intptr_t tlpwin_SetWindowData(TlpHwnd window, intptr_t data);
TLPWIN_API intptr_t tlpwin_GetWindowData(TlpHwnd window);
/* Replaces the window's procedure (subclassing); answers the previous one. */
TLPWIN_API TlpWndProc tlpwin_SetWindowProc(TlpHwnd window, TlpWndProc proc);
/* System colour index of the window's text; TLP_COLOR_WINDOWTEXT by default. */
TLPWIN_API int tlpwin_SetTextColor(TlpHwnd window, int32_t color);
TLPWIN_API int32_t tlpwin_GetTextColor(TlpHwnd window);

/* Fonts. A negative height is a character height, a positive one a cell
 * height; the stand-in's fonts have no internal leading, so the text height
 * (the cell height) is the absolute value. 0 is the default, 12. */
TLPWIN_API TlpHfont tlpwin_CreateFont(int32_t height, int32_t charset, const char *face);
TLPWIN_API int tlpwin_DeleteFont(TlpHfont font);
TLPWIN_API int32_t tlpwin_GetTextHeight(TlpHfont font);
/* Answers 0 for a font that does not exist. */
TLPWIN_API int tlpwin_GetFontInfo(TlpHfont font, int32_t *height, int32_t *charset, char *face,
                                  int32_t faceSize);

/* The screen's resolution in pixels per inch: 96 unless set. */
TLPWIN_API int32_t tlpwin_GetScreenPixelsPerInch(void);
TLPWIN_API void tlpwin_SetScreenPixelsPerInch(int32_t pixelsPerInch);

/* Messages. Sending calls the window procedure at once; posting queues the
 * message for the thread that owns the window (or, with no window, for the
 * calling thread). Peeking looks only at the calling thread's queue, in the
 * order of posting; a null filter takes any window. Dispatching a message of a
 * window that is gone does nothing. */
TLPWIN_API TlpLresult tlpwin_SendMessage(TlpHwnd window, uint32_t message, TlpWparam wParam,
                                         TlpLparam lParam);
TLPWIN_API int tlpwin_PostMessage(TlpHwnd window, uint32_t message, TlpWparam wParam,
                                  TlpLparam lParam);
TLPWIN_API int tlpwin_PeekMessage(TlpMsg *msg, TlpHwnd filter, int remove);
TLPWIN_API TlpLresult tlpwin_DispatchMessage(const TlpMsg *msg);
TLPWIN_API TlpLresult tlpwin_DefWindowProc(TlpHwnd window, uint32_t message, TlpWparam wParam,
                                           TlpLparam lParam);

#ifdef __cplusplus
}
#endif

#endif
