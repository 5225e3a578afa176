// The current user's registry hive, through its ANSI functions.
#include "Registry.h"

#include <windows.h>

namespace tlp::registry {

namespace {

HKEY Hkey(KeyHandle key) { return reinterpret_cast<HKEY>(key); }

} // namespace

bool OpenKey(const char *subKey, KeyHandle *key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS)
    return false;
  *key = reinterpret_cast<KeyHandle>(opened);
  return true;
}

bool CreateKey(const char *subKey, KeyHandle *key) {
  HKEY opened = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &opened, nullptr) != ERROR_SUCCESS)
    return false;
  *key = reinterpret_cast<KeyHandle>(opened);
  return true;
}

bool QueryValue(KeyHandle key, const char *name, uint32_t *type, uint8_t (&data)[4],
                uint32_t *size) {
  DWORD valueType = 0, valueSize = sizeof data;
  if (RegQueryValueExA(Hkey(key), name, nullptr, &valueType, data, &valueSize) != ERROR_SUCCESS)
    return false;
  *type = valueType;
  *size = valueSize;
  return true;
}

bool SetValue(KeyHandle key, const char *name, uint32_t type, const uint8_t *data,
              uint32_t size) {
  return RegSetValueExA(Hkey(key), name, 0, type, data, size) == ERROR_SUCCESS;
}

// The registry writes the key back in its own time; no flush is forced.
void CloseKey(KeyHandle key) { RegCloseKey(Hkey(key)); }

} // namespace tlp::registry
