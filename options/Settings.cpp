#include "Settings.h"

int8_t ConversionMethod = 0;

void LoadConversionMethod() {}

void SaveConversionMethod() {}

std::optional<int32_t> HostConversionCode(int8_t method) {
  static const int32_t kCodes[] = {2, 4, 6, 8, 9, 10};
  if (method < 0 || method > 5)
    return std::nullopt;
  return kCodes[method];
}
