// PNG files for the host's own use (the plug-in itself never sees them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb; // rows top first, 3 bytes per pixel: red, green, blue
};

// False with `error` set when the file cannot be written.
bool WritePng(const std::string &path, const RgbImage &image, std::string *error);

// Reads any PNG as 8-bit RGB; alpha is flattened onto white. False with
// `error` set when the file is no PNG or cannot be read.
bool ReadPng(const std::string &path, RgbImage *image, std::string *error);
