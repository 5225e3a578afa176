/* The plug-in's interface, for host authors.
 *
 * The plug-in is loaded by path ("Targa.tlp") and driven only through the
 * functions below, all exported under their plain names; a host looks each
 * up by name and calls it through the matching PFN_ pointer type below, e.g.
 *   PFN_EXPORT_WriteToFile write =
 *       TLP_PROC(PFN_EXPORT_WriteToFile, GetProcAddress(module, "EXPORT_WriteToFile"));
 * On Windows every function and every host callback uses the stdcall
 * convention (TLP_CALL); texts are zero-terminated Shift-JIS (code page 932)
 * byte strings.
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
/* The picture reduced by a power-of-two step: every step-th pixel of every
 * step-th row, counted from the first pixel the file stores (the bottom-left
 * one of a bottom-up file), in picture order. Width = ceil(file width / step),
 * Height = ceil(file height / step). The step is the largest power of two s
 * for which floor(file width / s) >= boxWidth or floor(file height / s) >=
 * boxHeight, and 1 where no s holds (a picture smaller than the box on both
 * sides comes whole). So the preview is at least the box on one side, or the
 * whole picture, and the host scales it the rest of the way: a 96 x 64 file
 * in a 32 x 32 box gives 48 x 32 (step 2; step 4 would make both sides
 * smaller than the box). A box side of 0 counts as 1; a negative one is taken
 * as unsigned, so far above any picture, which then comes whole. */
void TLP_CALL IMPORT_CreatePreviewImage(const char *path, int32_t boxWidth,
                                        int32_t boxHeight, HostImage **image);
void TLP_CALL IMPORT_FreeImage(HostImage *image);

/* Export. */
void TLP_CALL EXPORT_InterfaceVersion(int32_t *version);
int32_t TLP_CALL EXPORT_SupportedExtensions(InfoCallback callback);
/* The options panel, a child window that fills parentWindow. On Linux the
 * windows are those of libtlpwin, the headless stand-in in the tarball, for
 * tests only: it shows nothing, and its interface is not shipped. A
 * parentWindow that is no window there (as on Windows, one that no longer
 * exists) gets no panel, and the EXPORT_LeaveOption that follows changes
 * nothing. */
void TLP_CALL EXPORT_EnterOption(void *applicationWindow, void *parentWindow,
                                 uint32_t ignored);
void TLP_CALL EXPORT_LeaveOption(int32_t accept);
void TLP_CALL EXPORT_BeforeTransform(int32_t *conversionCode, uint32_t ignored);
/* 1 for a written file or one the ProgressCallback stopped; 0 when the file
 * cannot be opened for writing, for a record a Targa file cannot hold (a
 * Kind other than 1, 2, 4; a size or palette above 65535), when a write,
 * the close or a flush fails (a full disk, no free inode, a size limit whose
 * signal is ignored), when the name holds another file by the commit, and
 * when another writer holds the file or its folder for more than 5 s.
 *
 * The new bytes always go to a file of their own first, which no name holds
 * where the system allows (Linux: O_TMPFILE; Windows: a delete disposition),
 * so a failure, a kill or a terminate before the commit leaves every name as
 * it was and nothing beside it. At 0 an existing file is byte for byte as it
 * was, with its links, owner, group, mode, ACLs and extended attributes
 * (Windows: its attributes and security); a new file is gone, also at a
 * dangling link's target. The commit:
 * - A new file takes its name, only where none stands.
 * - A regular file with one name whose every fact a new file can carry
 *   (POSIX: owner, group, mode, ACLs and extended attributes; Windows: what
 *   ReplaceFileA carries) is replaced by the new file, flushed first, made
 *   beside it with those facts. The rename overwrites only the file opened
 *   at the start, in the folder opened at the start; the folder is flushed
 *   after it (Linux).
 * - Any other regular file (more names, facts that cannot be carried, a
 *   folder that takes no new file, a file that can be written but not
 *   replaced) and, under Wine, every existing file, is written in place
 *   through the name given, so links are followed and every fact stays: the
 *   complete new file is flushed under a name a kill leaves, then copied
 *   over the old bytes, by one writer at a time, the bytes beyond the old
 *   end first, then flushed, and its copy removed. Only while that copy
 *   runs may a kill leave a mix under the name, and then the complete new
 *   file stays: on Linux as .NAME.XXXXXXXX.tmp beside the file (or in
 *   $TMPDIR, /tmp, where the folder takes no new file), mode 0600 at most;
 *   on Windows as .NAME.XXXXXXXX.tmp in "%TEMP%\Targa plug-in", a folder
 *   only the user may enter (0700 under Wine). A failure in the copy that a
 *   second copy cannot mend answers 0 and leaves that file too.
 * - A device or pipe is written as it is. A pipe with no reader answers 0
 *   at once, and one whose reader quits ends the write with 0.
 * - A stop by the ProgressCallback answers 1: the header, the colour map and
 *   the rows before the stop stand under the name, in place of the old file,
 *   since the host asked for the stop and decides what becomes of the file.
 * - An exception thrown by the ProgressCallback undoes the write as at 0 and
 *   goes back to the host, where the host and the plug-in share an exception
 *   mechanism: never across the 32-bit DLL to a MinGW-built host, where it
 *   ends the process (terminate) as a kill would. Answer non-zero to stop. */
int32_t TLP_CALL EXPORT_WriteToFile(const char *path, const HostImage *image,
                                    ProgressCallback progress);

/* Pointer types of the seventeen functions, for GetProcAddress (dlsym on
 * Linux), in the order above. */
typedef void(TLP_CALL *PFN_PLUGINCALLBACK)(uint32_t ignored);
typedef void(TLP_CALL *PFN_PLUGOUTCALLBACK)(void);
typedef void(TLP_CALL *PFN_UNITED_SupportedInformation)(int32_t *first, int32_t *second);
typedef int32_t(TLP_CALL *PFN_UNITED_Verbose)(VerboseCallback callback);
typedef void(TLP_CALL *PFN_IMPORT_InterfaceVersion)(int32_t *version);
typedef int32_t(TLP_CALL *PFN_IMPORT_SupportedExtensions)(InfoCallback callback);
typedef int32_t(TLP_CALL *PFN_IMPORT_ValidFileCheck)(const char *path);
typedef void(TLP_CALL *PFN_IMPORT_ImageInformation)(const char *path, InfoCallback callback);
typedef void(TLP_CALL *PFN_IMPORT_CreateImage)(const char *path, HostImage **image);
typedef void(TLP_CALL *PFN_IMPORT_CreatePreviewImage)(const char *path, int32_t boxWidth,
                                                      int32_t boxHeight, HostImage **image);
typedef void(TLP_CALL *PFN_IMPORT_FreeImage)(HostImage *image);
typedef void(TLP_CALL *PFN_EXPORT_InterfaceVersion)(int32_t *version);
typedef int32_t(TLP_CALL *PFN_EXPORT_SupportedExtensions)(InfoCallback callback);
typedef void(TLP_CALL *PFN_EXPORT_EnterOption)(void *applicationWindow, void *parentWindow,
                                               uint32_t ignored);
typedef void(TLP_CALL *PFN_EXPORT_LeaveOption)(int32_t accept);
typedef void(TLP_CALL *PFN_EXPORT_BeforeTransform)(int32_t *conversionCode, uint32_t ignored);
typedef int32_t(TLP_CALL *PFN_EXPORT_WriteToFile)(const char *path, const HostImage *image,
                                                  ProgressCallback progress);

/* What GetProcAddress answers, as one of the PFN_ types above. A direct cast
 * from FARPROC warns under -Wall -Wextra (-Wcast-function-type) for some of
 * them, in C and in C++, and one through void * warns under -Wpedantic in C;
 * a cast through the generic function pointer type void (*)(void) warns in
 * neither.
 * On Linux dlsym answers a void *, which the macro converts too, but which
 * -Wpedantic flags in C whatever the cast. */
#define TLP_PROC(type, address) ((type)(void (*)(void))(address))

/* Besides these seventeen functions the library exports one data symbol,
 * "_ExportOptionForm": a pointer-sized variable, so that its address is what
 * GetProcAddress answers,
 *   void *const *form = (void *const *)GetProcAddress(module, "_ExportOptionForm");
 * Its value is the plug-in's own object for the options panel it made last,
 * opaque to the host (no window handle): null when the library is loaded;
 * set by EXPORT_EnterOption, to null first and then to the new panel once it
 * stands (so null when no panel could be made); not cleared by
 * EXPORT_LeaveOption, after which it refers to the released panel, whose
 * object lives on until a later EXPORT_EnterOption has made a new panel, or
 * PLUGOUTCALLBACK; set to null by PLUGOUTCALLBACK. Read it only between
 * those calls, never write it. */

#ifdef __cplusplus
}
#endif

#endif
