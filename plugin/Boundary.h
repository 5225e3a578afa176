// Helpers shared by the exported entry points.
#pragma once

#include "Allocation.h"

#include <string>

namespace tlp {

// No exception of ours may cross an exported function: every entry point runs
// its body through this and answers `fallback` if anything is thrown. Host
// callbacks are called outside it: one that throws is not called again, and
// what it throws goes back to the host.
template <class R, class F> R Guarded(R fallback, F &&body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

template <class F> void Guarded(F &&body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// The host's path as the plug-in's own text: a null path is an empty name.
inline std::string PathText(const char *path) {
  allocation::MayThrow();
  return path ? std::string(path) : std::string();
}

} // namespace tlp
