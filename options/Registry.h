// The five operations on the current user's registry hive that the setting
// needs. Windows implements them with the registry itself; other systems with
// a store of our own that follows the same rules and answers with the same
// codes. The caller decides what a failure means and reports nothing.
#pragma once

#include <cstdint>
#if !defined(_WIN32)
#include <optional>
#include <string>
#endif

namespace tlp::registry {

// Value types, numbered as the registry numbers them.
enum : uint32_t {
  kTypeNone = 0,
  kTypeDword = 4,
};

// Results, numbered as the system numbers them (ERROR_...). Windows may
// answer with any of its codes; the store of our own answers with these.
using Status = int32_t;
enum : Status {
  kSuccess = 0,
  kFileNotFound = 2,  // FILE_NOT_FOUND: no such key or value
  kPathNotFound = 3,  // PATH_NOT_FOUND: no place for the store (no configuration folder)
  kAccessDenied = 5,  // ACCESS_DENIED: full access refused
  kNotSupported = 50, // NOT_SUPPORTED: a value the store does not keep
  kBadDb = 1009,      // BADDB: the store is not a file of its format
  kIoFailed = 1016,   // REGISTRY_IO_FAILED: reading or writing the store failed
  kKeyDeleted = 1018, // KEY_DELETED: the open key has been removed since
};

// An open key; an HKEY on Windows.
struct KeyData;
using KeyHandle = KeyData *;

// Opens an existing key below the hive with full access (read and write).
// Creates nothing; fails when the key is missing or full access is refused.
Status OpenKey(const char *subKey, KeyHandle *key);

// Opens a key below the hive with full access, creating it and every missing
// level of its path as persistent keys.
Status CreateKey(const char *subKey, KeyHandle *key);

// Reads one value into a 4-byte buffer and tells its type and its size in
// bytes. Fails when the value is missing or its data is longer than 4 bytes.
// The store of our own keeps DWORDs: any other value reads as kTypeNone.
Status QueryValue(KeyHandle key, const char *name, uint32_t *type, uint8_t (&data)[4],
                  uint32_t *size);

// Writes one value, replacing any value of that name. The store of our own
// takes only 4-byte DWORDs.
Status SetValue(KeyHandle key, const char *name, uint32_t type, const uint8_t *data,
                uint32_t size);

// Closes a key opened by OpenKey or CreateKey.
Status CloseKey(KeyHandle key);

#if !defined(_WIN32)
// The file of the store of our own, by the rule every call above uses; none
// when neither XDG_CONFIG_HOME nor HOME names a folder for it.
std::optional<std::string> StorePath();
#endif

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
