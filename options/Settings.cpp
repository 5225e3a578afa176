#include "Settings.h"

#include "Store.h"

int8_t ConversionMethod = 0;

// The low 8 bits are taken as they are, with no range check.
void LoadConversionMethod() {
  if (const std::optional<uint32_t> stored = tlp::store::LoadDword(tlp::store::kMethodValue))
    ConversionMethod = static_cast<int8_t>(*stored & 0xFF);
}

void SaveConversionMethod() {
  tlp::store::SaveDword(tlp::store::kMethodValue, static_cast<uint32_t>(static_cast<int32_t>(ConversionMethod)));
}

std::optional<int32_t> HostConversionCode(int8_t method) {
  static const int32_t kCodes[] = {2, 4, 6, 8, 9, 10};
  if (method < 0 || method > 5)
    return std::nullopt;
  return kCodes[method];
}
