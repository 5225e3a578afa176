#include "Settings.h"

#include "Registry.h"

int8_t ConversionMethod = 0;

namespace {

const char *const kKeyPath = kSettingsKey;
const char kValueName[] = "TransformMethod";

} // namespace

void LoadConversionMethod() {
  namespace reg = tlp::registry;
  reg::Key key;
  // Full access is asked for even to read: a key the user may only read
  // counts as missing.
  if (reg::OpenKey(kKeyPath, key.Receive()) != reg::kSuccess)
    return;
  uint32_t type = 0, size = 0;
  uint8_t data[4] = {};
  if (reg::QueryValue(key.Get(), kValueName, &type, data, &size) != reg::kSuccess)
    return;
  // A DWORD shorter than 4 bytes is as unusable as a longer one.
  if (type != reg::kTypeDword || size != sizeof data)
    return;
  // Registry DWORDs are little-endian: the first byte holds the low 8 bits,
  // taken as they are, with no range check.
  ConversionMethod = static_cast<int8_t>(data[0]);
}

void SaveConversionMethod() {
  namespace reg = tlp::registry;
  reg::Key key;
  // A key that can neither be opened nor created leaves nothing to write to.
  if (reg::CreateKey(kKeyPath, key.Receive()) != reg::kSuccess)
    return;
  const uint32_t value = static_cast<uint32_t>(static_cast<int32_t>(ConversionMethod));
  const uint8_t data[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  reg::SetValue(key.Get(), kValueName, reg::kTypeDword, data, sizeof data);
}

std::optional<int32_t> HostConversionCode(int8_t method) {
  static const int32_t kCodes[] = {2, 4, 6, 8, 9, 10};
  if (method < 0 || method > 5)
    return std::nullopt;
  return kCodes[method];
}
