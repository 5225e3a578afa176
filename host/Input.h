// Reading a command's input: the checks every input file passes, and a Targa
// file read through the plug-in's import with the host's own limits.
#pragma once

#include "PluginLoader.h"

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

// 768000000 as "768,000,000".
std::string Grouped(uint64_t n);

// Why `path` cannot be read as an input, or empty when it can: it is missing,
// a folder, not a regular file (a pipe would block for ever) or unreadable.
std::string Unreadable(const std::string &path);

// Whether the file starts with the PNG signature.
bool IsPng(const std::string &path);

// Whether a picture of width x height is within `maxPixels` and what a Targa
// file can hold; the message naming `path` otherwise.
bool WithinLimits(const std::string &path, uint32_t width, uint32_t height, uint64_t maxPixels,
                  std::string *error);

// Whether a PNG file of its size can hold width x height pixels at all: its
// rows, even at 1 bit a pixel, compressed at the most deflate can (1032 to
// 1), must fit in the file. The message naming `path` otherwise.
bool PngCanHold(const std::string &path, uint32_t width, uint32_t height, std::string *error);

enum class ImportResult { Ok, NotTarga, Failed };

// Reads `path` through IMPORT_CreateImage, or IMPORT_CreatePreviewImage when
// a box is given, into `imported`. The header's size is checked against
// `limits` before the plug-in decodes anything, and so is the file's size
// against the pixel data the header claims. On NotTarga and Failed `error`
// says why; `notice` says what the user should know of a picture delivered
// (pixel data missing from the file, delivered as white).
ImportResult ImportTarga(const PluginApi &api, const std::string &path, const ReadLimits &limits,
                         Imported *imported, std::string *error, std::string *notice,
                         int32_t boxWidth = 0, int32_t boxHeight = 0);
