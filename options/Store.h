// The plug-in's settings store: the DWORD values of its own key below the
// current user's hive. Windows keeps them in the registry; other systems in a
// text file of our own with the registry's rules (posix/Store.cpp). Failures
// are silent to the caller: a value that cannot be read is none, a save that
// fails leaves the store as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tlp::store {

// The plug-in's own key below the current user's hive.
inline constexpr char kSettingsKey[] = "Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga";
// The conversion method's value in it.
inline constexpr char kMethodValue[] = "TransformMethod";

// The 4-byte DWORD `name` of the key. None when the key or the value is
// missing, the value is of another type or size, or the user may not change
// the key (full access is asked for even to read). Creates nothing.
std::optional<uint32_t> LoadDword(const char *name);

// Writes `value` as the DWORD `name`, creating the key and every missing
// level of its path. False when nothing could be stored.
bool SaveDword(const char *name, uint32_t value);

// Where the key is kept, as a message names it.
std::string Where();

} // namespace tlp::store
