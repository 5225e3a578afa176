// Reading a command's input: the checks every input file passes, and a Targa
// file read through the plug-in's import with the host's own limits.
#pragma once

#include "PluginLoader.h"
#include "TargaHeader.h"

#include <cstdint>
#include <string>

// The largest picture tga-host reads unless --max-pixels says otherwise:
// 2^28 pixels (16384 x 16384), 768 MB as RGB.
const uint64_t kDefaultMaxPixels = uint64_t(1) << 28;
// The Targa header keeps each dimension in 16 bits.
const uint32_t kMaxTargaSide = 65535;

// The most pixel data a Targa file may lack unless --max-missing says
// otherwise: 64 MiB. The plug-in delivers what is missing as white, and
// the picture it makes for that costs memory the file never backed.
const uint64_t kDefaultMaxMissing = uint64_t(64) << 20;

// What an input may make tga-host allocate (options of their own name).
struct ReadLimits {
  uint64_t maxPixels = kDefaultMaxPixels;
  uint64_t maxMissing = kDefaultMaxMissing;
};

// What tga-host knows of an input file from one look at it, taken before the
// plug-in opens it and used for every check and message after: what it is,
// its size and its first bytes.
struct InputFile {
  std::string path;
  // Why it cannot be read as an input, or empty when it can: it is missing,
  // a folder, not a regular file (a pipe would block for ever) or unreadable.
  std::string unreadable;
  int64_t size = -1; // -1 when it cannot be told
  uint8_t head[targa::kHeaderSize] = {};
  size_t headBytes = 0;
  // Whether it starts with the PNG signature.
  bool IsPng() const;
};
InputFile Examine(const std::string &path);

// Whether a picture of width x height is within `maxPixels` and what a Targa
// file can hold; the message naming `path` otherwise.
bool WithinLimits(const std::string &path, uint32_t width, uint32_t height, uint64_t maxPixels,
                  std::string *error);

// Whether a PNG file of its size can hold width x height pixels at all: its
// rows, even at 1 bit a pixel, compressed at the most deflate can (1032 to
// 1), must fit in the file. The message naming `path` otherwise.
bool PngCanHold(const InputFile &input, uint32_t width, uint32_t height, std::string *error);

// Why the plug-in refuses a file, in a short phrase, from what is known of
// it and the checks the plug-in makes ("not a Targa file: image type 4");
// `decoding` adds those of a full decode (the colour map's entry size). Where
// the header passes them, a check that was refused says the plug-in could not
// open the file, and a decode names lack of memory only where the system
// says the picture cannot fit.
std::string RefusalReason(const InputFile &input, bool decoding);

enum class ImportResult { Ok, NotTarga, Failed };

// Reads `input` through IMPORT_CreateImage, or IMPORT_CreatePreviewImage when
// a box is given, into `imported`, as a step of its own on a terminal. The
// header's size is checked against `limits` before the plug-in decodes
// anything, and so is the file's size against the pixel data the header
// claims. On NotTarga `error` is "'x' is not a Targa file (why)", on Failed
// why it could not be read; `notice` says what the user should know of a
// picture delivered (pixel data missing from the file, delivered as white).
ImportResult ImportTarga(const PluginApi &api, const InputFile &input, const ReadLimits &limits,
                         Imported *imported, std::string *error, std::string *notice,
                         int32_t boxWidth = 0, int32_t boxHeight = 0);

// ImportTarga for `command`, which says on standard error why the file could
// not be read, or what the user should know of the picture.
bool ReadTarga(const char *command, const PluginApi &api, const std::string &path,
               const ReadLimits &limits, Imported *imported, int32_t boxWidth = 0,
               int32_t boxHeight = 0);
