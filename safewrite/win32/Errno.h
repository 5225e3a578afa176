// The errno value (or kInUse) of a Windows error code, for messages in the
// C library's words: the safe write's and tga-host's alike.
#pragma once

#include "SafeWrite.h"

namespace safe_write {
inline namespace TLP_SAFE_WRITE_BUILD {

int ErrnoOf(unsigned long code);

} // namespace TLP_SAFE_WRITE_BUILD
} // namespace safe_write
