/* The plug-in's interface, for host authors.
 *
 * The plug-in is loaded by path ("Targa.tlp") and driven only through the
 * functions below, all exported under their plain names. On Windows every
 * function and every host callback uses the stdcall convention; texts are
 * zero-terminated Shift-JIS (code page 932) byte strings.
 *
 * docs/host-guide.md gives the calls in order, who owns which block, and
 * where the results differ from the interface's original contract; those
 * results are marked below. */
#ifndef TARGA_PLUGIN_H
#define TARGA_PLUGIN_H

#include <stdint.h>

#if defined(_WIN32)
#define TLP_CALL __stdcall
#else
#define TLP_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Pixel formats of HostImage.Kind. The code is not the bytes per pixel. */
enum {
  TLP_KIND_INDEXED8 = 1, /* 1 byte: palette index */
  TLP_KIND_HIGH16 = 2,   /* 16-bit LE word: blue 0-4, green 5-9, red 10-14 */
  TLP_KIND_FULL24 = 4    /* 3 bytes: blue, green, red */
};

/* The image record exchanged in both directions. On 32-bit Windows it is
 * exactly 28 bytes; on 64-bit targets the same fields are naturally aligned.
 * Rows run top-down; row r starts at Pixels + r * BytesPerRow. Palette
 * entries are 4 bytes: blue, green, red, reserved. */
typedef struct HostImage {
  int32_t Kind;
  uint8_t *Pixels;
  int32_t BytesPerRow;
  uint32_t Width;
  uint32_t Height;
  uint8_t *Palette;
  uint32_t PaletteCount;
} HostImage;

/* The plug-in reads no result from these two; the entry points that call them
 * pass the callback's 32-bit result back unchanged, for hosts that read one.
 * Every callback is called outside the plug-in's exception guard: what it
 * throws goes back to the host. */
typedef int32_t(TLP_CALL *InfoCallback)(const char *text);
typedef int32_t(TLP_CALL *VerboseCallback)(uint32_t version, const char *name,
                                            const char *copyright,
                                            const char *description);
/* Called before each written row with its number (1 = top row); a non-zero
 * answer stops the write. */
typedef int32_t(TLP_CALL *ProgressCallback)(int32_t row);

/* Plug-in as a whole. */
void TLP_CALL PLUGINCALLBACK(uint32_t ignored);
/* Stores the conversion method, and also destroys the panels still standing
 * (their window class keeps the library loaded until then). */
void TLP_CALL PLUGOUTCALLBACK(void);
void TLP_CALL UNITED_SupportedInformation(int32_t *first, int32_t *second);
int32_t TLP_CALL UNITED_Verbose(VerboseCallback callback);

/* Import. */
void TLP_CALL IMPORT_InterfaceVersion(int32_t *version);
int32_t TLP_CALL IMPORT_SupportedExtensions(InfoCallback callback);
int32_t TLP_CALL IMPORT_ValidFileCheck(const char *path);
void TLP_CALL IMPORT_ImageInformation(const char *path, InfoCallback callback);
/* *image receives null for a file that cannot be read and also when memory
 * runs out. */
void TLP_CALL IMPORT_CreateImage(const char *path, HostImage **image);
void TLP_CALL IMPORT_CreatePreviewImage(const char *path, int32_t boxWidth,
                                        int32_t boxHeight, HostImage **image);
void TLP_CALL IMPORT_FreeImage(HostImage *image);

/* Export. */
void TLP_CALL EXPORT_InterfaceVersion(int32_t *version);
int32_t TLP_CALL EXPORT_SupportedExtensions(InfoCallback callback);
void TLP_CALL EXPORT_EnterOption(void *applicationWindow, void *parentWindow,
                                 uint32_t ignored);
void TLP_CALL EXPORT_LeaveOption(int32_t accept);
void TLP_CALL EXPORT_BeforeTransform(int32_t *conversionCode, uint32_t ignored);
/* 1 for a written file or one the ProgressCallback stopped; 0 when the file
 * cannot be opened, for a record a Targa file cannot hold (a Kind other than
 * 1, 2, 4; a size or palette above 65535: nothing is created), and when a
 * write fails (no partial image is left under any name). */
int32_t TLP_CALL EXPORT_WriteToFile(const char *path, const HostImage *image,
                                    ProgressCallback progress);

/* Besides these seventeen functions the library exports one data symbol,
 * "_ExportOptionForm", the options panel last created (look it up by name). */

#ifdef __cplusplus
}
#endif

#endif
