/* minimal-host.c: a host of the Targa plug-in that makes every call of the
 * interface once, in the order a host makes them: it describes the plug-in,
 * reads a Targa file (a preview, then the whole picture) and writes the
 * picture to a new Targa file. Copy what you need; error handling is kept to
 * what a host cannot do without.
 *
 *   i686-w64-mingw32-gcc -Wall -Wextra -Wpedantic -O2 -Iinclude examples/minimal-host.c -o minimal-host.exe
 *   minimal-host.exe Targa.tlp in.tga out.tga
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "TargaPlugin.h"

static int fail(const char *what) {
  fprintf(stderr, "minimal-host: %s\n", what);
  return 1;
}

/* Each text arrives whole, in one call (Shift-JIS); the information text's
 * lines each end in an LF, where an edit control would want CR LF. */
static int32_t TLP_CALL print_text(const char *text) {
  size_t length = strlen(text);
  printf("%s%s", text, length && text[length - 1] == '\n' ? "" : "\n");
  return 0;
}

static int32_t TLP_CALL print_about(uint32_t version, const char *name, const char *copyright,
                                    const char *description) {
  printf("%s %u.%u.%u.%u\n%s\n%s\n", name, (unsigned)(version >> 24), (unsigned)(version >> 16 & 255),
         (unsigned)(version >> 8 & 255), (unsigned)(version & 255), copyright, description);
  return 0;
}

/* Called before each written row (1 = top row); non-zero stops the write. */
static int32_t TLP_CALL progress(int32_t row) {
  (void)row;
  return 0;
}

/* Looks up one export as its PFN_ type; a missing one ends the program. */
#define GET(name)                                                                  \
  PFN_##name name = TLP_PROC(PFN_##name, GetProcAddress(module, #name));            \
  if (!name) return fail("the plug-in does not export " #name)

int main(int argc, char **argv) {
  if (argc != 4) return fail("usage: minimal-host PLUGIN IN.tga OUT.tga");
  HMODULE module = LoadLibraryA(argv[1]);
  if (!module) return fail("cannot load the plug-in");
  GET(PLUGINCALLBACK); GET(PLUGOUTCALLBACK); GET(UNITED_SupportedInformation); GET(UNITED_Verbose);
  GET(IMPORT_InterfaceVersion); GET(IMPORT_SupportedExtensions); GET(IMPORT_ValidFileCheck);
  GET(IMPORT_ImageInformation); GET(IMPORT_CreateImage); GET(IMPORT_CreatePreviewImage);
  GET(IMPORT_FreeImage); GET(EXPORT_InterfaceVersion); GET(EXPORT_SupportedExtensions);
  GET(EXPORT_EnterOption); GET(EXPORT_LeaveOption); GET(EXPORT_BeforeTransform);
  GET(EXPORT_WriteToFile);
  /* The records come from the plug-in's C runtime, msvcrt.dll (which it has
   * loaded): their 28 bytes go back to that runtime's free, whatever runtime
   * this program uses. */
  typedef void (*PFN_free)(void *);
  PFN_free crt_free = TLP_PROC(PFN_free, GetProcAddress(GetModuleHandleA("msvcrt.dll"), "free"));
  if (!crt_free) return fail("msvcrt.dll's free not found");

  PLUGINCALLBACK(0); /* reads the stored conversion method */

  int32_t first, second, import_version, export_version;
  UNITED_SupportedInformation(&first, &second);
  UNITED_Verbose(print_about);
  IMPORT_InterfaceVersion(&import_version);
  EXPORT_InterfaceVersion(&export_version);
  printf("supported %d %d, interfaces %08x %08x\nimport extensions: ", (int)first, (int)second,
         (unsigned)import_version, (unsigned)export_version);
  IMPORT_SupportedExtensions(print_text);
  printf("export extensions: ");
  EXPORT_SupportedExtensions(print_text);

  const char *in = argv[2], *out = argv[3];
  if (!IMPORT_ValidFileCheck(in)) return fail("not a Targa file the plug-in reads");
  IMPORT_ImageInformation(in, print_text);
  HostImage *image = NULL;
  IMPORT_CreatePreviewImage(in, 32, 32, &image); /* at least 32 x 32 on one side */
  if (!image) return fail("the preview cannot be made");
  printf("preview: %u x %u, kind %d\n", (unsigned)image->Width, (unsigned)image->Height, (int)image->Kind);
  IMPORT_FreeImage(image); /* the pixels and the palette */
  crt_free(image);         /* the record */
  IMPORT_CreateImage(in, &image);
  if (!image) return fail("the picture cannot be read");
  printf("picture: %u x %u, kind %d, %u palette entries\n", (unsigned)image->Width,
         (unsigned)image->Height, (int)image->Kind, (unsigned)image->PaletteCount);

  /* The options panel is optional: a host shows it in its export dialog, a
   * child filling `parent`, and answers 1 for OK, 0 for Cancel. The panel
   * goes by a posted message, so the thread's messages are then processed. */
  HWND parent = CreateWindowExA(0, "STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL,
                                GetModuleHandleA(NULL), NULL);
  EXPORT_EnterOption(parent, parent, 0);
  EXPORT_LeaveOption(0); /* Cancel: the stored method stays */
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  if (parent) DestroyWindow(parent);

  int32_t code;
  EXPORT_BeforeTransform(&code, 0);
  /* A host converts its picture as the code asks (2: 24-bit, 4: 16-bit, 6 and
   * 8: 8-bit where it has few colours, 9 and 10: 256 colours; docs/tga-host.md
   * says how tga-host does it); this one writes the record it read as it is. */
  printf("conversion code %d; writing %s\n", (int)code, out);
  int written = EXPORT_WriteToFile(out, image, progress);
  IMPORT_FreeImage(image);
  crt_free(image);

  PLUGOUTCALLBACK(); /* stores the method, destroys any panel left */
  FreeLibrary(module);
  return written ? 0 : fail("the file could not be written");
}
