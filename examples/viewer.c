/* viewer.c: a small picture viewer over the Targa plug-in. It shows the
 * Targa files of a folder as thumbnails made by IMPORT_CreatePreviewImage;
 * a click on one shows the whole picture at 1:1, a click or Esc goes back.
 * The part a host author needs is to_dib: a HostImage drawn through a DIB.
 *
 *   i686-w64-mingw32-gcc -Wall -Wextra -Wpedantic -O2 -mwindows -Iinclude examples/viewer.c -o viewer.exe
 *   viewer.exe [FOLDER | FILE.tga]     (Targa.tlp is loaded from beside viewer.exe)
 *
 * Given a file, it opens that picture over its folder's thumbnails. Each view,
 * once drawn, is described on standard output (where the picture sits on the
 * screen), for a console that started it and for scripts. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "TargaPlugin.h"

enum { BOX = 96, CELL_W = 128, CELL_H = 124, COLUMNS = 4 };

typedef struct Picture {
  char name[MAX_PATH];
  BITMAPINFO *info; /* the header and a 256-entry colour table; null: none */
  void *bits;       /* the rows, each padded to 4 bytes */
  int width, height;
} Picture;

static PFN_IMPORT_CreateImage create_image;
static PFN_IMPORT_CreatePreviewImage create_preview;
static PFN_IMPORT_FreeImage free_image;
static void (*crt_free)(void *); /* the plug-in's runtime's free, for the record */
static char folder[MAX_PATH];
static Picture *thumbs, full;
static int count, scroll, shown_said;

/* A HostImage as a DIB: its rows are packed, a DIB's are padded to 4 bytes;
 * its palette entries (blue, green, red, reserved) are the DIB's RGBQUAD colour
 * table, of all 256 entries (a file may hold indices past its palette); a
 * negative height says the rows run top-down, as the record's do.
 * Kind 2's words are the DIB's 16-bit format as they are (5 bits each, blue
 * lowest). The record is handed back to the plug-in whatever happens. */
static int to_dib(HostImage *image, Picture *out) {
  int ok = 0;
  if (!image) return 0;
  WORD depth = image->Kind == TLP_KIND_INDEXED8 ? 8 : image->Kind == TLP_KIND_HIGH16 ? 16 : 24;
  size_t packed = (size_t)image->Width * (depth / 8), stride = (packed + 3) & ~(size_t)3;
  out->info = calloc(1, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
  if (out->info && (image->Height == 0 || stride <= (size_t)-1 / image->Height))
    out->bits = malloc(stride * image->Height + 1);
  if (out->bits) {
    BITMAPINFOHEADER *header = &out->info->bmiHeader;
    header->biSize = sizeof *header;
    header->biWidth = out->width = (int)image->Width;
    header->biHeight = -(out->height = (int)image->Height);
    header->biPlanes = 1;
    header->biBitCount = depth;
    header->biCompression = BI_RGB;
    if (depth == 8) { /* an index past the palette finds black, as calloc left it */
      header->biClrUsed = 256;
      memcpy(out->info->bmiColors, image->Palette,
             (image->PaletteCount < 256 ? image->PaletteCount : 256) * sizeof(RGBQUAD));
    }
    for (uint32_t row = 0; row < image->Height; row++)
      memcpy((char *)out->bits + row * stride, image->Pixels + (size_t)row * image->BytesPerRow, packed);
    ok = 1;
  }
  free_image(image); /* the pixels and the palette */
  crt_free(image);   /* the 28-byte record, from msvcrt.dll's calloc */
  if (!ok) {
    free(out->info);
    out->info = NULL;
  }
  return ok;
}

static void drop(Picture *picture) {
  free(picture->info);
  free(picture->bits);
  picture->info = NULL;
  picture->bits = NULL;
}

static void load_folder(void) {
  char pattern[MAX_PATH + 8], path[2 * MAX_PATH];
  WIN32_FIND_DATAA found;
  snprintf(pattern, sizeof pattern, "%s\\*.tga", folder);
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    Picture *more = realloc(thumbs, (count + 1) * sizeof *thumbs);
    if (!more) break;
    thumbs = more;
    memset(&thumbs[count], 0, sizeof *thumbs);
    snprintf(thumbs[count].name, MAX_PATH, "%s", found.cFileName);
    snprintf(path, sizeof path, "%s\\%s", folder, found.cFileName);
    HostImage *image = NULL;
    create_preview(path, BOX, BOX, &image); /* null for a file it cannot read */
    to_dib(image, &thumbs[count++]);        /* without a picture, only the name shows */
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

static void open_picture(HWND window, const char *name) {
  char path[2 * MAX_PATH], title[MAX_PATH + 64];
  HostImage *image = NULL;
  snprintf(path, sizeof path, "%s\\%s", folder, name);
  create_image(path, &image);
  drop(&full);
  if (!to_dib(image, &full)) {
    MessageBoxA(window, path, "The picture cannot be read", MB_ICONWARNING);
    return;
  }
  snprintf(full.name, MAX_PATH, "%s", name);
  snprintf(title, sizeof title, "%s - %d x %d", name, full.width, full.height);
  SetWindowTextA(window, title);
  shown_said = 0;
  InvalidateRect(window, NULL, TRUE);
}

static void close_picture(HWND window) {
  drop(&full);
  SetWindowTextA(window, folder);
  shown_said = 0;
  InvalidateRect(window, NULL, TRUE);
}

static void paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (full.info) {
    StretchDIBits(dc, 0, 0, full.width, full.height, 0, 0, full.width, full.height, full.bits,
                  full.info, DIB_RGB_COLORS, SRCCOPY);
  } else {
    /* The preview is at least the box on one side: scaled the rest of the way. */
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, NULL);
    SetBkMode(dc, TRANSPARENT);
    for (int i = 0; i < count; i++) {
      int x = i % COLUMNS * CELL_W, y = i / COLUMNS * CELL_H - scroll;
      Picture *t = &thumbs[i];
      if (t->info && t->width > 0 && t->height > 0) {
        int big = t->width > t->height ? t->width : t->height;
        int w = t->width * BOX / big, h = t->height * BOX / big;
        StretchDIBits(dc, x + (CELL_W - w) / 2, y + 4 + (BOX - h) / 2, w ? w : 1, h ? h : 1, 0, 0,
                      t->width, t->height, t->bits, t->info, DIB_RGB_COLORS, SRCCOPY);
      }
      RECT caption = {x + 2, y + BOX + 6, x + CELL_W - 2, y + CELL_H};
      DrawTextA(dc, t->name, -1, &caption, DT_CENTER | DT_SINGLELINE | DT_END_ELLIPSIS);
    }
  }
  EndPaint(window, &ps);
  if (!shown_said) { /* where the view sits on the screen, once it is drawn */
    POINT origin = {0, 0};
    RECT frame;
    ClientToScreen(window, &origin);
    GetWindowRect(window, &frame);
    if (full.info)
      printf("picture %s, %d x %d, at %ld,%ld", full.name, full.width, full.height, origin.x, origin.y);
    else
      printf("thumbnails of %d files", count);
    printf("; window %ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top, frame.left,
           frame.top);
    fflush(stdout);
    shown_said = 1;
  }
}

static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
  case WM_PAINT:
    paint(window);
    return 0;
  case WM_LBUTTONUP:
    if (full.info) {
      close_picture(window);
    } else {
      int x = (short)LOWORD(lparam), y = (short)HIWORD(lparam) + scroll;
      int i = y / CELL_H * COLUMNS + x / CELL_W;
      if (x < COLUMNS * CELL_W && i < count) open_picture(window, thumbs[i].name);
    }
    return 0;
  case WM_KEYDOWN:
    if (wparam == VK_ESCAPE && full.info) close_picture(window);
    return 0;
  case WM_MOUSEWHEEL:
    scroll -= GET_WHEEL_DELTA_WPARAM(wparam) * CELL_H / WHEEL_DELTA;
    if (scroll > (count - 1) / COLUMNS * CELL_H) scroll = (count - 1) / COLUMNS * CELL_H;
    if (scroll < 0) scroll = 0;
    InvalidateRect(window, NULL, TRUE);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

int main(int argc, char **argv) {
  char plugin[MAX_PATH], *open = NULL;
  DWORD length = GetModuleFileNameA(NULL, plugin, MAX_PATH);
  char *slash = strrchr(plugin, '\\');
  if (!length || length == MAX_PATH || !slash || slash - plugin + sizeof "\\Targa.tlp" > MAX_PATH) return 1;
  strcpy(slash, "\\Targa.tlp");
  HMODULE module = LoadLibraryA(plugin);
  if (!module) {
    MessageBoxA(NULL, plugin, "The plug-in cannot be loaded", MB_ICONERROR);
    return 1;
  }
  PFN_PLUGINCALLBACK plugin_in = TLP_PROC(PFN_PLUGINCALLBACK, GetProcAddress(module, "PLUGINCALLBACK"));
  PFN_PLUGOUTCALLBACK plugin_out = TLP_PROC(PFN_PLUGOUTCALLBACK, GetProcAddress(module, "PLUGOUTCALLBACK"));
  create_image = TLP_PROC(PFN_IMPORT_CreateImage, GetProcAddress(module, "IMPORT_CreateImage"));
  create_preview = TLP_PROC(PFN_IMPORT_CreatePreviewImage, GetProcAddress(module, "IMPORT_CreatePreviewImage"));
  free_image = TLP_PROC(PFN_IMPORT_FreeImage, GetProcAddress(module, "IMPORT_FreeImage"));
  typedef void (*PFN_free)(void *);
  crt_free = TLP_PROC(PFN_free, GetProcAddress(GetModuleHandleA("msvcrt.dll"), "free"));
  if (!plugin_in || !plugin_out || !create_image || !create_preview || !free_image || !crt_free) {
    MessageBoxA(NULL, plugin, "Not the Targa plug-in", MB_ICONERROR);
    return 1;
  }
  plugin_in(0);

  /* A folder, or a file whose folder is shown with the file open. */
  snprintf(folder, sizeof folder, "%s", argc > 1 ? argv[1] : ".");
  DWORD attributes = GetFileAttributesA(folder);
  if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    char *name = strrchr(folder, '\\');
    if (!name) name = strrchr(folder, '/');
    open = name ? name + 1 : folder;
    static char file[MAX_PATH];
    snprintf(file, sizeof file, "%s", open);
    open = file;
    if (name) *name = 0; else strcpy(folder, ".");
  }
  load_folder();

  WNDCLASSA class = {0};
  class.lpfnWndProc = window_proc;
  class.hInstance = GetModuleHandleA(NULL);
  class.hCursor = LoadCursor(NULL, IDC_ARROW);
  class.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  class.lpszClassName = "TargaViewer";
  RegisterClassA(&class);
  RECT size = {0, 0, COLUMNS * CELL_W, 2 * CELL_H};
  AdjustWindowRect(&size, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowA("TargaViewer", folder, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              size.right - size.left, size.bottom - size.top, NULL, NULL,
                              class.hInstance, NULL);
  if (!window) return 1;
  if (open) open_picture(window, open);
  ShowWindow(window, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  for (int i = 0; i < count; i++) drop(&thumbs[i]);
  free(thumbs);
  drop(&full);
  plugin_out();
  FreeLibrary(module);
  return 0;
}
