// The settings store where there is no registry, a .reg text file under the
// configuration folder, as the tests prepare and read it.
#pragma once

#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

inline std::string ConfigHome() { return std::getenv("XDG_CONFIG_HOME"); }
inline std::string StoreFolder() { return ConfigHome() + "/Tolva"; }
inline std::string StorePath() { return StoreFolder() + "/HKEY_CURRENT_USER.reg"; }

inline void WriteText(const std::string &path, const std::string &text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::optional<std::string> ReadText(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  if (!f)
    return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Removes the store and its folder, whatever rights a test left on them.
inline void ClearStore() {
  std::error_code ec;
  std::filesystem::permissions(ConfigHome(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::permissions(StoreFolder(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(StoreFolder(), ec);
}
