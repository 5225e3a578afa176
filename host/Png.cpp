#include "Png.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
  void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

} // namespace

bool WritePng(const std::string &path, const RgbImage &image, std::string *error) {
  if (image.width == 0 || image.height == 0) {
    *error = "an empty image cannot be stored as PNG";
    return false;
  }
  File f(std::fopen(path.c_str(), "wb"));
  if (!f) {
    *error = "cannot write " + path;
    return false;
  }
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = image.width;
  png.height = image.height;
  png.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_stdio(&png, f.get(), 0, image.rgb.data(), 0, nullptr)) {
    *error = "cannot write " + path + ": " + png.message;
    return false;
  }
  if (std::fclose(f.release()) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

bool ReadPng(const std::string &path, RgbImage *image, std::string *error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    *error = path + ": " + png.message;
    return false;
  }
  png.format = PNG_FORMAT_RGB;
  image->width = png.width;
  image->height = png.height;
  image->rgb.assign(PNG_IMAGE_SIZE(png), 0);
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&png, &white, image->rgb.data(), 0, nullptr)) {
    *error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}
