// The five operations on the current user's registry hive that the setting
// needs. Windows implements them with the registry itself; other systems with
// a store of our own that follows the same rules. Every failure is a plain
// false: the caller decides what it means and reports nothing.
#pragma once

#include <cstdint>

namespace tlp::registry {

// Value types, numbered as the registry numbers them.
enum : uint32_t {
  kTypeString = 1,
  kTypeBinary = 3,
  kTypeDword = 4,
};

// An open key; an HKEY on Windows.
struct KeyData;
using KeyHandle = KeyData *;

// Opens an existing key below the hive with full access (read and write).
// Creates nothing; fails when the key is missing or full access is refused.
bool OpenKey(const char *subKey, KeyHandle *key);

// Opens a key below the hive with full access, creating it and every missing
// level of its path as persistent keys.
bool CreateKey(const char *subKey, KeyHandle *key);

// Reads one value into a 4-byte buffer and tells its type and its size in
// bytes. Fails when the value is missing or its data is longer than 4 bytes.
bool QueryValue(KeyHandle key, const char *name, uint32_t *type, uint8_t (&data)[4],
                uint32_t *size);

// Writes one value, replacing any value of that name.
bool SetValue(KeyHandle key, const char *name, uint32_t type, const uint8_t *data,
              uint32_t size);

// Closes a key opened by OpenKey or CreateKey.
void CloseKey(KeyHandle key);

// Owns an open key and closes it on every way out.
class Key {
public:
  Key() = default;
  ~Key() {
    if (handle_)
      CloseKey(handle_);
  }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;

  KeyHandle Get() const { return handle_; }
  // Where OpenKey or CreateKey puts a new handle; the key must be empty.
  KeyHandle *Receive() { return &handle_; }

private:
  KeyHandle handle_ = nullptr;
};

} // namespace tlp::registry
