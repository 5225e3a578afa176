// PNG files for the host's own use (the plug-in itself never sees them).
#pragma once

#include "Conversions.h"

#include <cstdint>
#include <functional>
#include <string>

// Whether to go on with a picture of width x height, asked right after the
// PNG header is read and before anything is allocated; false with the
// message set to refuse it.
using AcceptSize = std::function<bool(uint32_t width, uint32_t height, std::string *error)>;

// Told how far a read has come: `done` of `total` rows (an interlaced
// picture's passes count each row again).
using ReadProgress = std::function<void(uint64_t done, uint64_t total)>;

// Reads any PNG as 8-bit RGB in the picture's own values: 16-bit channels
// scale to 8 bits as v x 255 / 65535, rounded, and alpha is flattened onto
// white. The chunk list is checked first (PngChunks.h) and the decoder sees
// only the chunks the picture needs. False with `error` set ("cannot read
// 'X': ...") when the file is no PNG, is damaged, cannot be read or is
// refused by `accept`.
bool ReadPng(const std::string &path, const AcceptSize &accept, RgbPicture *picture,
             std::string *error, const ReadProgress &progress = nullptr);

// Fills `rgb` with row `y` (width x 3 bytes); false stops the write. A row
// may be asked for more than once.
using RowSource = std::function<bool(uint32_t y, uint8_t *rgb)>;

// Writes an 8-bit RGB PNG of width x height, a row at a time, telling
// `written` of each row as it goes to the file. False with `error` set to an
// errno value when the file cannot be written, or to EINTR when `row` stopped
// it. The same pixels make the same file, whatever record they came from.
bool WritePng(const std::string &path, uint32_t width, uint32_t height, const RowSource &row,
              int *error, const std::function<void(uint32_t y)> &written = nullptr);
