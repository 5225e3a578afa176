// The current user's registry hive, through its ANSI functions.
#include "Registry.h"

#include <windows.h>

namespace tlp::registry {

namespace {

HKEY Hkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

} // namespace

Status OpenKey(const char *subKey, KeyHandle *key) {
  HKEY opened = nullptr;
  LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_ALL_ACCESS, &opened);
  if (status == ERROR_SUCCESS)
    *key = reinterpret_cast<KeyHandle>(opened);
  return status;
}

Status CreateKey(const char *subKey, KeyHandle *key) {
  HKEY opened = nullptr;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &opened, nullptr);
  if (status == ERROR_SUCCESS)
    *key = reinterpret_cast<KeyHandle>(opened);
  return status;
}

Status QueryValue(KeyHandle key, const char *name, uint32_t *type, uint8_t (&data)[4],
                  uint32_t *size) {
  DWORD valueType = 0, valueSize = sizeof data;
  LONG status = RegQueryValueExA(Hkey(key), name, nullptr, &valueType, data, &valueSize);
  if (status == ERROR_SUCCESS) {
    *type = valueType;
    *size = valueSize;
  }
  return status;
}

Status SetValue(KeyHandle key, const char *name, uint32_t type, const uint8_t *data,
                uint32_t size) {
  return RegSetValueExA(Hkey(key), name, 0, type, data, size);
}

// The registry writes the key back in its own time; no flush is forced.
Status CloseKey(KeyHandle key) { return RegCloseKey(Hkey(key)); }

} // namespace tlp::registry
