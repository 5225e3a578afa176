// The current user's registry hive, through its ANSI functions.
#include "Store.h"

#include <windows.h>

namespace tlp::store {

std::optional<uint32_t> LoadDword(const char *name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return std::nullopt;
  // Data longer than the buffer fails the query; a shorter DWORD is as
  // unusable as a longer one.
  BYTE data[4] = {};
  DWORD type = 0, size = sizeof data;
  const LONG status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data)
    return std::nullopt;
  return data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
}

bool SaveDword(const char *name, uint32_t value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                        static_cast<BYTE>(value >> 24)};
  const LONG status = RegSetValueExA(key, name, 0, REG_DWORD, data, sizeof data);
  // The registry writes the key back in its own time; no flush is forced.
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

std::string Where() { return std::string("the registry key HKEY_CURRENT_USER\\") + kSettingsKey; }

} // namespace tlp::store
